// The Linux port listing over a fake /sys/class/tty and /dev: what counts as a real
// port, names and paths, what the system knows of each (USB identity, location, bus),
// extra ports, and that listing never opens a device.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "KordelSim.h"
#include "PortList.h"
#include "TempDir.h"
#include "UniqueFd.h"

namespace kordel {
namespace {

namespace fs = std::filesystem;

// A fake /sys/class/tty and /dev, built in a temporary folder.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("kordel-sysfs-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "class/tty");
        source.sysfsTtyRoot = (root / "class/tty").string();
        source.devDir = "/dev";
        source.extraPorts = "";
    }
    void TearDown() override { fs::remove_all(root); }

    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }

    // A tty with a device behind it, bound to `driver`; returns the device folder.
    fs::path AddTty(const std::string& name, const std::string& driver, const fs::path& deviceDir) {
        fs::create_directories(deviceDir);
        fs::create_directories(root / "bus/drivers" / driver);
        fs::create_directory_symlink(root / "bus/drivers" / driver, deviceDir / "driver");
        fs::create_directories(root / "class/tty" / name);
        fs::create_directory_symlink(deviceDir, root / "class/tty" / name / "device");
        return deviceDir;
    }

    // The device on the bus `bus` (its "subsystem" link, as sysfs has one in every device).
    void OnBus(const fs::path& deviceDir, const std::string& bus) {
        fs::create_directories(deviceDir);
        fs::create_directories(root / "bus" / bus);
        if (!fs::is_symlink(deviceDir / "subsystem")) {
            fs::create_directory_symlink(root / "bus" / bus, deviceDir / "subsystem");
        }
    }

    // A USB device at `location` under the first root hub, as the kernel lays it out:
    // .../usb1/1-1/1-1.4 with its ids and strings; returns its folder.
    fs::path AddUsbDevice(const std::string& location, const std::string& vendor,
                          const std::string& product, const std::string& serial) {
        fs::path dir = root / "devices/pci0000:00/0000:00:14.0/usb1";
        OnBus(dir, "usb");
        Write(dir / "idVendor", "1d6b");  // the root hub
        // Each hub on the way: "1-1", then "1-1.4".
        std::string hop = location.substr(0, location.find('.'));
        dir /= hop;
        for (std::size_t dot = location.find('.'); dot != std::string::npos;
             dot = location.find('.', dot + 1)) {
            OnBus(dir, "usb");
            Write(dir / "idVendor", "05e3");
            dir /= location.substr(0, location.find('.', dot + 1));
        }
        OnBus(dir, "usb");
        Write(dir / "idVendor", vendor);
        Write(dir / "idProduct", product);
        if (!serial.empty()) Write(dir / "serial", serial);
        Write(dir / "manufacturer", "Acme");
        Write(dir / "product", "Serial " + product);
        return dir;
    }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        ListComPorts(names, source);
        return names;
    }

    static std::vector<std::string> NamesOf(const std::vector<TPortEntry>& entries) {
        std::vector<std::string> names;
        for (const auto& e : entries) names.push_back(e.Name);
        return names;
    }

    const TPortEntry& Port(const std::vector<TPortEntry>& entries, const std::string& name) {
        for (const auto& e : entries) {
            if (e.Name == name) return e;
        }
        ADD_FAILURE() << name << " is not listed";
        static const TPortEntry none;
        return none;
    }

    fs::path root;
    TPortListSource source;
};

TEST_F(FakeSysfs, ListsRealDevicesWithUsbDetailsAndSkipsTheRest) {
    const fs::path usb = root / "devices/usb1/1-1";
    fs::create_directories(usb);
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    Write(usb / "manufacturer", "Acme");
    Write(usb / "product", "USB Serial");
    Write(usb / "serial", "A1B2C3");
    AddTty("ttyUSB0", "ftdi_sio", usb / "1-1:1.0/ttyUSB0");
    AddTty("ttyACM10", "cdc_acm", root / "devices/usb1/1-2/1-2:1.0");
    AddTty("ttyACM2", "cdc_acm", root / "devices/usb1/1-3/1-3:1.0");
    // Legacy ports: the UART type the driver found, 0 for a placeholder.
    AddTty("ttyS0", "serial8250", root / "devices/platform/serial8250/ttyS0");
    Write(root / "class/tty/ttyS0/type", "4");
    AddTty("ttyS1", "serial8250", root / "devices/platform/serial8250/ttyS1");
    Write(root / "class/tty/ttyS1/type", "0");
    // Newer kernels: the serial core's port device, its UART type beside the tty.
    const fs::path pnp = root / "devices/pnp0/00:00";
    AddTty("ttyS4", "serial", pnp);
    fs::rename(pnp / "driver", pnp / "driver.real");
    fs::create_directories(pnp / "00:00:0/00:00:0.0");
    fs::create_directories(root / "bus/serial-base/drivers/port");
    fs::create_directory_symlink(root / "bus/serial-base/drivers/port",
                                 pnp / "00:00:0/00:00:0.0/driver");
    fs::create_directory_symlink(root / "bus/drivers/serial", pnp / "driver");
    fs::remove(root / "class/tty/ttyS4/device");
    fs::create_directory_symlink(pnp / "00:00:0/00:00:0.0", root / "class/tty/ttyS4/device");
    Write(root / "class/tty/ttyS4/type", "4");
    AddTty("ttyS5", "port", root / "devices/pnp0/00:01");
    Write(root / "class/tty/ttyS5/type", "0");
    fs::create_directories(root / "class/tty/tty0");  // virtual console: no device
    fs::create_directories(root / "class/tty/ptmx");

    auto entries = ListPortEntries(source);
    ASSERT_TRUE(entries);
    EXPECT_EQ(NamesOf(*entries),
              (std::vector<std::string>{"ttyACM10", "ttyACM2", "ttyS0", "ttyS4", "ttyUSB0"}))
        << "alphabetical before the natural sort";
    const auto& ftdi = entries->back();
    EXPECT_EQ(ftdi.Path, "/dev/ttyUSB0");
    EXPECT_EQ(ftdi.Identity.Kind, "usb");
    EXPECT_EQ(ftdi.Identity.VendorId, "0403");
    EXPECT_EQ(ftdi.Identity.ProductId, "6001");
    EXPECT_EQ(ftdi.Identity.SerialNumber, "A1B2C3");
    EXPECT_EQ(ftdi.Identity.Driver, "ftdi_sio");
    EXPECT_EQ(ftdi.Description, "Acme USB Serial");
    EXPECT_EQ((*entries)[2].Description, "(serial8250)");
    EXPECT_EQ((*entries)[3].Identity.Driver, "serial") << "past the serial core's own port device";

    TPortSelector selector;
    RefreshPortList(selector, "/dev/TTYACM10", source);
    EXPECT_EQ(NamesOf(selector.Items),
              (std::vector<std::string>{"ttyACM2", "ttyACM10", "ttyS0", "ttyS4", "ttyUSB0"}));
    EXPECT_EQ(selector.Text(), "ttyACM10") << "a full path saved by an earlier version";
    EXPECT_EQ(selector.Selected()->Path, "/dev/ttyACM10");
}

// Each USB port carries its device's ids, strings and place of hub ports; a port on
// another bus carries that bus; uppercase hex whatever sysfs writes.
TEST_F(FakeSysfs, UsbPortsCarryTheirIdentityAndLocation) {
    const fs::path ftdi = AddUsbDevice("1-1.4", "0403", "6001", "A1B2C3");
    AddTty("ttyUSB0", "ftdi_sio", ftdi / "1-1.4:1.0/ttyUSB0");
    const fs::path ftdi2 = AddUsbDevice("1-1.3", "0403", "6001", "D4E5F6");
    AddTty("ttyUSB1", "ftdi_sio", ftdi2 / "1-1.3:1.0/ttyUSB1");
    // CDC-ACM: the tty's device is the USB interface itself; this one has no serial.
    const fs::path acm = AddUsbDevice("1-1.2.3", "2341", "0043", "");
    AddTty("ttyACM0", "cdc_acm", acm / "1-1.2.3:1.0");
    const fs::path pl2303 = AddUsbDevice("1-2", "067b", "23a3", "");
    AddTty("ttyUSB2", "pl2303", pl2303 / "1-2:1.0/ttyUSB2");
    const fs::path uart = root / "devices/platform/serial8250";
    OnBus(uart, "platform");
    AddTty("ttyS0", "serial8250", uart / "serial8250:0/serial8250:0.0");
    OnBus(uart / "serial8250:0", "serial-base");
    OnBus(uart / "serial8250:0/serial8250:0.0", "serial-base");
    Write(root / "class/tty/ttyS0/type", "4");
    AddTty("ttyS1", "serial", root / "devices/nowhere/ttyS1");  // no bus said anywhere
    Write(root / "class/tty/ttyS1/type", "4");

    auto entries = ListPortEntries(source);
    ASSERT_TRUE(entries);
    const struct {
        const char* name;
        const char* kind;
        const char* vendor;
        const char* product;
        const char* serial;
        const char* location;
    } expected[] = {
        {"ttyUSB0", "usb", "0403", "6001", "A1B2C3", "1-1.4"},
        {"ttyUSB1", "usb", "0403", "6001", "D4E5F6", "1-1.3"},
        {"ttyACM0", "usb", "2341", "0043", "", "1-1.2.3"},
        {"ttyUSB2", "usb", "067B", "23A3", "", "1-2"},
        {"ttyS0", "platform", "", "", "", ""},
        {"ttyS1", "serial", "", "", "", ""},
    };
    for (const auto& e : expected) {
        const TPortIdentity& id = Port(*entries, e.name).Identity;
        EXPECT_EQ(id.Kind, e.kind) << e.name;
        EXPECT_EQ(id.IsUsb(), std::string(e.kind) == "usb") << e.name;
        EXPECT_EQ(id.VendorId, e.vendor) << e.name;
        EXPECT_EQ(id.ProductId, e.product) << e.name;
        EXPECT_EQ(id.SerialNumber, e.serial) << e.name;
        EXPECT_EQ(id.Location, e.location) << e.name;
        EXPECT_EQ(id.LocationPath, "") << e.name;
    }
    EXPECT_EQ(Port(*entries, "ttyUSB0").Identity.Manufacturer, "Acme");
    EXPECT_EQ(Port(*entries, "ttyUSB0").Identity.Product, "Serial 6001");
    EXPECT_EQ(Port(*entries, "ttyUSB0").Description, "Acme Serial 6001");

    // The same listing answers the command line's choices.
    const struct {
        const char* argument;
        std::vector<std::string> chosen;
    } choices[] = {
        {"location:1-1.3", {"/dev/ttyUSB1"}},
        {"location:1-1.2.3", {"/dev/ttyACM0"}},
        {"serial:a1b2c3", {"/dev/ttyUSB0"}},
        {"usb:067b:23a3", {"/dev/ttyUSB2"}},
        {"usb:0403:6001", {}},  // two adapters: an error without --all
        {"/dev/ttyUSB*", {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}},
        {"ttyS0", {"/dev/ttyS0"}},
    };
    for (const auto& c : choices) {
        std::vector<std::string> chosen;
        for (const auto& p : ResolvePortArgument(c.argument, *entries, false).Ports) {
            chosen.push_back(PortToOpen(p));
        }
        std::sort(chosen.begin(), chosen.end());
        EXPECT_EQ(chosen, c.chosen) << c.argument;
    }
}

// Attributes are read with a bound and without waiting: a huge one is cut, a FIFO
// planted in the tree does not hold the listing up.
TEST_F(FakeSysfs, AttributesAreReadWithABound) {
    const fs::path usb = AddUsbDevice("1-1", "0403", "6001", "");
    Write(usb / "product", std::string(100000, 'p'));
    ASSERT_EQ(::mkfifo((usb / "serial").c_str(), 0600), 0);
    AddTty("ttyUSB0", "ftdi_sio", usb / "1-1:1.0/ttyUSB0");
    auto entries = ListPortEntries(source);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].Identity.Product, std::string(256, 'p'));
    EXPECT_EQ((*entries)[0].Identity.SerialNumber, "");
    EXPECT_EQ((*entries)[0].Identity.VendorId, "0403");
}

// An extra port's name is its path inside the device folder, or the whole path
// elsewhere; a pseudo-terminal is told by its device number.
TEST_F(FakeSysfs, ExtraPortsAreNamedByTheirPathAndPtysKnown) {
    sim::KordelSim module;
    kordel::testing::TempDir dir;
    const std::string plain = (dir.Path() / "ttySIM").string();
    Write(plain, "");
    source.extraPorts = module.SlavePath() + ":" + plain + ":" + (dir.Path() / "gone").string();
    auto entries = ListPortEntries(source);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 3u);
    const std::string pts = module.SlavePath().substr(std::string("/dev/").size());
    const TPortEntry& sim = Port(*entries, pts);
    EXPECT_EQ(sim.Path, module.SlavePath());
    EXPECT_EQ(sim.Identity.Kind, "pty");
    EXPECT_EQ(Port(*entries, plain).Path, plain);
    EXPECT_EQ(Port(*entries, plain).Identity.Kind, "");
    EXPECT_EQ(Port(*entries, (dir.Path() / "gone").string()).Identity.Kind, "");
}

// Listing reads sysfs only: no device is opened, not even a legacy port whose UART type
// the kernel does not tell. Such a port is listed.
TEST_F(FakeSysfs, ListingNeverOpensADevice) {
    const fs::path dev = root / "dev";
    fs::create_directories(dev);
    source.devDir = dev.string();
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyUSB0"}) Write(dev / name, "");
    AddTty("ttyS0", "serial8250", root / "devices/platform/serial8250/ttyS0");
    Write(root / "class/tty/ttyS0/type", "4");
    AddTty("ttyS1", "serial8250", root / "devices/platform/serial8250/ttyS1");
    Write(root / "class/tty/ttyS1/type", "0");
    AddTty("ttyS2", "serial8250", root / "devices/platform/serial8250/ttyS2");  // no type
    AddTty("ttyUSB0", "ftdi_sio", root / "devices/usb1/1-1/1-1:1.0/ttyUSB0");

    UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watch);
    ASSERT_GE(::inotify_add_watch(watch.get(), dev.c_str(), IN_OPEN), 0);
    auto entries = ListPortEntries(source);
    ASSERT_TRUE(entries);
    EXPECT_EQ(NamesOf(*entries), (std::vector<std::string>{"ttyS0", "ttyS2", "ttyUSB0"}));
    EXPECT_EQ(entries->back().Path, (dev / "ttyUSB0").string());
    char events[1024];
    EXPECT_LT(::read(watch.get(), events, sizeof events), 0) << "a device was opened";
}

// The same rule holds for the Linux listing (enumerated by name) and the extra names.
TEST_F(FakeSysfs, OverlongNameEndsEachListing) {
    const std::string longName = "ttyM" + std::string(124, 'x');  // 128
    AddTty("ttyA0", "cdc_acm", root / "devices/usb1/1-1/1-1:1.0");
    AddTty(longName, "cdc_acm", root / "devices/usb1/1-2/1-2:1.0");
    AddTty("ttyZ0", "cdc_acm", root / "devices/usb1/1-3/1-3:1.0");
    source.extraPorts = "COM1:" + std::string(128, 'C') + ":COM2";
    EXPECT_EQ(Names(), (std::vector<std::string>{"COM1", "ttyA0"}));
    source.extraPorts = std::string(127, 'C');
    EXPECT_EQ(Names().front(), std::string(127, 'C')) << "127 characters are listed";
    fs::remove_all(root / "class/tty" / longName);
    AddTty("ttyM" + std::string(123, 'x'), "cdc_acm", root / "devices/usb1/1-4/1-4:1.0");
    EXPECT_EQ(Names().size(), 4u) << "a name of 127 characters, its path longer";
}

TEST_F(FakeSysfs, ExtraPortsJoinTheListAndDuplicatesStay) {
    source.extraPorts = "COM10::COM2:COM1:COM3:COM3";
    EXPECT_EQ(Names(), (std::vector<std::string>{"COM1", "COM10", "COM2", "COM3", "COM3"}));
    TPortSelector selector;
    RefreshPortList(selector, "com3", source);
    EXPECT_EQ(NamesOf(selector.Items),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM3", "COM10"}));
    EXPECT_EQ(selector.ItemIndex, 2);
}

TEST_F(FakeSysfs, ExtraPortsComeFromTheEnvironmentByDefault) {
    source.extraPorts.reset();
    ::setenv("KORDEL_EXTRA_PORTS", "/tmp/kordel-a:/tmp/kordel-b", 1);
    const auto names = Names();
    ::unsetenv("KORDEL_EXTRA_PORTS");
    EXPECT_EQ(names, (std::vector<std::string>{"/tmp/kordel-a", "/tmp/kordel-b"}));
}

TEST_F(FakeSysfs, RefreshSelectsTheRememberedPortElseTheFirst) {
    source.extraPorts = "COM1:COM2:COM10:COM3";
    TPortSelector selector;
    RefreshPortList(selector, "COM3", source);
    EXPECT_EQ(selector.Text(), "COM3");
    RefreshPortList(selector, "COM7", source);
    EXPECT_EQ(selector.Text(), "COM1");
    RefreshPortList(selector, "", source);
    EXPECT_EQ(selector.ItemIndex, 0);
}

TEST_F(FakeSysfs, EmptyPlatformListEmptiesTheSelector) {
    TPortSelector selector{{EntryForDevice("COM1")}, 0};
    RefreshPortList(selector, "COM1", source);
    EXPECT_TRUE(selector.Items.empty());
    EXPECT_EQ(selector.ItemIndex, -1);
    EXPECT_EQ(selector.Text(), "");
}

TEST_F(FakeSysfs, UnreadableListLeavesThePortsAsTheyWere) {
    source.sysfsTtyRoot = (root / "missing").string();
    std::vector<std::string> ports = {"COM4"};
    ListComPorts(ports, source);
    EXPECT_EQ(ports, (std::vector<std::string>{"COM4"}));
    TPortSelector selector;
    RefreshPortList(selector, "COM4", source);
    EXPECT_TRUE(selector.Items.empty()) << "first show: still empty";
    EXPECT_EQ(selector.Text(), "");
}

}  // namespace
}  // namespace kordel

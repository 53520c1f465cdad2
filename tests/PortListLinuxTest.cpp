// The Linux port listing over a fake /sys/class/tty and /dev: what counts as a real
// port, USB details, extra names, and that listing never opens a device.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "PortList.h"
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

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        ListComPorts(names, source);
        return names;
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

    auto infos = ListPortInfos(source);
    ASSERT_TRUE(infos);
    std::vector<std::string> names;
    for (const auto& i : *infos) names.push_back(i.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"/dev/ttyACM10", "/dev/ttyACM2", "/dev/ttyS0",
                                               "/dev/ttyS4", "/dev/ttyUSB0"}))
        << "alphabetical before the natural sort";
    const auto& ftdi = infos->back();
    EXPECT_EQ(ftdi.UsbVendorId, "0403");
    EXPECT_EQ(ftdi.UsbProductId, "6001");
    EXPECT_EQ(ftdi.Driver, "ftdi_sio");
    EXPECT_EQ(ftdi.Description(), "[0403:6001] Acme USB Serial S/N A1B2C3");
    EXPECT_EQ((*infos)[2].Description(), "(serial8250)");
    EXPECT_EQ((*infos)[3].Driver, "serial") << "past the serial core's own port device";

    TPortSelector selector;
    RefreshPortList(selector, "/dev/TTYACM10", source);
    EXPECT_EQ(selector.Items,
              (std::vector<std::string>{"/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyS0", "/dev/ttyS4",
                                        "/dev/ttyUSB0"}));
    EXPECT_EQ(selector.Text(), "/dev/ttyACM10");
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
    EXPECT_EQ(Names(), (std::vector<std::string>{(dev / "ttyS0").string(), (dev / "ttyS2").string(),
                                                 (dev / "ttyUSB0").string()}));
    char events[1024];
    EXPECT_LT(::read(watch.get(), events, sizeof events), 0) << "a device was opened";
}

// The same rule holds for the Linux listing (enumerated by name) and the extra names.
TEST_F(FakeSysfs, OverlongNameEndsEachListing) {
    const std::string longName = "ttyM" + std::string(123, 'x');  // "/dev/" + 127 = 132
    AddTty("ttyA0", "cdc_acm", root / "devices/usb1/1-1/1-1:1.0");
    AddTty(longName, "cdc_acm", root / "devices/usb1/1-2/1-2:1.0");
    AddTty("ttyZ0", "cdc_acm", root / "devices/usb1/1-3/1-3:1.0");
    source.extraPorts = "COM1:" + std::string(128, 'C') + ":COM2";
    EXPECT_EQ(Names(), (std::vector<std::string>{"/dev/ttyA0", "COM1"}));
    source.extraPorts = std::string(127, 'C');
    EXPECT_EQ(Names().back(), std::string(127, 'C')) << "127 characters are listed";
}

TEST_F(FakeSysfs, ExtraPortsJoinTheListAndDuplicatesStay) {
    source.extraPorts = "COM10::COM2:COM1:COM3:COM3";
    EXPECT_EQ(Names(), (std::vector<std::string>{"COM1", "COM10", "COM2", "COM3", "COM3"}));
    TPortSelector selector;
    RefreshPortList(selector, "com3", source);
    EXPECT_EQ(selector.Items, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM3", "COM10"}));
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
    TPortSelector selector{{"COM1"}, 0};
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

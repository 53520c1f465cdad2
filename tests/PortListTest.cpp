#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <filesystem>
#include <fstream>

#include "PortList.h"
#include "UniqueFd.h"

namespace kordel {
namespace {

namespace fs = std::filesystem;

struct NatCase {
    const char* a;
    const char* b;
    int insensitive;
    int sensitive;
};

class NatCompareTest : public ::testing::TestWithParam<NatCase> {};

TEST_P(NatCompareTest, OrdersNaturally) {
    const auto& c = GetParam();
    EXPECT_EQ(NatCompare(c.a, c.b, false), c.insensitive) << c.a << " vs " << c.b;
    EXPECT_EQ(NatCompare(c.b, c.a, false), -c.insensitive) << c.b << " vs " << c.a;
    EXPECT_EQ(NatCompare(c.a, c.b, true), c.sensitive) << c.a << " vs " << c.b << " (case)";
}

INSTANTIATE_TEST_SUITE_P(
    Table, NatCompareTest,
    ::testing::Values(NatCase{"COM9", "COM10", -1, -1}, NatCase{"COM10", "COM11", -1, -1},
                      NatCase{"COM02", "COM1", -1, -1}, NatCase{"COM01", "COM001", 1, 1},
                      NatCase{"COM10", "COM010", 1, 1}, NatCase{"COM1.5", "COM1.10", -1, -1},
                      NatCase{"com3", "COM3", 0, 1}, NatCase{"COM 3", "COM3", 0, 0},
                      NatCase{"COM", "COM1", -1, -1}, NatCase{"COM1", "COMA", -1, -1},
                      NatCase{"COM_1", "COMa1", 1, -1}, NatCase{"", "", 0, 0},
                      NatCase{"COM19", "COM21", -1, -1},
                      NatCase{"/dev/ttyUSB2", "/dev/ttyUSB10", -1, -1},
                      NatCase{"/dev/ttyACM0", "/dev/ttyUSB0", -1, -1}));

TEST(DigitRunTest, CompareRightLooksAtLengthOnly) {
    EXPECT_EQ(CompareRight("9", "10"), -1);
    EXPECT_EQ(CompareRight("19", "21"), 0);
    EXPECT_EQ(CompareRight("123x", "99"), 1);
    EXPECT_EQ(CompareLeft("01", "001"), 1);
    EXPECT_EQ(CompareLeft("05", "05"), 0);
    EXPECT_EQ(CompareLeft("0", "01"), -1);
}

struct SortCase {
    std::vector<std::string> input;
    std::vector<std::string> sorted;
};

class SortPortListTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortPortListTest, SortsIntoNaturalOrder) {
    auto items = GetParam().input;
    SortPortList(items);
    EXPECT_EQ(items, GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(Lists, SortPortListTest,
                         ::testing::Values(SortCase{{"COM10", "COM9", "COM100", "COM11", "COM2"},
                                                    {"COM2", "COM9", "COM10", "COM11", "COM100"}},
                                           SortCase{{"COM3", "COM01", "COM1", "COM02", "COM010"},
                                                    {"COM01", "COM010", "COM02", "COM1", "COM3"}},
                                           SortCase{{"COM12", "COM3", "CNCA0", "CNCB0", "COM4"},
                                                    {"CNCA0", "CNCB0", "COM3", "COM4", "COM12"}},
                                           SortCase{{"COM1", "COM10", "COM2", "COM3"},
                                                    {"COM1", "COM2", "COM3", "COM10"}},
                                           SortCase{{}, {}}, SortCase{{"X"}, {"X"}},
                                           SortCase{{"B", "A", "A", "C", "A"},
                                                    {"A", "A", "A", "B", "C"}}));

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

struct OverlongCase {
    std::vector<std::size_t> nameLengths;  // in enumeration order
    std::size_t listed;                     // how many stay
};

class OverlongNameTest : public ::testing::TestWithParam<OverlongCase> {};

TEST_P(OverlongNameTest, EndsTheListingAtTheFirstOverlongName) {
    std::vector<TPortInfo> listing;
    for (std::size_t i = 0; i < GetParam().nameLengths.size(); ++i) {
        TPortInfo info;
        info.Name = std::string(GetParam().nameLengths[i], static_cast<char>('A' + i));
        listing.push_back(info);
    }
    EndListingAtOverlongName(listing);
    ASSERT_EQ(listing.size(), GetParam().listed);
    for (std::size_t i = 0; i < listing.size(); ++i) {
        EXPECT_EQ(listing[i].Name.size(), GetParam().nameLengths[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OverlongNameTest,
                         ::testing::Values(OverlongCase{{4, 127, 5}, 3}, OverlongCase{{4, 128, 5}, 1},
                                           OverlongCase{{200}, 0}, OverlongCase{{}, 0},
                                           OverlongCase{{127, 127, 300, 4, 128}, 2}));

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

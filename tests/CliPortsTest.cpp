// kordel-flash's ports: --list with names, paths and what the system knows of each,
// and --port by name, path, glob and identity, with strict choice.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "JsonCheck.h"
#include "KordelSim.h"
#include "PortListing.h"
#include "RunProgram.h"
#include "TempDir.h"

namespace kordel {
namespace {

using Result = testing::ProgramRun;

Result RunFlash(const std::vector<std::string>& args, const std::string& extraPorts) {
    testing::ProgramOptions options;
    options.environment = {"KORDEL_EXTRA_PORTS=" + extraPorts};
    return testing::RunProgram(KORDEL_FLASH, args, options);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

TPortEntry Entry(const char* name, const char* description, const char* kind, const char* driver) {
    TPortEntry e;
    e.Name = name;
    e.Path = std::string("/dev/") + name;
    e.Description = description;
    e.Identity.Kind = kind;
    e.Identity.Driver = driver;
    return e;
}

TPortEntry UsbEntry() {
    TPortEntry e = Entry("ttyUSB0", "Acme USB Serial", "usb", "ftdi_sio");
    e.Identity.VendorId = "0403";
    e.Identity.ProductId = "6001";
    e.Identity.SerialNumber = "A1B2C3";
    e.Identity.Manufacturer = "Acme";
    e.Identity.Product = "USB Serial";
    e.Identity.Location = "1-1.4";
    return e;
}

TPortEntry LegacyEntry() {
    return Entry("ttyS0", "(serial8250)", "platform", "serial8250");
}

// Each line: name, path, the --port arguments that pick the port (or its kind), and
// the description, in columns.
TEST(CliPortListTest, TextShowsNamePathIdentityInColumns) {
    TPortEntry bare;
    bare.Name = bare.Path = "/tmp/ttySIM";
    EXPECT_EQ(cli::PortListText({LegacyEntry(), UsbEntry(), bare}),
              "ttyS0        /dev/ttyS0    platform" + std::string(36, ' ') + "(serial8250)\n" +
                  "ttyUSB0      /dev/ttyUSB0  usb:0403:6001 serial:A1B2C3 location:1-1.4  Acme USB "
                  "Serial\n"
                  "/tmp/ttySIM  /tmp/ttySIM\n");
    EXPECT_EQ(cli::PortListText({}), "No serial ports found.\n");
    TPortEntry windows = UsbEntry();
    windows.Identity.Location = "Port_#0004.Hub_#0003";
    windows.Identity.LocationPath = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)";
    EXPECT_EQ(cli::IdentityText(windows.Identity),
              "usb:0403:6001 serial:A1B2C3 location:Port_#0004.Hub_#0003 "
              "location:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)");
    // Outside text never reaches the terminal as control characters.
    TPortEntry hostile = UsbEntry();
    hostile.Identity.SerialNumber = "\x1b[2J";
    EXPECT_EQ(cli::PortListText({hostile}).find('\x1b'), std::string::npos);
}

TEST(CliPortListTest, JsonCarriesEveryFieldNullWhereUnknown) {
    const std::string json = cli::PortListJson({UsbEntry(), LegacyEntry()});
    EXPECT_EQ(testing::JsonCheck::Problem(json.substr(0, json.size() - 1)), "") << json;
    EXPECT_EQ(json,
              "{\"event\":\"ports\",\"ports\":["
              "{\"name\":\"ttyUSB0\",\"path\":\"/dev/ttyUSB0\",\"description\":\"Acme USB "
              "Serial\",\"kind\":\"usb\",\"vendor_id\":\"0403\",\"product_id\":\"6001\","
              "\"serial_number\":\"A1B2C3\",\"manufacturer\":\"Acme\",\"product\":\"USB Serial\","
              "\"location\":\"1-1.4\",\"location_path\":null,\"driver\":\"ftdi_sio\"},"
              "{\"name\":\"ttyS0\",\"path\":\"/dev/ttyS0\",\"description\":\"(serial8250)\","
              "\"kind\":\"platform\",\"vendor_id\":null,\"product_id\":null,\"serial_number\":null,"
              "\"manufacturer\":null,\"product\":null,\"location\":null,\"location_path\":null,"
              "\"driver\":\"serial8250\"}]}\n");
}

TEST(CliPortChoiceTest, EachDeviceOnceInTheOrderOfTheArguments) {
    const std::vector<TPortEntry> listing = {LegacyEntry(), UsbEntry()};
    const auto both = cli::ChoosePorts({"usb:0403:6001", "ttyS0", "/dev/ttyUSB0"}, false, listing);
    EXPECT_EQ(both.error, "");
    EXPECT_EQ(both.ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyS0"}));
    ASSERT_EQ(both.entries.size(), 2u);
    EXPECT_EQ(both.entries[0].Identity.SerialNumber, "A1B2C3");
    EXPECT_EQ(both.entries[1].Name, "ttyS0");
    const auto bad = cli::ChoosePorts({"ttyS0", "serial:X"}, false, listing);
    EXPECT_TRUE(bad.ports.empty());
    EXPECT_NE(bad.error.find("no serial port matches 'serial:X'"), std::string::npos);
}

// Simulated modules linked into a folder of their own, and named as extra ports.
class CliPortsTest : public ::testing::Test {
  protected:
    std::string Add(const std::string& name) {
        sim::SimOptions options;
        options.linkPath = (dir.Path() / name).string();
        modules.push_back(std::make_unique<sim::KordelSim>(options));
        extra += (extra.empty() ? "" : ":") + options.linkPath;
        return options.linkPath;
    }
    std::string In(const std::string& name) const { return (dir.Path() / name).string(); }

    testing::TempDir dir;
    std::vector<std::unique_ptr<sim::KordelSim>> modules;
    std::string extra;
};

// The window shows a terminal in /dev as pts/N: kordel-flash takes that name.
TEST_F(CliPortsTest, TakesTheNameTheWindowShows) {
    sim::KordelSim module;
    const std::string shown = module.SlavePath().substr(std::string("/dev/").size());
    const Result list = RunFlash({"--list"}, module.SlavePath());
    EXPECT_NE(list.out.find(shown + "  " + module.SlavePath() + "  pty\n"), std::string::npos)
        << list.out;
    const Result r = RunFlash({"--port", shown}, module.SlavePath());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Update OK"), std::string::npos) << r.out;
    EXPECT_EQ(module.Flash().size(), 31u * 256);
    // A bare name that no port has is refused before anything is opened.
    const Result missing = RunFlash({"--port", "ttyKORDEL9"}, module.SlavePath());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no serial port named 'ttyKORDEL9'"), std::string::npos)
        << missing.err;
}

TEST_F(CliPortsTest, GlobTakesEveryMatch) {
    Add("simA");
    Add("simB");
    Add("other");
    const Result r = RunFlash({"--quiet", "--port", In("sim*")}, extra);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Count(r.out, "Update OK"), 2u) << r.out;
    EXPECT_EQ(modules[0]->Flash().size(), 31u * 256);
    EXPECT_EQ(modules[1]->Flash().size(), 31u * 256);
    EXPECT_TRUE(modules[2]->Flash().empty());
    const Result none = RunFlash({"--port", In("none*")}, extra);
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("no serial port matches '" + In("none*") + "'"), std::string::npos)
        << none.err;
}

// A text that names several ports is an error that lists them, unless --all.
TEST_F(CliPortsTest, SeveralMatchesNeedAll) {
    Add("simA");
    Add("SIMA");
    const Result several = RunFlash({"--port", In("sima")}, extra);
    EXPECT_EQ(several.exitCode, 2);
    EXPECT_NE(several.err.find("matches 2 ports: "), std::string::npos) << several.err;
    EXPECT_NE(several.err.find(In("SIMA")), std::string::npos) << several.err;
    EXPECT_NE(several.err.find(In("simA")), std::string::npos) << several.err;
    EXPECT_TRUE(modules[0]->Flash().empty());
    const Result all = RunFlash({"--quiet", "--all", "--port", In("sima")}, extra);
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(Count(all.out, "Update OK"), 2u) << all.out;
}

TEST(CliPortUsageTest, BadPatternsAreUsageErrors) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--port", "usb:FFFF:FFFE"}, "no serial port matches 'usb:FFFF:FFFE'"},
        {{"--port", "usb:12"}, "four hex digits"},
        {{"--port", "serial:"}, "serial: needs a serial number"},
        {{"--port", "location:"}, "location: needs a location"},
        {{"--all", "--sim"}, "--all needs --port"},
    };
    for (const auto& c : cases) {
        const Result r = RunFlash(c.args, "");
        EXPECT_EQ(r.exitCode, 2) << c.args[1];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace kordel

#include <gtest/gtest.h>

#include "PortList.h"

namespace kordel {
namespace {

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
                      NatCase{"/dev/ttyACM0", "/dev/ttyUSB0", -1, -1},
                      // Letter case: a to z become A to Z, and nothing else changes.
                      NatCase{"coma", "COMA", 0, 1}, NatCase{"comz", "COMZ", 0, 1},
                      NatCase{"COM`", "COM@", 1, 1}, NatCase{"COM{", "COM[", 1, 1},
                      NatCase{"COMa", "COM_", -1, 1}, NatCase{"COMz", "COM^", -1, 1},
                      // White space is 1 to 32, skipped in each text on its own.
                      NatCase{"COM\t1", "COM1", 0, 0}, NatCase{"CO M 1 ", "COM1", 0, 0},
                      NatCase{"COM!1", "COM1", -1, -1},
                      // A leading zero on either side makes the runs left-aligned.
                      NatCase{"COM2", "COM05", 1, 1}, NatCase{"COM012", "COM10", -1, -1},
                      // A run longer by one digit is larger, whatever its digits.
                      NatCase{"COM100", "COM99", 1, 1}, NatCase{"COM9x", "COM10a", -1, -1},
                      // Characters compare unsigned: a byte above 0x7F is above every letter.
                      NatCase{"COM\xC3\xA9", "COMz", 1, 1}));

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
                                                    {"A", "A", "A", "B", "C"}},
                                           // Letter case plays no part in the order.
                                           SortCase{{"com10", "COM9", "Com2", "cOM3"},
                                                    {"Com2", "cOM3", "COM9", "com10"}}));

struct OverlongCase {
    std::vector<std::size_t> nameLengths;  // in enumeration order
    std::size_t listed;                    // how many stay
};

class OverlongNameTest : public ::testing::TestWithParam<OverlongCase> {};

TEST_P(OverlongNameTest, EndsTheListingAtTheFirstOverlongName) {
    std::vector<TPortEntry> listing;
    for (std::size_t i = 0; i < GetParam().nameLengths.size(); ++i) {
        TPortEntry entry;
        entry.Name = std::string(GetParam().nameLengths[i], static_cast<char>('A' + i));
        entry.Path = "/dev/" + entry.Name;  // the limit is on the name, not the path
        listing.push_back(entry);
    }
    EndListingAtOverlongName(listing);
    ASSERT_EQ(listing.size(), GetParam().listed);
    for (std::size_t i = 0; i < listing.size(); ++i) {
        EXPECT_EQ(listing[i].Name.size(), GetParam().nameLengths[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OverlongNameTest,
                         ::testing::Values(OverlongCase{{4, 127, 5}, 3},
                                           OverlongCase{{4, 128, 5}, 1}, OverlongCase{{200}, 0},
                                           OverlongCase{{}, 0},
                                           OverlongCase{{127, 127, 300, 4, 128}, 2}));

TPortEntry Entry(const std::string& name, const std::string& path) {
    TPortEntry entry;
    entry.Name = name;
    entry.Path = path;
    return entry;
}

std::vector<std::string> NamesOf(const std::vector<TPortEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.Name);
    return names;
}

// The window sorts by the names it shows; the paths' order does not count.
TEST(SortPortEntriesTest, SortsByTheShownNameNaturally) {
    std::vector<TPortEntry> entries = {Entry("ttyUSB10", "/dev/a"), Entry("ttyS0", "/dev/b"),
                                       Entry("ttyUSB2", "/dev/c"), Entry("pts/3", "/x/pts/3")};
    SortPortList(entries);
    EXPECT_EQ(NamesOf(entries),
              (std::vector<std::string>{"pts/3", "ttyS0", "ttyUSB2", "ttyUSB10"}));
}

// What a remembered (or typed) text selects: the name ignoring case, or the full path
// that earlier versions saved, else the first entry.
TEST(SelectRememberedTest, SelectsTheNameOrThePathElseTheFirst) {
    const struct {
        const char* remembered;
        int index;
    } cases[] = {
        {"ttyUSB1", 1}, {"TTYUSB1", 1},     {"/dev/ttyUSB1", 1}, {"/DEV/TTYUSB1", 1},
        {"COM7", 2},    {"\\\\.\\COM7", 2}, {"ttyUSB9", 0},      {"", 0},
        {"USB1", 0},    {"/dev/", 0},
    };
    for (const auto& c : cases) {
        TPortSelector selector;
        selector.Items = {Entry("pts/2", "/dev/pts/2"), Entry("ttyUSB1", "/dev/ttyUSB1"),
                          Entry("COM7", "\\\\.\\COM7")};
        SelectRemembered(selector, c.remembered);
        EXPECT_EQ(selector.ItemIndex, c.index) << c.remembered;
    }
    TPortSelector empty;
    SelectRemembered(empty, "ttyUSB1");
    EXPECT_EQ(empty.ItemIndex, -1);
    EXPECT_EQ(empty.Text(), "");
    EXPECT_EQ(empty.Selected(), nullptr);
}

// A device named outside the platform's list gets its name and path from the text
// alone, by the platform's rule; the port layer is handed what it opens.
TEST(EntryForDeviceTest, NameAndPathFollowThePlatformsRule) {
    const struct {
        const char* text;
        const char* name;
        const char* path;
        const char* toOpen;
        bool outsideListing;
    } cases[] = {
#ifdef _WIN32
        {"COM5", "COM5", "\\\\.\\COM5", "COM5", true},
        {"\\\\.\\COM12", "COM12", "\\\\.\\COM12", "COM12", true},
        {"CNCA0", "CNCA0", "\\\\.\\CNCA0", "CNCA0", true},
        // A Linux path is no device folder here: it is a name like any other.
        {"/dev/COM5", "/dev/COM5", "\\\\.\\/dev/COM5", "/dev/COM5", true},
#else
        {"/dev/pts/3", "pts/3", "/dev/pts/3", "/dev/pts/3", true},
        {"/dev/ttyUSB0", "ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0", true},
        {"/tmp/ttySIM", "/tmp/ttySIM", "/tmp/ttySIM", "/tmp/ttySIM", true},
        {"/devices/ttyS0", "/devices/ttyS0", "/devices/ttyS0", "/devices/ttyS0", true},
        {"/dev/", "/dev/", "/dev/", "/dev/", true},
        {"COM5", "COM5", "COM5", "COM5", false},
#endif
    };
    for (const auto& c : cases) {
        const TPortEntry entry = EntryForDevice(c.text);
        EXPECT_EQ(entry.Name, c.name) << c.text;
        EXPECT_EQ(entry.Path, c.path) << c.text;
        EXPECT_EQ(PortToOpen(entry), c.toOpen) << c.text;
        EXPECT_EQ(NamesDeviceOutsideListing(c.text), c.outsideListing) << c.text;
    }
#ifndef _WIN32
    TPortListSource source;
    source.devDir = "/tmp/d/";
    EXPECT_EQ(EntryForDevice("/tmp/d/ttyX", source).Name, "ttyX");
#endif
}

// On Windows every listed port's path is "\\.\" + its name: the registry's and the extra ones.
#ifdef _WIN32
TEST(EntryForDeviceTest, WindowsPathIsTheDeviceNamespacePlusTheName) {
    TPortListSource source;
    source.extraPorts = "COM77:\\\\.\\COM78:dev/COM79";
    const auto entries = ListPortEntries(source);
    ASSERT_TRUE(entries);
    std::size_t extras = 0;
    for (const auto& e : *entries) {
        EXPECT_EQ(e.Path, "\\\\.\\" + e.Name) << e.Name;
        EXPECT_EQ(PortToOpen(e), e.Name);
        extras += e.Name == "COM77" || e.Name == "COM78" || e.Name == "dev/COM79";
    }
    EXPECT_EQ(extras, 3u);
}
#endif

struct GlobCase {
    const char* pattern;
    const char* text;
    bool matches;
};

class GlobMatchTest : public ::testing::TestWithParam<GlobCase> {};

TEST_P(GlobMatchTest, MatchesShellStyle) {
    EXPECT_EQ(GlobMatch(GetParam().pattern, GetParam().text), GetParam().matches)
        << GetParam().pattern << " ~ " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GlobMatchTest,
    ::testing::Values(
        GlobCase{"/dev/ttyUSB*", "/dev/ttyUSB0", true},
        GlobCase{"/dev/ttyUSB*", "/dev/ttyUSB", true},
        GlobCase{"/dev/ttyUSB*", "/dev/ttyACM0", false},
        GlobCase{"/dev/*", "/dev/pts/3", false},  // * stops at '/'
        GlobCase{"/dev/*/3", "/dev/pts/3", true}, GlobCase{"/dev/tty?", "/dev/ttyS", true},
        GlobCase{"/dev/tty?", "/dev/ttyS0", false},
        GlobCase{"/dev/pts?3", "/dev/pts/3", false},  // ? stops at '/'
        GlobCase{"ttyUSB[02]", "ttyUSB2", true}, GlobCase{"ttyUSB[02]", "ttyUSB1", false},
        GlobCase{"ttyUSB[0-3]", "ttyUSB3", true}, GlobCase{"ttyUSB[0-3]", "ttyUSB4", false},
        GlobCase{"ttyUSB[!0]", "ttyUSB1", true}, GlobCase{"ttyUSB[!0]", "ttyUSB0", false},
        GlobCase{"x[]]", "x]", true},
        GlobCase{"x[", "x[", true},  // no closing ']': an ordinary '['
        GlobCase{"COM*", "COM10", true}, GlobCase{"COM*", "com10", false}, GlobCase{"*", "", true},
        GlobCase{"", "", true}, GlobCase{"", "x", false}, GlobCase{"a*b*c", "aXbYc", true},
        GlobCase{"a*b*c", "aXbY", false}));

struct PatternCase {
    const char* argument;
    TPortPattern::TKind kind;
    const char* value;
    const char* error;  // part of the error text; empty when the argument is good
};

class ParsePortPatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(ParsePortPatternTest, TellsTheKindOfArgument) {
    std::string error;
    const auto pattern = ParsePortPattern(GetParam().argument, error);
    if (*GetParam().error != '\0') {
        EXPECT_FALSE(pattern) << GetParam().argument;
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(pattern) << GetParam().argument << ": " << error;
    EXPECT_EQ(pattern->Kind, GetParam().kind) << GetParam().argument;
    EXPECT_EQ(pattern->Text, GetParam().argument);
    if (pattern->Kind == TPortPattern::TKind::Usb) {
        EXPECT_EQ(pattern->VendorId + ":" + pattern->ProductId, GetParam().value);
    } else {
        EXPECT_EQ(pattern->Value, GetParam().value);
    }
}

using K = TPortPattern::TKind;
INSTANTIATE_TEST_SUITE_P(
    Arguments, ParsePortPatternTest,
    ::testing::Values(PatternCase{"ttyUSB0", K::Name, "ttyUSB0", ""},
                      PatternCase{"/dev/ttyUSB0", K::Name, "/dev/ttyUSB0", ""},
                      PatternCase{"COM3", K::Name, "COM3", ""},
                      PatternCase{"usb:0403:6001", K::Usb, "0403:6001", ""},
                      PatternCase{"usb:067b:23a3", K::Usb, "067B:23A3", ""},
                      PatternCase{"serial:A1B2C3", K::Serial, "A1B2C3", ""},
                      PatternCase{"location:1-1.4", K::Location, "1-1.4", ""},
                      PatternCase{"/dev/ttyUSB*", K::Glob, "/dev/ttyUSB*", ""},
                      PatternCase{"ttyACM[0-3]", K::Glob, "ttyACM[0-3]", ""},
                      PatternCase{"ttyACM[]]", K::Glob, "ttyACM[]]", ""},
                      // A lone '[' is part of a name or path.
                      PatternCase{"/tmp/x[1", K::Name, "/tmp/x[1", ""},
                      PatternCase{"/tmp/x[]", K::Name, "/tmp/x[]", ""},
                      PatternCase{"usb:0403", K::Usb, "", "four hex digits"},
                      PatternCase{"usb:403:6001", K::Usb, "", "four hex digits"},
                      PatternCase{"usb:0403:60011", K::Usb, "", "four hex digits"},
                      PatternCase{"usb:04g3:6001", K::Usb, "", "four hex digits"},
                      PatternCase{"usb:", K::Usb, "", "four hex digits"},
                      PatternCase{"serial:", K::Serial, "", "serial: needs a serial number"},
                      PatternCase{"location:", K::Location, "", "location: needs a location"}));

// A listing as a Linux machine with two FTDI adapters, a CDC-ACM board and a legacy
// port would give it.
std::vector<TPortEntry> StationListing() {
    auto usb = [](const char* name, const char* vid, const char* pid, const char* serial,
                  const char* location) {
        TPortEntry e = Entry(name, std::string("/dev/") + name);
        e.Identity.Kind = "usb";
        e.Identity.VendorId = vid;
        e.Identity.ProductId = pid;
        e.Identity.SerialNumber = serial;
        e.Identity.Location = location;
        return e;
    };
    TPortEntry legacy = Entry("ttyS0", "/dev/ttyS0");
    legacy.Identity.Kind = "platform";
    TPortEntry windows = Entry("COM3", "\\\\.\\COM3");
    windows.Identity = usb("x", "10C4", "EA60", "0001", "Port_#0002.Hub_#0001").Identity;
    windows.Identity.LocationPath = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
    return {usb("ttyACM0", "2341", "0043", "", "1-1.2"),
            legacy,
            usb("ttyUSB0", "0403", "6001", "A1B2C3", "1-1.4"),
            usb("ttyUSB1", "0403", "6001", "D4E5F6", "1-1.3"),
            windows,
            Entry("ttys0", "/dev/ttys0")};
}

struct ResolveCase {
    const char* argument;
    bool all;
    std::vector<std::string> names;  // the ports chosen, in listing order
    const char* error;               // part of the error text; empty on success
};

class ResolvePortArgumentTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolvePortArgumentTest, ChoosesStrictly) {
    const auto& c = GetParam();
    const TPortResolution r = ResolvePortArgument(c.argument, StationListing(), c.all);
    EXPECT_EQ(NamesOf(r.Ports), c.names) << c.argument;
    if (*c.error == '\0') {
        EXPECT_EQ(r.Error, "") << c.argument;
    } else {
        EXPECT_NE(r.Error.find(c.error), std::string::npos) << c.argument << ": " << r.Error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ResolvePortArgumentTest,
    ::testing::Values(
        ResolveCase{"ttyUSB1", false, {"ttyUSB1"}, ""},
        ResolveCase{"TTYUSB1", false, {"ttyUSB1"}, ""},
        ResolveCase{"/dev/ttyUSB1", false, {"ttyUSB1"}, ""},
        // An exact name wins over one that differs only in letter case.
        ResolveCase{"ttyS0", false, {"ttyS0"}, ""}, ResolveCase{"ttys0", false, {"ttys0"}, ""},
        ResolveCase{"usb:0403:6001",
                    false,
                    {},
                    "'usb:0403:6001' matches 2 ports: ttyUSB0 (/dev/ttyUSB0), ttyUSB1 "
                    "(/dev/ttyUSB1); name one of them, or give --all"},
        ResolveCase{"usb:0403:6001", true, {"ttyUSB0", "ttyUSB1"}, ""},
        ResolveCase{"usb:2341:0043", false, {"ttyACM0"}, ""},
        ResolveCase{"usb:10c4:ea60", false, {"COM3"}, ""},
        ResolveCase{"usb:0403:6010", false, {}, "no serial port matches 'usb:0403:6010'"},
        ResolveCase{"serial:d4e5f6", false, {"ttyUSB1"}, ""},
        ResolveCase{"serial:nothing", false, {}, "no serial port matches 'serial:nothing'"},
        ResolveCase{"location:1-1.4", false, {"ttyUSB0"}, ""},
        ResolveCase{"location:1-1", false, {}, "no serial port matches"},
        ResolveCase{"location:port_#0002.hub_#0001", false, {"COM3"}, ""},
        ResolveCase{"location:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)", false, {"COM3"}, ""},
        ResolveCase{"/dev/ttyUSB*", false, {"ttyUSB0", "ttyUSB1"}, ""},
        ResolveCase{"tty[AS]*", false, {"ttyACM0", "ttyS0"}, ""},
        ResolveCase{"/dev/ttyX*", false, {}, "no serial port matches '/dev/ttyX*'"},
        ResolveCase{"usb:0403", false, {}, "four hex digits"},
#ifdef _WIN32
        // Windows opens any name as "\\.\" + name: one the registry does not list too.
        ResolveCase{"COM99", false, {"COM99"}, ""}, ResolveCase{"\\\\.\\COM3", false, {"COM3"}, ""},
#else
        // A path is opened as given; a bare name must be a listed one.
        ResolveCase{"/dev/pts/7", false, {"pts/7"}, ""},
        ResolveCase{"ttyUSB9", false, {}, "no serial port named 'ttyUSB9'"},
#endif
        ResolveCase{"", false, {}, "--port needs a port name"}));

// The matcher looks at the entries alone: the same question asked of a port that
// appears later gets the same answer.
TEST(PortMatchesTest, AnEntryWithoutIdentityMatchesOnlyByNameOrGlob) {
    TPortEntry bare = Entry("ttyUSB5", "/dev/ttyUSB5");
    std::string error;
    for (const char* argument : {"usb:0000:0000", "serial:", "location:1-1"}) {
        const auto pattern = ParsePortPattern(argument, error);
        if (pattern) {
            EXPECT_FALSE(PortMatches(*pattern, bare)) << argument;
        }
    }
    // An empty serial number or location never matches a pattern that asks for one.
    bare.Identity.Kind = "usb";
    EXPECT_FALSE(PortMatches(*ParsePortPattern("serial:x", error), bare));
    EXPECT_TRUE(PortMatches(*ParsePortPattern("ttyusb5", error), bare));
    EXPECT_TRUE(PortMatches(*ParsePortPattern("/dev/ttyUSB?", error), bare));
    // A vendor id alone is not a USB port: the kind decides.
    TPortEntry notUsb = Entry("ttyS1", "/dev/ttyS1");
    notUsb.Identity.VendorId = "0403";
    notUsb.Identity.ProductId = "6001";
    EXPECT_FALSE(PortMatches(*ParsePortPattern("usb:0403:6001", error), notUsb));
}

TEST(MatchingPortsTest, EachDeviceOnce) {
    // The registry may name one port twice: it is one device.
    const std::vector<TPortEntry> listing = {Entry("COM3", "\\\\.\\COM3"),
                                             Entry("COM3", "\\\\.\\COM3")};
    std::string error;
    EXPECT_EQ(MatchingPorts(*ParsePortPattern("COM3", error), listing).size(), 1u);
    EXPECT_EQ(ResolvePortArgument("COM*", listing, false).Ports.size(), 1u);
}

}  // namespace
}  // namespace kordel

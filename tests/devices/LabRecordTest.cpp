// The device lab's verdicts: a record of a sound update passes, and each broken rule of
// the line (speed, DTR/RTS, break, bytes, flash) is named.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "HexDump.h"
#include "LabRecord.h"

namespace kordel::lab {
namespace {

const Bytes Frame1 = {0x1B, 0x01, 0x00, 0x00, 0xF2, 0x0E, 0xE6};
const Bytes Frame2 = {0x1B, 0x02, 0x01, 0x00, 0xF1, 0x0E, 0x52, 0xB5};

std::string TraceOf(const std::vector<Bytes>& frames) {
    std::string text;
    for (const Bytes& f : frames) {
        text += "/dev/ttyACM0 request\n" + DumpHeader(static_cast<long long>(f.size())) + "\n";
        for (const auto& line : HexDumpLines(f.data(), f.size())) text += line + "\n";
        text +=
            "/dev/ttyACM0 reply\nAnzahl: 3\n0000:  1B 01 00 .. .. .. .. .. .. .. .. .. .. .. .. .. "
            " ...\n";
    }
    return text;
}

std::string Hex(const Bytes& b) {
    std::string s;
    char two[3];
    for (auto x : b) {
        std::snprintf(two, sizeof two, "%02X", x);
        s += two;
    }
    return s;
}

// A sound run: the open raises both lines, the tool clears them, sets the line, waits
// 20 ms, breaks for 20 ms, then sends two frames (the first in two chunks).
std::string SoundRecord() {
    return "1000000 line 9600 8 N 1\n"
           "mark run\n"
           "2000000 control 0x0003\n"
           "2003000 control 0x0000\n"
           "2005000 line 4407315 8 N 1\n"
           "2025500 break 0xFFFF\n"
           "2046000 break 0x0000\n"
           "2150000 rx 1B010000\n"
           "2150100 rx F20EE6\n"
           "2151000 tx 1B01000000\n"
           "2300000 rx " +
           Hex(Frame2) + "\n";
}

UpdateCheck Check(const std::string& record, const std::vector<Bytes>& sent = {Frame1, Frame2},
                  const Bytes& flash = Bytes(256, 0xAB), const Bytes& image = Bytes(200, 0xAB)) {
    std::istringstream in(record);
    const auto all = ParseRecord(in);
    std::istringstream trace(TraceOf(sent));
    return CheckUpdate(all, After(all, "run"), RequestBytes(trace), flash, image);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(LabRecordTest, SoundUpdatePassesWithItsTimes) {
    const UpdateCheck c = Check(SoundRecord());
    EXPECT_TRUE(c.problems.empty()) << c.problems.front();
    EXPECT_NEAR(c.breakDelayMs, 20.5, 0.01);
    EXPECT_NEAR(c.breakLengthMs, 20.5, 0.01);
    ASSERT_TRUE(c.linesHighMs);
    EXPECT_NEAR(*c.linesHighMs, 3.0, 0.01);
}

struct Broken {
    const char* name;
    std::function<UpdateCheck()> run;
    const char* problem;  // the start of the problem it must report
};

class BrokenRuleTest : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenRuleTest, IsNamed) {
    const UpdateCheck c = GetParam().run();
    ASSERT_FALSE(c.problems.empty());
    EXPECT_EQ(c.problems.front().rfind(GetParam().problem, 0), 0u) << c.problems.front();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BrokenRuleTest,
    ::testing::Values(
        Broken{"WrongSpeed",
               [] { return Check(Replace(SoundRecord(), "line 4407315", "line 9600")); },
               "line coding in force: '9600 8 N 1'"},
        Broken{"SpeedSetAfterTheFirstByte",
               [] {
                   return Check(Replace(Replace(SoundRecord(), "2005000 line 4407315 8 N 1\n", ""),
                                        "2300000", "2290000 line 4407315 8 N 1\n2300000"));
               },
               "line coding in force: '9600 8 N 1'"},
        Broken{"LinesLeftUp",
               [] { return Check(Replace(SoundRecord(), "2003000 control 0x0000\n", "")); },
               "DTR/RTS not both off"},
        Broken{"LinesRaisedDuringTheUpdate",
               [] {
                   return Check(
                       Replace(SoundRecord(), "2151000", "2151000 control 0x0001\n2151001"));
               },
               "DTR/RTS raised during the update"},
        Broken{"NoBreak",
               [] {
                   return Check(Replace(Replace(SoundRecord(), "2025500 break 0xFFFF\n", ""),
                                        "2046000 break 0x0000\n", ""));
               },
               "expected one break"},
        Broken{"BreakAtOnce",
               [] { return Check(Replace(SoundRecord(), "2025500 break", "2006000 break")); },
               "break 1.0 ms after the set-up"},
        Broken{"ShortBreak",
               [] { return Check(Replace(SoundRecord(), "2046000 break", "2030000 break")); },
               "break 4.5 ms long"},
        Broken{"LostByte", [] { return Check(Replace(SoundRecord(), "rx F20EE6", "rx F20E")); },
               "the module got 14 bytes, the tool sent 15; they differ from byte 6"},
        Broken{"FlashDiffers",
               [] {
                   return Check(SoundRecord(), {Frame1, Frame2}, Bytes(256, 0xAC));
               },
               "the flash (256 bytes) does not hold the image"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LabRecordTest, UnplugToEnd) {
    std::istringstream in("mark a\n1000000 unplug\nmark b\n5000000 rx 00\n");
    const auto all = ParseRecord(in);
    EXPECT_EQ(MsFromUnplug(After(all, "a"), 1250000), 250.0);
    EXPECT_FALSE(MsFromUnplug(After(all, "b"), 6000000));
}

// cdc_acm's SET_CONTROL_LINE_STATE and ftdi_sio's MODEM_CTRL (values, then mask).
TEST(LabRecordTest, HighLinesFromBothDrivers) {
    std::istringstream capture(
        "ffff0001 1000000 S Co:1:002:0 s 21 22 0003 0000 0000 0\n"
        "ffff0001 1000400 C Co:1:002:0 0 0\n"
        "ffff0002 1004000 S Co:1:002:0 s 21 22 0000 0000 0000 0\n"
        "ffff0003 2000000 S Co:2:003:0 s 40 01 0303 0000 0000 0\n"
        "ffff0004 2001000 S Co:2:003:0 s 40 01 0100 0000 0000 0\n"
        "ffff0005 2007500 S Co:2:003:0 s 40 01 0200 0000 0000 0\n"
        "ffff0006 3000000 S Co:2:003:0 s 40 01 0101 0000 0000 0\n");
    const auto found = HighLinesFromUsbmon(capture);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_DOUBLE_EQ(found[0].ms, 4.0);
    EXPECT_EQ(found[0].raisedBy, 0x0003u);
    EXPECT_DOUBLE_EQ(found[1].ms, 7.5) << "RTS was still up after DTR went down";
    EXPECT_EQ(found[2].ms, -1) << "never lowered";
}

}  // namespace
}  // namespace kordel::lab

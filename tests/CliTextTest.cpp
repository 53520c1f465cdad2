// kordel-flash's text helpers: JSON and terminal escaping of outside text, lines fitted
// to a terminal's width, and the hints for port errors.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <sstream>

#include "Hints.h"
#include "JsonCheck.h"
#include "Reporter.h"
#include "TempDir.h"
#include "Text.h"

namespace kordel {
namespace {

struct EscapeCase {
    std::string in;
    std::string json;
    std::string terminal;
};

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, JsonAndTerminal) {
    const auto& c = GetParam();
    EXPECT_EQ(cli::JsonString(c.in), c.json);
    EXPECT_EQ(testing::JsonCheck::Problem(cli::JsonString(c.in)), "");
    EXPECT_EQ(cli::TerminalText(c.in), c.terminal);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    ::testing::Values(
        EscapeCase{"a\"b\\c\r\n\x01", "\"a\\\"b\\\\c\\r\\n\\u0001\"", "a\"b\\c\\x0D\\x0A\\x01"},
        EscapeCase{"\x1b[2J\x7f", "\"\\u001B[2J\\u007F\"", "\\x1B[2J\\x7F"},
        // C1 controls as UTF-8: U+009B is CSI to some terminals.
        EscapeCase{"\xC2\x9B" "1m", "\"\\u009B1m\"", "\\xC2\\x9B1m"},
        EscapeCase{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"",
                   "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        // Invalid: stray continuation, overlong '/', surrogate, beyond U+10FFFF, cut short.
        EscapeCase{"\x80", "\"\\uFFFD\"", "\\x80"},
        EscapeCase{"\xC0\xAF", "\"\\uFFFD\\uFFFD\"", "\\xC0\\xAF"},
        EscapeCase{"\xED\xA0\x80", "\"\\uFFFD\\uFFFD\\uFFFD\"", "\\xED\\xA0\\x80"},
        EscapeCase{"\xF4\x90\x80\x80", "\"\\uFFFD\\uFFFD\\uFFFD\\uFFFD\"",
                   "\\xF4\\x90\\x80\\x80"},
        EscapeCase{"ab\xE2\x82", "\"ab\\uFFFD\\uFFFD\"", "ab\\xE2\\x82"}));

TEST(FitTest, CutsToTheWidthKeepingTheChosenEnd) {
    EXPECT_EQ(cli::FitToWidth("/dev/serial/by-id/usb-0123", 12, cli::Cut::KeepEnd), ".../usb-0123");
    EXPECT_EQ(cli::FitToWidth("/dev/serial/by-id/usb-0123", 12, cli::Cut::KeepStart),
              "/dev/seri...");
    EXPECT_EQ(cli::FitToWidth("/dev/ttyUSB0", 12, cli::Cut::KeepEnd), "/dev/ttyUSB0");
    // Wide characters take two columns and are never split.
    EXPECT_EQ(cli::DisplayWidth("\xE4\xB8\xAD\xE6\x96\x87"), 4);
    EXPECT_EQ(cli::FitToWidth("ab\xE4\xB8\xAD\xE6\x96\x87", 6, cli::Cut::KeepStart),
              "ab\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(cli::FitToWidth("ab\xE4\xB8\xAD\xE6\x96\x87x", 6, cli::Cut::KeepStart), "ab...");
}

// Every progress and status line fits, whatever the width and the name.
TEST(FitTest, ProgressAndStatusLinesNeverPassTheWidth) {
    for (std::size_t nameLength : {0u, 5u, 12u, 30u, 60u, 120u}) {
        const std::string name = "/dev/" + std::string(nameLength, 'x') + "-end";
        for (int width = 20; width <= 200; ++width) {
            for (std::uint32_t position : {0u, 2560u, 7900u}) {
                cli::ProgressFields f{name, position, 7900, position / 256, 31, 1.23};
                const std::string line = cli::ProgressLine(f, width);
                ASSERT_LE(cli::DisplayWidth(line), width) << line;
            }
            ASSERT_LE(cli::DisplayWidth(cli::StatusLine(name, "reading-cpu-id", width)), width);
        }
    }
}

TEST(FitTest, EightyColumnsGiveUpTheTimeBeforeTheName) {
    cli::ProgressFields f{"/dev/ttyUSB0", 2560, 7900, 10, 31, 0.5};
    EXPECT_EQ(cli::ProgressLine(f, 200),
              "/dev/ttyUSB0  [#######.................]  32%  10/31 blocks  2560/7900 bytes"
              "    5.0 KiB/s    0.5 s");
    EXPECT_EQ(cli::ProgressLine(f, 79),
              "/dev/ttyUSB0  [####..........]  32%  10/31 blocks  2560/7900 bytes    5.0 KiB/s");
    // A long name keeps 16 columns of its end while the bar narrows to 10.
    f.port = "/dev/serial/by-id/usb-Halvern_Instruments_Kordel_Programmer_0123456789-if00";
    EXPECT_EQ(cli::ProgressLine(f, 79),
              "...23456789-if00  [###.......]  32%  10/31 blocks  2560/7900 bytes    5.0 KiB/s");
    EXPECT_EQ(cli::ProgressLine(f, 40), "...23456789-if00  [####...........]  32%");
}

// The terminal mode goes back exactly as many lines as it drew.
TEST(ReporterTest, RedrawMovesUpOverItsOwnLines) {
    std::ostringstream out, err;
    cli::Reporter r(cli::OutputMode::Terminal, out, err, {"/dev/a", "/dev/b", "/dev/c"}, 80);
    r.Success(0, 1);
    r.Success(1, 1);
    r.Finish();
    const std::string text = out.str();
    const std::regex up("\x1b\\[(\\d+)F");
    int moves = 0;
    for (auto m = std::sregex_iterator(text.begin(), text.end(), up); m != std::sregex_iterator();
         ++m, ++moves) {
        EXPECT_EQ((*m)[1], "3");
    }
    EXPECT_EQ(moves, 2) << "two redraws after the first drawing";
}

// Each line of a failure's message gets its own line naming the port, whatever ends
// it; a lone CR ends a line too, so no part of the text can overwrite another.
TEST(ReporterTest, EachLineOfAFailureNamesThePort) {
    for (const char* end : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(end)));
        std::ostringstream out, err;
        cli::Reporter r(cli::OutputMode::Plain, out, err, {"/dev/a", "/dev/b"});
        r.Failure(1, 1, std::string("Error writing Flash") + end + "CRYPT ERROR", "");
        EXPECT_EQ(err.str(), "/dev/b: Error writing Flash\n/dev/b: CRYPT ERROR\n");
        r.Summary();
        EXPECT_EQ(err.str().substr(err.str().find('\n', 30) + 1),
                  "1 of 2 modules updated; failed: /dev/b (CRYPT ERROR)\n")
            << "the summary names the message's last line";
    }
}

TEST(HintTest, EveryErrorNumberAndConditionHasOne) {
    for (int condition : {CE_OpenFailed, CE_WriteFailed, CE_ReadFailed, CE_PurgeFailed,
                          CE_SetStateFailed, CE_TimeoutsFailed, CE_SetupComFailed,
                          CE_ClearComFailed, CE_ModemStatFailed, CE_EscapeComFailed}) {
        const auto c = static_cast<TComExceptions>(condition);
        EXPECT_NE(cli::HintFor(EComPort(c, NoErrorNumber)), "") << condition;
        for (int error = 1; error < 134; ++error) {
            EXPECT_NE(cli::HintFor(EComPort(c, error)), "") << condition << " " << error;
        }
    }
}

TEST(HintTest, NamedCauses) {
    EXPECT_EQ(cli::HintFor(EComPort(CE_SetStateFailed, EINVAL)),
              "this port or adapter cannot run at 4407315 bit/s");
    EXPECT_EQ(cli::HintFor(EComPort(CE_OpenFailed, EINVAL)),
              "this port or adapter cannot run at 4407315 bit/s");
    EXPECT_EQ(cli::HintFor(EComPort(CE_OpenFailed, EISDIR)), std::strerror(EISDIR));
    EXPECT_EQ(cli::HintFor(EComPort(CE_WriteFailed, EINVAL)), std::strerror(EINVAL));
    EXPECT_EQ(cli::HintFor(EComPort(CE_OpenFailed, EACCES)).find("dialout"), std::string::npos)
        << "no group is suggested for a device nobody looked at";
    // On an open port a refusal is not about the device's permissions: a write after
    // the driver was unbound fails with EPERM.
    for (const int condition : {CE_WriteFailed, CE_SetStateFailed, CE_EscapeComFailed}) {
        const auto c = static_cast<TComExceptions>(condition);
        EXPECT_EQ(cli::HintFor(EComPort(c, EPERM), "/dev/ttyACM0"),
                  std::string("the port refused it (") + std::strerror(EPERM) +
                      "): was the device unplugged or its driver unbound?")
            << condition;
    }
    // An adapter without break (a CDC-ACM port that does not offer it) refuses the break.
    EXPECT_EQ(cli::HintFor(EComPort(CE_EscapeComFailed, EOPNOTSUPP)),
              "this adapter cannot send the break that starts an update: use another adapter "
              "or the instrument's own serial port");
    EXPECT_EQ(cli::HintFor(EComPort(CE_WriteFailed, EOPNOTSUPP)), std::strerror(EOPNOTSUPP));
}

struct PermissionCase {
    const char* name;
    const char* group;
    mode_t mode;
    const char* hint;  // after "permission denied: PATH belongs to root:"
};

class PermissionHintTest : public ::testing::TestWithParam<PermissionCase> {};

// A refused open names the device's owner, group and mode, and suggests joining the
// group only where the group may read and write the device. This test runs as root,
// whose only group is root.
TEST_P(PermissionHintTest, NamesOwnerGroupAndMode) {
    if (::geteuid() != 0 || ::getgroups(0, nullptr) > 1)
        GTEST_SKIP() << "needs root, in no other group";
    const group* g = ::getgrnam(GetParam().group);
    if (g == nullptr) GTEST_SKIP() << "no group " << GetParam().group;
    testing::TempDir dir;
    const std::string device = (dir.Path() / "ttyTEST").string();
    testing::WriteFile(device, "");
    ASSERT_EQ(::chown(device.c_str(), 0, g->gr_gid), 0);
    ASSERT_EQ(::chmod(device.c_str(), GetParam().mode), 0);
    for (const int error : {EACCES, EPERM}) {
        EXPECT_EQ(cli::HintFor(EComPort(CE_OpenFailed, error), device),
                  "permission denied: " + device + " belongs to root:" + GetParam().hint);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, PermissionHintTest,
    ::testing::Values(
        PermissionCase{"OwnerOnly", "root", 0600,
                       "root with mode 0600, so its group may not use it: ask whoever runs this "
                       "machine for access (a udev rule can give the device a group that may)"},
        PermissionCase{"GroupMayWriteOnly", "tty", 0620,
                       "tty with mode 0620, so its group may not use it: ask whoever runs this "
                       "machine for access (a udev rule can give the device a group that may)"},
        PermissionCase{"GroupMayUseIt", "dialout", 0660,
                       "dialout with mode 0660: add your user to the dialout group (sudo usermod "
                       "-aG dialout $USER) and log in again"},
        PermissionCase{"AlreadyInTheGroup", "root", 0660,
                       "root with mode 0660, and this program runs in the group root: something "
                       "else refuses it (an access list or a security module)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kordel

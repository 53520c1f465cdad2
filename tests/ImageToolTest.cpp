// kordel-image run as a program on real files: what it refuses, how it reads numbers
// and descriptions, and that `make` never writes an image `check` refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "BiosInfo.h"
#include "TempDir.h"

namespace kordel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

struct ToolResult {
    int exitCode = -1;  // -1: killed after the time limit
    std::string err;
    std::string out;
};

// Runs kordel-image with args in the current folder; gives up after 10 s.
ToolResult RunTool(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Without its output files the run cannot be judged: 126 tells the test so.
        if (!std::freopen("tool.out", "w", stdout) || !std::freopen("tool.err", "w", stderr)) {
            ::_exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(KORDEL_IMAGE_TOOL)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return {-1, ReadFile("tool.err"), ReadFile("tool.out")};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile("tool.err"),
            ReadFile("tool.out")};
}

TBiosInfo InfoOf(const std::string& file) {
    const std::string bytes = ReadFile(file);
    const std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
    return TBiosInfo::FromBytes(UnscrambleBiosInfo(image));
}

struct RefusedInput {
    const char* name;
    std::function<std::string()> prepare;  // makes the input, returns its path
    std::string reason;
};

class ImageToolInputTest : public ::testing::TestWithParam<RefusedInput> {};

TEST_P(ImageToolInputTest, CheckAndMakeRefuseItWithTheReason) {
    TempDir dir;
    const std::string input = GetParam().prepare();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", input},
          {"info", input},
          {"make", "--out", "made.bin", "--payload", input}}) {
        const ToolResult r = RunTool(args);
        EXPECT_EQ(r.exitCode, 1) << args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("kordel-image: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << args[0] << ": " << r.err;
        EXPECT_FALSE(fs::exists("made.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ImageToolInputTest,
    ::testing::Values(RefusedInput{"Directory",
                                   [] {
                                       fs::create_directory("folder");
                                       return std::string("folder");
                                   },
                                   "folder is not a regular file"},
                      RefusedInput{"Fifo",
                                   [] {
                                       ::mkfifo("fifo", 0600);
                                       return std::string("fifo");
                                   },
                                   "fifo is not a regular file"},
                      RefusedInput{"EndlessDevice", [] { return std::string("/dev/zero"); },
                                   "/dev/zero is not a regular file"},
                      RefusedInput{"Missing", [] { return std::string("missing.bin"); },
                                   "cannot read missing.bin: No such file or directory"},
                      RefusedInput{"LargerThanAnUpdateCanWrite",
                                   [] {
                                       WriteFile("big.bin", std::string((1u << 20) + 257, '\x5A'));
                                       return std::string("big.bin");
                                   },
                                   "big.bin is larger than 1048832 bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageToolTest, LargestImageAnUpdateCanWriteIsAccepted) {
    TempDir dir;
    ASSERT_EQ(RunTool({"make", "--out", "a.bin", "--length", "1048832"}).exitCode, 0);
    const ToolResult r = RunTool({"check", "a.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(RunTool({"make", "--out", "b.bin", "--length", "1048833"}).exitCode, 2);
}

struct VersionCase {
    std::string text;
    int hi, lo;  // -1: refused
};

TEST(ImageToolTest, VersionPartsAreDecimal) {
    TempDir dir;
    for (const VersionCase& c : std::vector<VersionCase>{{"1.08", 1, 8},
                                                         {"1.010", 1, 10},
                                                         {"09.9", 9, 9},
                                                         {"255.255", 255, 255},
                                                         {"1.256", -1, -1},
                                                         {"0x1.2", -1, -1},
                                                         {"-1.2", -1, -1},
                                                         {"1. 2", -1, -1},
                                                         {"1.", -1, -1},
                                                         {"12", -1, -1}}) {
        fs::remove("v.bin");
        const ToolResult r = RunTool({"make", "--out", "v.bin", "--version", c.text});
        if (c.hi < 0) {
            EXPECT_EQ(r.exitCode, 2) << c.text;
            EXPECT_FALSE(fs::exists("v.bin")) << c.text;
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << c.text << ": " << r.err;
        const TBiosInfo info = InfoOf("v.bin");
        EXPECT_EQ(info.VersHi, c.hi) << c.text;
        EXPECT_EQ(info.VersLo, c.lo) << c.text;
    }
}

TEST(ImageToolTest, OtherNumbersAreDecimalOrHexadecimal) {
    TempDir dir;
    ASSERT_EQ(RunTool({"make", "--out", "n.bin", "--length", "0300", "--file-code", "0x00C1",
                       "--tool-vers", "010"})
                  .exitCode,
              0);
    EXPECT_EQ(fs::file_size("n.bin"), 300u) << "0300 is three hundred, not octal 192";
    const TBiosInfo info = InfoOf("n.bin");
    EXPECT_EQ(info.FileCode, 0xC1);
    EXPECT_EQ(info.ToolVers, 10);
    for (const char* bad : {"-5", " 300", "300 ", "3e2", "0x", "99999999999999999999"}) {
        EXPECT_EQ(RunTool({"make", "--out", "x.bin", "--length", bad}).exitCode, 2) << bad;
    }
    EXPECT_EQ(RunTool({"make", "--out", "x.bin", "--sys-id", "4B4F52"}).exitCode, 2);
    EXPECT_FALSE(fs::exists("x.bin"));
}

struct DescCase {
    const char* name;
    std::string utf8;
    std::string cp1252;  // empty: refused
    std::string reason;
};

class ImageToolDescTest : public ::testing::TestWithParam<DescCase> {};

TEST_P(ImageToolDescTest, DescriptionIsStoredInWindows1252) {
    const auto& c = GetParam();
    TempDir dir;
    const ToolResult r = RunTool({"make", "--out", "d.bin", "--desc", c.utf8});
    if (c.cp1252.empty()) {
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists("d.bin"));
        return;
    }
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const TBiosInfo info = InfoOf("d.bin");
    std::string stored(info.ProgInfo.begin(), info.ProgInfo.end());
    EXPECT_EQ(stored, c.cp1252 + std::string(16 - c.cp1252.size(), '\0'));
    const ToolResult shown = RunTool({"info", "d.bin"});
    EXPECT_NE(shown.out.find("description: " + c.utf8 + "\n"), std::string::npos) << shown.out;
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, ImageToolDescTest,
    ::testing::Values(DescCase{"Ascii", "KORDEL DEMO FW", "KORDEL DEMO FW", ""},
                      DescCase{"Latin",
                               "Gr\xC3\xBC\xC3\x9F"
                               "e \xE2\x82\xAC"
                               "5",
                               "Gr\xFC\xDF"
                               "e \x80"
                               "5",
                               ""},
                      DescCase{"SixteenTwoByteCharacters",
                               "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                               "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
                               std::string(16, '\xE9'), ""},
                      DescCase{"SeventeenCharacters", "ABCDEFGHIJKLMNOPQ", "",
                               "longer than 16 characters"},
                      DescCase{"OutsideTheCodePage", "Kordel \xE6\x97\xA5", "",
                               "U+65E5 is not in the Windows-1252"},
                      DescCase{"NotUtf8", "Kordel \xFF", "", "not UTF-8"},
                      // C0 AF is an overlong "/": refused, never stored as the slash.
                      DescCase{"OverlongSlash", "Kordel \xC0\xAF", "", "not UTF-8"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageToolTest, MakeRefusesASizeBeyondTheLength) {
    TempDir dir;
    const ToolResult r = RunTool({"make", "--out", "s.bin", "--length", "1000", "--size", "1001"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("FileSize says 1001 bytes, but the image holds only 1000"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists("s.bin"));
    ASSERT_EQ(RunTool({"make", "--out", "s.bin", "--length", "1000", "--size", "1000"}).exitCode,
              0);
    EXPECT_EQ(RunTool({"check", "s.bin"}).exitCode, 0);
}

}  // namespace
}  // namespace kordel

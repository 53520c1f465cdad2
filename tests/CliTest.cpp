// kordel-flash as a user or script runs it, against simulated modules.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "JsonCheck.h"
#include "KordelSim.h"
#include "Reporter.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "TerminalScreen.h"
#include "Version.h"

namespace kordel {
namespace {

using Result = testing::ProgramRun;

struct RunOptions : testing::ProgramOptions {
    const char* program = KORDEL_FLASH;
};

// Runs kordel-flash (or another program) with `args`.
Result RunFlash(const std::vector<std::string>& args, const RunOptions& options = {}) {
    return testing::RunProgram(options.program, args, options);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

TEST(CliTest, SimulatedModuleGetsTheImage) {
    const Result r = RunFlash({"--sim"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Update OK\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Simulated module: flash at 0x08002000 holds exactly the image's 7900 "
                         "bytes, then 36 filler bytes FF"),
              std::string::npos)
        << r.out;
}

TEST(CliTest, ParallelPortsWithOneFailingInJson) {
    sim::KordelSim good;
    sim::KordelSim bad;
    std::string error;
    bad.AddFault(*sim::ParseFaultRule("F9@2=status:195", error));
    const Result r = RunFlash({"--json", "--port", good.SlavePath(), "--port", bad.SlavePath()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"port\":\"" + good.SlavePath() +
                         "\",\"run\":1,\"result\":\"ok\",\"message\":\"Update OK\"}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"port\":\"" + bad.SlavePath() +
                         "\",\"run\":1,\"result\":\"error\",\"message\":\"Error writing "
                         "Flash\\r\\nCRYPT ERROR\",\"partial_image\":true}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(good.Flash().size(), 31u * 256);
    EXPECT_EQ(Count(r.out, "\"event\":\"progress\""), 32u + 3u) << "31 blocks + start, 2 + start";
}

TEST(CliTest, FailureTextGoesToStandardErrorWithAHint) {
    const Result r = RunFlash({"--port", "/dev/ttyKORDEL-missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("/dev/ttyKORDEL-missing: Unable to open com port (Error: 2)\n"
                         "/dev/ttyKORDEL-missing: hint: no such device"),
              std::string::npos)
        << r.err;

    sim::KordelSim module;
    std::string error;
    module.AddFault(*sim::ParseFaultRule("F9=status:0xC3", error));
    const std::string& port = module.SlavePath();
    const Result crypt = RunFlash({"--port", port, "--quiet"});
    EXPECT_EQ(crypt.exitCode, 1);
    EXPECT_EQ(crypt.err,
              port + ": Error writing Flash\n" + port + ": CRYPT ERROR\n" + port +
                  ": hint: the module now holds a partial image and needs a new update\n");
    EXPECT_EQ(crypt.out, "");
}

struct PartialImageCase {
    const char* name;
    const char* fault;
    const char* failure;  // the failure's own first line, unchanged
    bool partial;         // the module already took blocks
};

class PartialImageTest : public ::testing::TestWithParam<PartialImageCase> {};

// A failure once the block writes have begun leaves part of the image in the module;
// the command line says so on a hint line of its own.
TEST_P(PartialImageTest, FailuresDuringTheBlockWritesSaySo) {
    for (const bool json : {false, true}) {
        sim::KordelSim module;  // a fresh one: faults count the requests from its start
        std::string error;
        module.AddFault(*sim::ParseFaultRule(GetParam().fault, error));
        const std::string& port = module.SlavePath();
        const Result r = json ? RunFlash({"--json", "--port", port}) : RunFlash({"--port", port});
        EXPECT_EQ(r.exitCode, 1);
        if (json) {
            EXPECT_EQ(Count(r.out, ",\"partial_image\":true}"), GetParam().partial ? 1u : 0u)
                << r.out;
            continue;
        }
        const std::string hint =
            port + ": hint: the module now holds a partial image and needs a new update\n";
        EXPECT_NE(r.err.find(port + ": " + GetParam().failure + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(Count(r.err, hint), GetParam().partial ? 1u : 0u) << r.err;
        if (GetParam().partial) {
            EXPECT_EQ(r.err.substr(r.err.size() - hint.size()), hint) << "the last line";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PartialImageTest,
    ::testing::Values(PartialImageCase{"RefusedBlock", "F9@3=status:195", "Error writing Flash",
                                       true},
                      PartialImageCase{"UnansweredBlock", "F9@2=none", "Error writing Flash", true},
                      PartialImageCase{"UnpluggedDuringBlocks", "F9@2=hangup",
                                       "ReadFile function failed (Error: 5)", true},
                      PartialImageCase{"UnansweredCpuId", "F5=none", "Error Reading CPU-ID", false},
                      PartialImageCase{"UnpluggedBeforeBlocks", "F2=hangup",
                                       "ReadFile function failed (Error: 5)", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliTest, RepeatRunsOnTheSameLink) {
    sim::KordelSim module;
    const Result r = RunFlash({"--quiet", "--repeat", "2", "--port", module.SlavePath()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Update OK\nUpdate OK\n");
    const auto requests = module.Requests();
    ASSERT_EQ(requests.size(), 2u * 34);
    EXPECT_EQ(requests[34].sequence, 35) << "the sequence number goes on";
}

// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) end the update at once, close the
// port first, and say what the module now holds.
class CancelTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(CancelTest, ClosesThePortAndExitsWith128PlusTheSignal) {
    const auto [signal, exitCode] = GetParam();
    sim::KordelSim module;
    std::string error;
    module.AddFault(*sim::ParseFaultRule("F9=delay:50", error));
    RunOptions options;
    options.signalAfterMs = 600;
    options.signal = signal;
    const Result r = RunFlash({"--quiet", "--port", module.SlavePath()}, options);
    EXPECT_EQ(r.exitCode, exitCode) << r.out << r.err;
    EXPECT_TRUE(module.WaitForCloses(1, 2000)) << "the port was closed";
    EXPECT_LT(module.Requests().size(), 34u);
    EXPECT_NE(r.err.find(module.SlavePath() + ": Interrupted: the module now holds a partial "
                                              "image and needs a new update"),
              std::string::npos)
        << r.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, CancelTest,
                         ::testing::Values(std::pair{SIGINT, 130}, std::pair{SIGTERM, 143},
                                           std::pair{SIGHUP, 129}));

struct UsageCase {
    std::vector<std::string> args;
    int exitCode;
    const char* output;
};

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, ExitCodeAndMessage) {
    const Result r = RunFlash(GetParam().args);
    EXPECT_EQ(r.exitCode, GetParam().exitCode);
    EXPECT_NE((r.out + r.err).find(GetParam().output), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Args, UsageTest,
    ::testing::Values(UsageCase{{}, 2, "name a port with --port"},
                      UsageCase{{"--frobnicate"}, 2, "unknown option '--frobnicate'"},
                      UsageCase{{"--port"}, 2, "--port needs a port name"},
                      UsageCase{{"--port="}, 2, "--port needs a port name"},
                      UsageCase{{"-p"}, 2, "--port needs a port name"},
                      UsageCase{{"-x"}, 2, "unknown option '-x'"},
                      UsageCase{{"-qx"}, 2, "unknown option '-x'"},
                      UsageCase{{"--sim=3"}, 2, "option '--sim' takes no value"},
                      UsageCase{{"--quiet=yes", "--sim"}, 2, "option '--quiet' takes no value"},
                      UsageCase{{"--sim", "--repeat", "0"}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "--repeat", " 3"}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "--repeat=3 "}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "-n+3"}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "-n", "3\t"}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "-n", "99999999999"}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "--json", "--quiet"}, 2, "--json and --quiet"},
                      UsageCase{{"--list", "--sim"}, 2, "--list and --sim do not go together"},
                      UsageCase{{"--port", "x", "-l"}, 2, "--list and --port do not go together"},
                      UsageCase{{"--list", "-n", "1"}, 2, "--list and --repeat do not go together"},
                      UsageCase{{"--list", "--trace"}, 2, "--list and --trace do not go together"},
                      UsageCase{{"--list", "--info"}, 2, "--list and --info do not go together"},
                      UsageCase{{"--info", "--sim", "--sim-fault", "F9=none"},
                                2,
                                "--info and --sim do not go together: --info only shows the image"},
                      UsageCase{{"--info", "--sim-fault", "F9=none"}, 2, "--info and --sim-fault"},
                      UsageCase{{"-i", "-p", "x"}, 2, "--info and --port do not go together"},
                      UsageCase{{"--info", "-n2"}, 2, "--info and --repeat do not go together"},
                      UsageCase{{"--info", "--trace"}, 2, "--info and --trace do not go together"},
                      UsageCase{{"--info", "--json", "--quiet"}, 2, "--json and --quiet"},
                      UsageCase{{"--list", "--quiet"}, 0, ""},
                      UsageCase{{"--info", "--quiet"}, 0, "Kordel Update v1.3.1"},
                      UsageCase{{"--sim", "extra"}, 2, "unexpected argument 'extra'"},
                      UsageCase{{"--sim", "--", "--json"}, 2, "unexpected argument '--json'"},
                      UsageCase{{"--port", "\x1b[31mred"}, 2, "no serial port named '\\x1B[31mred'"},
                      UsageCase{{"--sim", "--sim-fault", "F9"}, 2, "bad --sim-fault rule"},
                      UsageCase{{"--help"}, 0, "Usage: kordel-flash"},
                      UsageCase{{"--version"}, 0, "kordel-flash 1."},
                      UsageCase{{"-V"}, 0, "kordel-flash 1."},
                      UsageCase{{"--info"}, 0, "Kordel Update v1.3.1\nVersion 1.3 (00C1-"},
                      UsageCase{{"--list"}, 0, ""}));



class SimUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(SimUsageTest, ExitCodeAndMessage) {
    RunOptions sim;
    sim.program = KORDEL_SIM;
    const Result r = RunFlash(GetParam().args, sim);
    EXPECT_EQ(r.exitCode, GetParam().exitCode);
    EXPECT_NE((r.out + r.err).find(GetParam().output), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    SimArgs, SimUsageTest,
    ::testing::Values(UsageCase{{"--baud= 115200"}, 2, "--baud needs a number"},
                      UsageCase{{"--baud", "115200 "}, 2, "--baud needs a number"},
                      UsageCase{{"--baud=-1"}, 2, "--baud needs a number"},
                      UsageCase{{"--baud"}, 2, "--baud needs a number"},
                      UsageCase{{"--cpu-id=12"}, 2, "--cpu-id needs 24 hex digits"},
                      UsageCase{{"--fault=F9"}, 2, "bad fault rule 'F9'"},
                      UsageCase{{"--bogus"}, 2, "unknown option '--bogus'"},
                      UsageCase{{"-x"}, 2, "unknown option '-x'"},
                      UsageCase{{"--help=1"}, 2, "option '--help' takes no value"},
                      UsageCase{{"stray"}, 2, "unexpected argument 'stray'"},
                      UsageCase{{"-h"}, 0, "Usage: kordel-sim"}));

TEST(SimProgramTest, LinkRefusesAFileInTheWay) {
    testing::TempDir dir;
    testing::WriteFile("mine", "keep");
    RunOptions sim;
    sim.program = KORDEL_SIM;
    sim.signalAfterMs = 10000;  // a simulator that took the path would run until stopped
    const Result r = RunFlash({"--link", (dir.Path() / "mine").string()}, sim);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("/mine exists and is not a symbolic link; it is left alone"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(testing::ReadFile("mine"), "keep");
}

// The option forms of getopt: '=', attached short values, bundled flags.
class OptionFormTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(OptionFormTest, TwoQuietUpdatesOnThePort) {
    sim::KordelSim module;
    std::vector<std::string> args;
    for (auto a : GetParam()) {
        if (auto at = a.find("PORT"); at != std::string::npos) a.replace(at, 4, module.SlavePath());
        args.push_back(a);
    }
    const Result r = RunFlash(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Update OK\nUpdate OK\n");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, OptionFormTest,
    ::testing::Values(std::vector<std::string>{"--port=PORT", "--repeat=2", "--quiet"},
                      std::vector<std::string>{"-pPORT", "-n2", "-q"},
                      std::vector<std::string>{"-qn2", "-p", "PORT"},
                      std::vector<std::string>{"-qn", "2", "--port", "PORT", "--"}));

// Every line of a JSON run parses, whatever bytes the port name holds.
std::string BadJsonLine(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string problem = testing::JsonCheck::Problem(line);
        if (!problem.empty()) return problem + " in: " + line;
    }
    return "";
}

// A port name with a colour change, a cursor movement, a C1 control and bytes that
// are not UTF-8, made real by a link to a simulated module.
const std::string HostileName = "port-\x1b[31mred\x1b[2A-\xC2\x9B-\xFF\xFE-\xC3\xA9-end";

// True when the text holds a control character other than the line break, or bytes
// that are not valid UTF-8: as a JSON string literal it would not pass the check.
bool HasControlOrBadUtf8(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '"' || c == '\\') c = ' ';
    }
    return !testing::JsonCheck::Problem("\"" + text + "\"").empty();
}

TEST(CliJsonTest, HostilePortNameStaysValidJsonAndOffTheTerminal) {
    testing::TempDir dir;
    sim::SimOptions options;
    options.linkPath = dir.Path().string() + "/" + HostileName;
    sim::KordelSim module(options);
    const std::string gone = dir.Path().string() + "/" + HostileName + "-missing";

    const Result json = RunFlash({"--json", "--port", options.linkPath, "--port", gone});
    EXPECT_EQ(json.exitCode, 1) << json.err;
    EXPECT_EQ(BadJsonLine(json.out), "");
    EXPECT_NE(json.out.find("\"result\":\"ok\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("port-\\u001B[31mred\\u001B[2A-\\u009B-\\uFFFD\\uFFFD-\xC3\xA9-end"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"event\":\"summary\",\"updated\":1,\"modules\":2,"),
              std::string::npos)
        << json.out;

    const Result plain = RunFlash({"--port", options.linkPath, "--port", gone});
    EXPECT_EQ(plain.exitCode, 1);
    for (const std::string* text : {&plain.out, &plain.err}) {
        EXPECT_FALSE(HasControlOrBadUtf8(*text)) << *text;
        EXPECT_NE(text->find("port-\\x1B[31mred\\x1B[2A-\\xC2\\x9B-\\xFF\\xFE-\xC3\xA9-end"),
                  std::string::npos)
            << *text;
    }
}

TEST(CliJsonTest, ListAndInfoAreJson) {
    RunOptions options;
    options.environment = {"KORDEL_EXTRA_PORTS=/tmp/" + HostileName + ":/tmp/ttyPlain"};
    const Result list = RunFlash({"--list", "--json"}, options);
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(BadJsonLine(list.out), "");
    EXPECT_EQ(list.out.rfind("{\"event\":\"ports\",\"ports\":[", 0), 0u) << list.out;
    EXPECT_NE(list.out.find("{\"name\":\"/tmp/ttyPlain\",\"path\":\"/tmp/ttyPlain\","
                            "\"description\":\"\",\"kind\":null,\"vendor_id\":null,"
                            "\"product_id\":null,\"serial_number\":null,\"manufacturer\":null,"
                            "\"product\":null,\"location\":null,\"location_path\":null,"
                            "\"driver\":null}"),
              std::string::npos)
        << list.out;
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1);

    const Result text = RunFlash({"--list"}, options);
    EXPECT_FALSE(HasControlOrBadUtf8(text.out)) << text.out;

    const Result info = RunFlash({"--info", "--json"});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_EQ(BadJsonLine(info.out), "");
    EXPECT_NE(info.out.find("\"imageBytes\":7900,\"updateBytes\":7900,\"blocks\":31"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("\"toolVersion\":\"" + std::string(ToolVersion()) + "\""),
              std::string::npos)
        << info.out;
}

TEST(CliJsonTest, ProgressNeverPassesTheMaximum) {
    const Result r = RunFlash({"--json", "--sim"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(BadJsonLine(r.out), "");
    std::istringstream lines(r.out);
    std::string line;
    int progressLines = 0;
    std::string last;
    while (std::getline(lines, line)) {
        unsigned position = 0, maximum = 0;
        const auto at = line.find("\"position\":");
        if (at == std::string::npos) continue;
        ASSERT_EQ(std::sscanf(line.c_str() + at, "\"position\":%u,\"maximum\":%u", &position,
                              &maximum),
                  2)
            << line;
        EXPECT_LE(position, maximum) << line;
        ++progressLines;
        last = line;
    }
    EXPECT_EQ(progressLines, 32);
    EXPECT_NE(last.find("\"position\":7900,\"maximum\":7900,\"block\":31,\"blocks\":31"),
              std::string::npos)
        << last;
}

TEST(CliTest, SeveralPortsEndWithASummaryNamingTheFailed) {
    sim::KordelSim good1, good2, bad;
    std::string error;
    bad.AddFault(*sim::ParseFaultRule("F9@2=status:195", error));
    const Result r = RunFlash({"--port", good1.SlavePath(), "--port", bad.SlavePath(), "--port",
                               good2.SlavePath()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("2 of 3 modules updated; failed: " + bad.SlavePath() + " (CRYPT ERROR)\n"),
              std::string::npos)
        << r.err;
    // Every other line of standard error names the port it is about.
    std::istringstream lines(r.err);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(" modules updated") != std::string::npos) continue;
        EXPECT_EQ(line.rfind(bad.SlavePath() + ": ", 0), 0u) << line;
    }

    const Result ok = RunFlash({"--quiet", "--sim", "--sim"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("2 of 2 modules updated\n"), std::string::npos) << ok.out;
}

// With -n, the summary counts the updates as well as the modules: a module that failed
// its second update had one update that succeeded, and its third never ran.
TEST(CliTest, RepeatedUpdatesAreCountedInTheSummary) {
    sim::KordelSim good1, good2, bad;
    std::string error;
    bad.AddFault(*sim::ParseFaultRule("F9@40=status:195", error));  // block 9 of the second update
    const Result r = RunFlash({"-q", "-n", "3", "--port", good1.SlavePath(), "--port",
                               bad.SlavePath(), "--port", good2.SlavePath()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("2 of 3 modules updated (7 of 9 updates succeeded); failed: " +
                         bad.SlavePath() + " (CRYPT ERROR)\n"),
              std::string::npos)
        << r.err;

    const Result json = RunFlash({"--json", "-n", "2", "--sim", "--sim"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("{\"event\":\"summary\",\"updated\":2,\"modules\":2,"
                            "\"updates_succeeded\":4,\"updates\":4,\"failed\":[]}"),
              std::string::npos)
        << json.out;
}

struct HintCase {
    std::string port;  // "DIR" stands for a directory
    const char* hint;
};

class PortHintTest : public ::testing::TestWithParam<HintCase> {};

TEST_P(PortHintTest, EveryPortErrorHasAHint) {
    testing::TempDir dir;
    const std::string port = GetParam().port == "DIR" ? dir.Path().string() : GetParam().port;
    const Result r = RunFlash({"--port", port});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(port + ": hint: " + GetParam().hint), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortHintTest,
    ::testing::Values(HintCase{"/dev/ttyKORDEL-missing", "no such device"},
                      HintCase{"DIR", "Is a directory"},
                      HintCase{"/dev/null", "not a serial port"}));

// kordel-flash run by another user (uid 65534) on a terminal that user may not open.
TEST(CliTest, ARefusedPortIsExplainedByItsOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr) GTEST_SKIP() << "no dialout group";
    sim::KordelSim module;
    const std::string& port = module.SlavePath();
    RunOptions asNobody;
    asNobody.program = "/usr/bin/setpriv";
    const std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                           KORDEL_FLASH,    "--port",        port};
    const std::string failure = port + ": Unable to open com port (Error: 13)\n" + port +
                                ": hint: permission denied: " + port + " belongs to root:";

    ASSERT_EQ(::chown(port.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(port.c_str(), 0600), 0);
    const Result ownerOnly = RunFlash(args, asNobody);
    EXPECT_EQ(ownerOnly.exitCode, 1);
    EXPECT_NE(ownerOnly.err.find(failure + "root with mode 0600, so its group may not use it"),
              std::string::npos)
        << ownerOnly.err;
    EXPECT_EQ(ownerOnly.err.find("usermod"), std::string::npos) << ownerOnly.err;

    ASSERT_EQ(::chown(port.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(port.c_str(), 0660), 0);
    const Result groupMayUseIt = RunFlash(args, asNobody);
    EXPECT_EQ(groupMayUseIt.exitCode, 1);
    EXPECT_NE(groupMayUseIt.err.find(failure +
                                     "dialout with mode 0660: add your user to the dialout group "
                                     "(sudo usermod -aG dialout $USER) and log in again\n"),
              std::string::npos)
        << groupMayUseIt.err;
}

TEST(CliTest, VersionsNameTheToolAndTheFirmware) {
    const std::string firmware = std::string(ToolVersion()) + " (firmware 1.3, 7900 bytes)\n";
    EXPECT_EQ(RunFlash({"--version"}).out, "kordel-flash " + firmware);
    RunOptions sim;
    sim.program = KORDEL_SIM;
    EXPECT_EQ(RunFlash({"--version"}, sim).out, "kordel-sim " + firmware);
}

// The program as an 80x24 terminal shows it: each port's line redrawn in place, none
// wrapped, no stale bar left behind.
std::vector<std::string> RowsWith(const std::vector<std::string>& rows, const std::string& what) {
    std::vector<std::string> found;
    for (const auto& r : rows) {
        if (r.find(what) != std::string::npos) found.push_back(r);
    }
    return found;
}

TEST(CliTerminalTest, ProgressFitsAnEightyColumnTerminal) {
    testing::TempDir dir;
    const std::string longName =
        dir.Path().string() + "/serial-by-id-usb-Halvern_Instruments_Kordel_Programmer_0123456789-if00";
    sim::SimOptions options;
    options.linkPath = longName;
    sim::KordelSim linked(options);
    const auto run = testing::RunOnPty({KORDEL_FLASH, "--port", longName, "--sim", "--sim"}, 80, 24);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const auto screen = testing::Screen(run.output, 80);
    const auto rows = screen.Lines();
    std::string shown;
    for (const auto& r : rows) shown += "|" + r + "\n";
    // Only the simulated modules' long confirmations wrap, as prose does.
    for (const auto& wrapped : screen.WrappedLines()) {
        EXPECT_NE(wrapped.find("Simulated module"), std::string::npos) << wrapped << "\n" << shown;
    }
    EXPECT_EQ(screen.Unknown(), "");
    EXPECT_TRUE(RowsWith(rows, "[").empty()) << "a stale bar line\n" << shown;
    EXPECT_EQ(RowsWith(rows, "Update OK").size(), 3u) << shown;
    EXPECT_EQ(RowsWith(rows, "3 of 3 modules updated").size(), 1u) << shown;
    const auto longRow = RowsWith(rows, "if00  Update OK");
    ASSERT_EQ(longRow.size(), 1u) << shown;
    EXPECT_LE(longRow[0].size(), 79u);
    EXPECT_EQ(longRow[0].rfind("...", 0), 0u) << "the name is shortened from the left";
    // While the bars moved they carried the figures an 80-column line has room for.
    EXPECT_NE(run.output.find("blocks"), std::string::npos);
}

TEST(CliTerminalTest, NarrowTerminalGetsPlainLines) {
    const auto run = testing::RunOnPty({KORDEL_FLASH, "--sim"}, 39, 24);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find("\x1b["), std::string::npos) << "no cursor movement";
    EXPECT_NE(run.output.find(": 100% (31/31 blocks"), std::string::npos) << run.output;
}

TEST(CliTerminalTest, MorePortsThanRowsGetPlainLines) {
    const auto run =
        testing::RunOnPty({KORDEL_FLASH, "--sim", "--sim", "--sim", "--sim", "--sim"}, 80, 5);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find("\x1b["), std::string::npos) << "no cursor movement";
    EXPECT_NE(run.output.find("5 of 5 modules updated"), std::string::npos) << run.output;
}

TEST(CliTerminalTest, ResizedTerminalGetsLinesOfTheNewWidth) {
    testing::TempDir dir;
    sim::SimOptions options;
    options.linkPath = dir.Path().string() + "/a-port-name-long-enough-to-be-shortened-at-fifty-columns";
    std::string error;
    options.faults.push_back(*sim::ParseFaultRule("F9=delay:30", error));
    sim::KordelSim module(options);
    std::size_t resizedAt = std::string::npos;
    bool resized = false;
    const auto run = testing::RunOnPty(
        {KORDEL_FLASH, "--port", options.linkPath}, 100, 24, [&](int master, long ms) {
            if (resized || ms < 700) return;
            winsize ws{};
            ws.ws_col = 50;
            ws.ws_row = 24;
            ::ioctl(master, TIOCSWINSZ, &ws);
            resized = true;
        });
    ASSERT_TRUE(resized);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    // The lines written before the resize used the 100 columns; every line redrawn
    // after it fits 50.
    std::size_t widest = 0, widestAfter = 0, lines = 0;
    for (std::size_t at = run.output.find("\x1b[K"); at != std::string::npos;
         at = run.output.find("\x1b[K", at + 1)) {
        const std::size_t end = run.output.find('\r', at);
        const std::size_t width = end - at - 3;
        widest = std::max(widest, width);
        if (widest > 49 && width <= 49) resizedAt = std::min(resizedAt, at);
        if (resizedAt != std::string::npos) widestAfter = std::max(widestAfter, width), ++lines;
    }
    EXPECT_GT(widest, 49u) << "the first lines used the whole width";
    EXPECT_GT(lines, 3u) << "lines were drawn after the resize";
    EXPECT_LE(widestAfter, 49u);
}

}  // namespace
}  // namespace kordel

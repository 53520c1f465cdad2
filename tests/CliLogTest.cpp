// kordel-flash --log against simulated modules: each attempt's record checked against
// what the module holds and reports, the log through kill -9 and a torn line, two
// programs appending at once, and the station options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AuditLog.h"
#include "AuditRecord.h"
#include "BiosInfo.h"
#include "CancelToken.h"
#include "Flasher.h"
#include "JsonCheck.h"
#include "JsonReader.h"
#include "KordelSim.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "TerminalScreen.h"
#include "Text.h"

namespace kordel {
namespace {

using cli::JsonValue;
using Result = testing::ProgramRun;
namespace fs = std::filesystem;

Result RunFlash(const std::vector<std::string>& args, const testing::ProgramOptions& options = {}) {
    return testing::RunProgram(KORDEL_FLASH, args, options);
}

// Every line of the log, each checked to be one JSON object.
std::vector<JsonValue> Records(const std::string& path) {
    std::vector<JsonValue> records;
    std::istringstream in(testing::ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(testing::JsonCheck::Problem(line), "") << line;
        if (auto v = cli::ParseJson(line)) records.push_back(std::move(*v));
    }
    return records;
}

const JsonValue& At(const JsonValue& v, const char* key) {
    static const JsonValue missing;
    const JsonValue* found = v.Find(key);
    EXPECT_NE(found, nullptr) << "no field " << key;
    return found ? *found : missing;
}

bool IsNull(const JsonValue& v, const char* key) {
    const JsonValue* found = v.Find(key);
    return found != nullptr && found->type == JsonValue::Type::Null;
}

// The SHA-256 of a file as sha256sum computes it, in upper case.
std::string Sha256Sum(const std::string& path) {
    const Result r = testing::RunProgram("/usr/bin/sha256sum", {path});
    std::string digest = r.out.substr(0, 64);
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

std::chrono::system_clock::time_point ParseTime(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    EXPECT_EQ(
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &y, &mo, &d, &h, &mi, &s, &ms), 7)
        << text;
    EXPECT_EQ(text.size(), 24u) << text;
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
}

sim::FaultRule Fault(const std::string& text) {
    std::string error;
    return *sim::ParseFaultRule(text, error);
}

TEST(CliLogTest, SuccessRecordMatchesTheModule) {
    testing::TempDir dir;
    sim::SimOptions options;
    options.cpuId = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    options.flashOut = (dir.Path() / "flash.bin").string();
    sim::KordelSim module(options);
    const auto before = std::chrono::system_clock::now();
    const Result r = RunFlash({"--log", "station.log", "--station", "bench-3", "--operator",
                               "Anna Müller", "--quiet", "--port", module.SlavePath()});
    const auto after = std::chrono::system_clock::now();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(module.WaitForCloses(1, 2000));

    const auto records = Records("station.log");
    ASSERT_EQ(records.size(), 1u);
    const JsonValue& rec = records[0];
    EXPECT_EQ(rec.CountAt("schema"), 1u);
    const auto start = ParseTime(rec.StringAt("time").value_or(""));
    EXPECT_GE(start, std::chrono::floor<std::chrono::milliseconds>(before));
    EXPECT_LE(start, after);
    const auto duration = rec.CountAt("duration_ms").value_or(0);
    // 31 blocks each pause 25 ms, and the update 300 ms more.
    EXPECT_GE(duration, 31u * 25 + 300);
    EXPECT_LE(start + std::chrono::milliseconds(duration), after);
    EXPECT_EQ(rec.StringAt("station"), "bench-3");
    EXPECT_EQ(rec.StringAt("operator"), "Anna Müller");
    EXPECT_EQ(rec.StringAt("tool").value_or("") + "\n", RunFlash({"--version"}).out);
    const JsonValue& image = At(rec, "image");
    EXPECT_EQ(image.StringAt("version"), "1.3");
    EXPECT_EQ(image.CountAt("size"), 7900u);
    EXPECT_EQ(image.StringAt("sha256"), Sha256Sum(options.flashOut))
        << "the hash of every byte the module received";
    EXPECT_EQ(fs::file_size(options.flashOut), 31u * 256);
    EXPECT_EQ(rec.StringAt("port"), module.SlavePath());
    EXPECT_TRUE(IsNull(rec, "usb")) << "a pseudo-terminal is no USB device";
    const JsonValue& mod = At(rec, "module");
    EXPECT_EQ(mod.StringAt("cpu_id"), "DEADBEEF0011223344556677");
    const JsonValue& boot = At(mod, "boot_info");
    EXPECT_EQ(boot.StringAt("hex"), cli::HexDigits(sim::SimOptions::DefaultBootInfo()));
    EXPECT_EQ(boot.StringAt("date"), "2026-01-15");
    EXPECT_EQ(boot.StringAt("snr"), "SIM-000001");
    EXPECT_EQ(rec.StringAt("result"), "ok");
    EXPECT_EQ(rec.StringAt("message"), "Update OK");
    EXPECT_EQ(rec.StringAt("step"), "close");
    EXPECT_TRUE(IsNull(rec, "block"));
    EXPECT_EQ(rec.CountAt("blocks"), 31u);
    EXPECT_EQ(rec.CountAt("attempt"), 1u);
}

TEST(CliLogTest, StationDefaultsToTheHostNameAndOperatorToNull) {
    testing::TempDir dir;
    const Result r = RunFlash({"--log", "station.log", "--port", "/dev/ttyKORDEL-missing"});
    EXPECT_EQ(r.exitCode, 1);
    const auto records = Records("station.log");
    ASSERT_EQ(records.size(), 1u);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(records[0].StringAt("station"), std::string(host));
    EXPECT_TRUE(IsNull(records[0], "operator"));
}

struct FailureCase {
    const char* name;
    const char* fault;  // for the simulated module; empty: a port that does not exist
    const char* message;
    const char* step;
    int block;  // 0: null
    unsigned blocks;
    bool moduleAnswered;
    bool cpuIdRead;
    const char* bootInfo = nullptr;  // the identification reply's data; null: the default
};

std::vector<std::uint8_t> ShippedImage() {
    const std::string bytes = testing::ReadFile(KORDEL_SOURCE_DIR "/resources/kordel_bios.bin");
    return {bytes.begin(), bytes.end()};
}

class CliLogFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CliLogFailure, RecordSaysWhereTheUpdateStopped) {
    const FailureCase& c = GetParam();
    testing::TempDir dir;
    sim::KordelSim module;
    std::string port = "/dev/ttyKORDEL-missing";
    if (*c.fault != '\0') {
        module.AddFault(Fault(c.fault));
        port = module.SlavePath();
    }
    const Result r = RunFlash({"--log", "station.log", "--json", "--port", port});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const auto records = Records("station.log");
    ASSERT_EQ(records.size(), 1u);
    const JsonValue& rec = records[0];
    EXPECT_EQ(rec.StringAt("result"), "error");
    EXPECT_EQ(rec.StringAt("message"), c.message);
    EXPECT_EQ(rec.StringAt("step"), c.step);
    if (c.block == 0) {
        EXPECT_TRUE(IsNull(rec, "block"));
    } else {
        EXPECT_EQ(rec.CountAt("block"), static_cast<unsigned>(c.block));
    }
    EXPECT_EQ(rec.CountAt("blocks"), c.blocks);
    // The blocks counted are in the module's flash, and no block after the one it
    // stopped at was sent.
    const auto flash = module.Flash();
    const auto image = ShippedImage();
    ASSERT_GE(flash.size(), c.blocks * 256u);
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + c.blocks * 256, image.begin()));
    EXPECT_LE(flash.size(), c.block * 256u);
    EXPECT_EQ(IsNull(rec, "module"), !c.moduleAnswered);
    if (c.moduleAnswered) {
        const JsonValue& mod = At(rec, "module");
        EXPECT_EQ(mod.StringAt("cpu_id").has_value(), c.cpuIdRead);
        const JsonValue& boot = At(mod, "boot_info");
        if (c.bootInfo) {
            EXPECT_EQ(boot.StringAt("hex"), c.bootInfo);
            EXPECT_TRUE(IsNull(boot, "snr")) << "the reply ended before the serial number";
        } else {
            EXPECT_EQ(boot.StringAt("hex"), cli::HexDigits(sim::SimOptions::DefaultBootInfo()));
            EXPECT_EQ(boot.StringAt("snr"), "SIM-000001");
        }
    }
    // The message shown is the record's, to the letter.
    EXPECT_NE(r.out.find("\"result\":\"error\",\"message\":" + cli::JsonString(c.message)),
              std::string::npos)
        << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CliLogFailure,
    ::testing::Values(FailureCase{"no_port", "", "Unable to open com port (Error: 2)", "connect", 0,
                                  0, false, false},
                      FailureCase{"silent", "F2=none", "Kordel not found!", "identify", 0, 0, false,
                                  false},
                      FailureCase{"not_a_kordel", "F2=data:4B4F5244010302004143000100000000",
                                  "No Kordel connected!", "identify", 0, 0, true, false,
                                  "4B4F5244010302004143000100000000"},
                      FailureCase{"no_cpu_id", "F5=none", "Error Reading CPU-ID\r\nNO ANSWER",
                                  "cpu-id", 0, 0, true, false},
                      FailureCase{"refused_block", "F9@5=status:0xC3",
                                  "Error writing Flash\r\nCRYPT ERROR", "write", 5, 4, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliLogTest, RefusedBlockOfTheInProcessModule) {
    testing::TempDir dir;
    const Result r = RunFlash({"--sim", "--sim-fault", "F9@5=status:0xC3", "--log", "sim.log"});
    EXPECT_EQ(r.exitCode, 1);
    const auto records = Records("sim.log");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].StringAt("step"), "write");
    EXPECT_EQ(records[0].CountAt("block"), 5u);
    EXPECT_EQ(records[0].CountAt("blocks"), 4u);
    EXPECT_EQ(At(records[0], "module").StringAt("cpu_id"), cli::HexDigits(sim::SimOptions{}.cpuId));
}

TEST(CliLogTest, EachRetryIsItsOwnRecordAfterTheDelay) {
    testing::TempDir dir;
    sim::KordelSim module;
    module.AddFault(Fault("F9@2=status:0xC3"));  // only the second block ever sent
    const Result r = RunFlash({"--log", "station.log", "--retries", "3", "--retry-delay", "300",
                               "--json", "--port", module.SlavePath()});
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    const auto records = Records("station.log");
    ASSERT_EQ(records.size(), 2u) << "a successful retry ends the retries";
    EXPECT_EQ(records[0].StringAt("result"), "error");
    EXPECT_EQ(records[0].CountAt("block"), 2u);
    EXPECT_EQ(records[0].CountAt("attempt"), 1u);
    EXPECT_EQ(records[1].StringAt("result"), "ok");
    EXPECT_EQ(records[1].CountAt("blocks"), 31u);
    EXPECT_EQ(records[1].CountAt("attempt"), 2u);
    // Whole milliseconds each: the first attempt's end may read up to 2 ms late.
    const auto firstEnd = ParseTime(records[0].StringAt("time").value_or("")) +
                          std::chrono::milliseconds(records[0].CountAt("duration_ms").value_or(0));
    EXPECT_GE(ParseTime(records[1].StringAt("time").value_or("")) - firstEnd,
              std::chrono::milliseconds(298));
    EXPECT_NE(r.out.find("{\"event\":\"retry\",\"port\":" + cli::JsonString(module.SlavePath()) +
                         ",\"run\":1,\"attempt\":2,\"attempts\":4,\"delay_ms\":300}"),
              std::string::npos)
        << r.out;
    // Both attempts opened the port anew: two identification requests.
    int identifications = 0;
    for (const auto& f : module.Requests()) identifications += f.command == 0xF2;
    EXPECT_EQ(identifications, 2);
}

TEST(CliLogTest, RetriesRunOutAndTheRunFails) {
    testing::TempDir dir;
    sim::KordelSim module;
    module.AddFault(Fault("F2=none"));
    const Result r = RunFlash({"--log", "station.log", "--retries", "2", "--retry-delay", "0",
                               "--quiet", "--port", module.SlavePath()});
    EXPECT_EQ(r.exitCode, 1);
    const auto records = Records("station.log");
    ASSERT_EQ(records.size(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].StringAt("message"), "Kordel not found!");
        EXPECT_EQ(records[i].CountAt("attempt"), i + 1);
    }
}

TEST(CliLogTest, RetriesApplyToEachRepeatedRun) {
    testing::TempDir dir;
    sim::KordelSim module;
    // The first F2 and the third get no answer: run 1 needs a retry, and so does run 2.
    module.AddFault(Fault("F2@1=none"));
    module.AddFault(Fault("F2@3=none"));
    const Result r = RunFlash({"--log", "station.log", "--repeat", "2", "--retries", "1",
                               "--retry-delay", "0", "--quiet", "--port", module.SlavePath()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto records = Records("station.log");
    ASSERT_EQ(records.size(), 4u);
    const char* results[] = {"error", "ok", "error", "ok"};
    for (unsigned i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].StringAt("result"), results[i]) << i;
        EXPECT_EQ(records[i].CountAt("attempt"), i % 2 + 1) << i;
    }
    EXPECT_EQ(r.out, "Update OK\nUpdate OK\n");
}

TEST(CliLogTest, KillNineMidUpdateLeavesTheLogReadable) {
    testing::TempDir dir;
    // Three records first, from a port that does not exist.
    ASSERT_EQ(RunFlash({"--log", "station.log", "--retries", "2", "--retry-delay", "0", "--quiet",
                        "--port", "/dev/ttyKORDEL-missing"})
                  .exitCode,
              1);
    const std::string before = testing::ReadFile("station.log");
    ASSERT_EQ(Records("station.log").size(), 3u);

    sim::KordelSim module;
    module.AddFault(Fault("F9=delay:50"));
    testing::ProgramOptions kill;
    kill.signalAfterMs = 700;
    kill.signal = SIGKILL;
    const Result killed = RunFlash({"--log", "station.log", "--port", module.SlavePath()}, kill);
    EXPECT_EQ(killed.exitCode, 128 + SIGKILL);
    EXPECT_GT(module.Requests().size(), 3u) << "it was killed while writing blocks";
    EXPECT_EQ(testing::ReadFile("station.log"), before) << "no half record, nothing rewritten";

    // A power cut tears a record; the next run's record still starts on its own line.
    const std::string torn = testing::ReadFile("station.log").substr(0, 150);
    testing::WriteFile("station.log", before + torn);
    ASSERT_EQ(
        RunFlash({"--log", "station.log", "--quiet", "--port", "/dev/ttyKORDEL-missing"}).exitCode,
        1);
    const std::string after = testing::ReadFile("station.log");
    EXPECT_EQ(after.substr(0, before.size() + torn.size() + 1), before + torn + "\n");
    const Result report = RunFlash({"--log-report", "station.log"});
    EXPECT_EQ(report.exitCode, 0) << report.err;
    EXPECT_NE(report.err.find("1 line of 'station.log' skipped"), std::string::npos) << report.err;
    std::size_t rows = 0;
    std::istringstream lines(report.out);
    for (std::string line; std::getline(lines, line);) {
        rows += line.find("/dev/ttyKORDEL-missing") != std::string::npos;
    }
    EXPECT_EQ(rows, 4u) << report.out;
}

TEST(CliLogTest, TwoProgramsAppendingAtOnceGiveWholeRecords) {
    testing::TempDir dir;
    constexpr int Retries = 150;
    // Every attempt fails at once on a port that does not exist: many records fast.
    const auto run = [](const char* station) {
        return RunFlash({"--log", "shared.log", "--station", station, "--retries",
                         std::to_string(Retries), "--retry-delay", "0", "--quiet", "--port",
                         "/dev/ttyKORDEL-missing-" + std::string(station)});
    };
    Result a, b;
    std::thread other([&] { b = run("B"); });
    a = run("A");
    other.join();
    EXPECT_EQ(a.exitCode, 1);
    EXPECT_EQ(b.exitCode, 1);
    const auto records = Records("shared.log");
    ASSERT_EQ(records.size(), 2u * (Retries + 1));
    unsigned next[2] = {1, 1};
    for (const auto& rec : records) {
        const std::string station = rec.StringAt("station").value_or("?");
        ASSERT_TRUE(station == "A" || station == "B") << station;
        EXPECT_EQ(rec.StringAt("port"), "/dev/ttyKORDEL-missing-" + station);
        EXPECT_EQ(rec.CountAt("attempt"), next[station == "B"]++) << "in each program's order";
    }
}

TEST(CliLogTest, ALogThatCannotBeOpenedStopsBeforeAnyUpdate) {
    testing::TempDir dir;
    sim::KordelSim module;
    fs::create_directory("logs");
    const Result folder = RunFlash({"--log", "logs", "--port", module.SlavePath()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.err,
              "kordel-flash: Cannot open the log 'logs': it is not a regular file; no update was "
              "started\n");
    const Result missing = RunFlash({"--log", "new/station.log", "--port", module.SlavePath()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(fs::exists("new")) << "no folder made";
    EXPECT_TRUE(module.Requests().empty()) << "the module was never asked";

    // A serial port named as the log is refused without being opened: opening it would
    // act on the line.
    sim::KordelSim port;
    const Result device = RunFlash({"--log", port.SlavePath(), "--port", module.SlavePath()});
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_NE(device.err.find("it is not a regular file"), std::string::npos) << device.err;
    EXPECT_FALSE(port.WaitForCloses(1, 200)) << "the port named as the log was opened";
}

TEST(CliLogTest, JsonResultsAreUnchangedByTheLog) {
    testing::TempDir dir;
    sim::KordelSim module;
    const Result r = RunFlash({"--json", "--log", "station.log", "--port", module.SlavePath()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"port\":" + cli::JsonString(module.SlavePath()) +
                         ",\"run\":1,\"result\":\"ok\",\"message\":\"Update OK\"}\n"),
              std::string::npos)
        << r.out;
}

TEST(CliLogTest, ReportOfTheLogAsTableAndCsv) {
    testing::TempDir dir;
    sim::KordelSim module;
    module.AddFault(Fault("F9@3=status:0xC3"));
    ASSERT_EQ(RunFlash({"--log", "station.log", "--station", "bench-1", "--retries", "1",
                        "--retry-delay", "0", "--quiet", "--port", module.SlavePath()})
                  .exitCode,
              0);
    const Result table = RunFlash({"--log-report", "station.log"});
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(table.err, "");
    EXPECT_NE(table.out.find("write 3"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("Error writing Flash / CRYPT ERROR"), std::string::npos) << table.out;
    const Result csv = RunFlash({"--log-report=station.log", "--csv"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_NE(csv.out.find("\"Error writing Flash\r\nCRYPT ERROR\""), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find(",1,1\r\n"), std::string::npos) << "bench-1: one passed, one failed\n"
                                                           << csv.out;
    EXPECT_EQ(RunFlash({"--log-report", "missing.log"}).exitCode, 1);
}

TEST(CliLogTest, AfterARetryThatPassedTheSummaryCountsThePortUpdated) {
    sim::KordelSim good, flaky;
    flaky.AddFault(Fault("F2@1=none"));
    const Result r = RunFlash({"--retries", "1", "--retry-delay", "0", "--port", good.SlavePath(),
                               "--port", flaky.SlavePath()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("2 of 2 modules updated\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find(flaky.SlavePath() + ": retrying in 0 ms (attempt 2 of 2)\n"),
              std::string::npos)
        << r.out;

    // On a terminal the failure's text comes below the bars, and what came of it with it.
    sim::KordelSim again;
    again.AddFault(Fault("F2@1=none"));
    const auto run = testing::RunOnPty(
        {KORDEL_FLASH, "--retries", "1", "--retry-delay", "0", "--port", again.SlavePath()}, 80,
        24);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string failed = again.SlavePath() + ": Kordel not found!\r\n" + again.SlavePath() +
                               ": retrying in 0 ms (attempt 2 of 2)\r\n";
    EXPECT_NE(run.output.find(failed), std::string::npos) << run.output;
}

// The result is shown only once its record is on the disk: while another program holds
// the log's lock, the record waits and so does the result.
TEST(CliLogTest, TheResultWaitsForItsRecord) {
    testing::TempDir dir;
    testing::WriteFile("station.log", "");
    const int lock = ::open("station.log", O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const std::string command =
        std::string(KORDEL_FLASH) + " --json --log station.log --port /dev/ttyKORDEL-missing 2>&1";
    FILE* program = ::popen(command.c_str(), "r");
    ASSERT_NE(program, nullptr);
    std::string shown;
    const auto read = [&](int ms) {
        pollfd p{::fileno(program), POLLIN, 0};
        char buf[4096];
        while (::poll(&p, 1, ms) > 0) {
            const ssize_t n = ::read(p.fd, buf, sizeof buf);
            if (n <= 0) break;
            shown.append(buf, static_cast<std::size_t>(n));
        }
    };
    // The port's opening fails at once; the record then waits for the lock.
    for (int i = 0; i < 100 && shown.find("\"step\":\"connecting\"") == std::string::npos; ++i) {
        read(50);
    }
    ASSERT_NE(shown.find("\"step\":\"connecting\""), std::string::npos) << shown;
    read(300);
    EXPECT_EQ(shown.find("\"event\":\"result\""), std::string::npos) << shown;
    EXPECT_EQ(testing::ReadFile("station.log"), "");
    ::flock(lock, LOCK_UN);
    read(2000);
    EXPECT_EQ(WEXITSTATUS(::pclose(program)), 1);
    ::close(lock);
    EXPECT_NE(shown.find("\"event\":\"result\""), std::string::npos) << shown;
    EXPECT_EQ(Records("station.log").size(), 1u);
}

// A record that cannot be written fails the run although the module was updated, and
// that port makes no further attempt.
TEST(CliLogTest, ARecordThatCannotBeWrittenFailsTheRun) {
    testing::TempDir dir;
    sim::KordelSim module;
    cli::TAuditLog log("station.log", std::chrono::milliseconds(50));
    const auto holder = cli::TAuditFile::Open("station.log", cli::TAuditFile::Access::Append);
    ASSERT_TRUE(holder->TryLock(true));
    std::ostringstream out, err;
    cli::Reporter reporter(cli::OutputMode::Plain, out, err, {module.SlavePath()});
    const std::string image = testing::ReadFile(KORDEL_SOURCE_DIR "/resources/kordel_bios.bin");
    const std::vector<std::uint8_t> bytes(image.begin(), image.end());
    cli::FlashPlan plan;
    plan.ports = {module.SlavePath()};
    plan.repeat = 3;
    plan.image = bytes;
    plan.info = TBiosInfo::FromBytes(UnscrambleBiosInfo(bytes));
    plan.log = &log;
    const TCancelToken never;
    EXPECT_EQ(cli::FlashAll(plan, reporter, never), cli::Outcome::Failed);
    EXPECT_EQ(out.str().find("Update OK"), out.str().rfind("Update OK")) << "one update only";
    EXPECT_NE(out.str().find("Update OK"), std::string::npos) << out.str();
    EXPECT_NE(err.str().find("Cannot lock the log 'station.log': another program has held its "
                             "lock for 50 ms; this attempt is not in the log"),
              std::string::npos)
        << err.str();
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

class CliLogUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliLogUsage, BadStationOptionsAreUsageErrors) {
    const Result r = RunFlash(GetParam().args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Args, CliLogUsage,
    ::testing::Values(
        UsageCase{{"--sim", "--retries", "-1"},
                  "--retries needs a number from 0 to 1000, not '-1'"},
        UsageCase{{"--sim", "--retries=1001"}, "--retries needs a number"},
        UsageCase{{"--sim", "--retries", "2", "--retry-delay", "600001"}, "--retry-delay needs"},
        UsageCase{{"--sim", "--retry-delay", "10"}, "--retry-delay needs --retries"},
        UsageCase{{"--sim", "--log="}, "--log needs a file name"},
        UsageCase{{"--sim", "--log"}, "--log needs a file name"},
        UsageCase{{"--sim", "--station", "x"}, "--station needs --log"},
        UsageCase{{"--sim", "--operator", "x"}, "--operator needs --log"},
        UsageCase{{"--sim", "--log", "l", "--station", "a\x1b[2Jb"}, "--station needs a name"},
        UsageCase{{"--sim", "--log", "l", "--operator", ""}, "--operator needs a name"},
        UsageCase{{"--sim", "--log", "l", "--station", std::string(129, 's')}, "--station needs"},
        UsageCase{{"--csv"}, "--csv needs --log-report"},
        UsageCase{{"--log-report", "l", "--sim"}, "--log-report reads a log"},
        UsageCase{{"--log-report="}, "--log-report needs a file name"}));

}  // namespace
}  // namespace kordel

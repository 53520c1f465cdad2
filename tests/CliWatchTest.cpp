// kordel-flash --watch against simulated modules (kordel-sim --link) that appear in and
// vanish from a watched folder: several at once, a refused block, an unplug in the
// middle of an update, one update per plug, --once, and SIGTERM in the middle; every
// record checked against the simulator's flash and CPU-ID.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "JsonCheck.h"
#include "JsonReader.h"
#include "Reporter.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "TerminalScreen.h"

namespace kordel {
namespace {

using cli::JsonValue;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A program running in the background, its output in files.
class Background {
  public:
    Background(const char* program, const std::vector<std::string>& args, const fs::path& out,
               const fs::path& err)
        : out_(out), err_(err) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all = {program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_GT(pid_, 0) << "cannot start " << program;
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }
    void Signal(int signal) const { ::kill(pid_, signal); }
    // The exit status; 128 + the signal that ended it.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Out() const { return testing::ReadFile(out_); }
    std::string Err() const { return testing::ReadFile(err_); }

  private:
    pid_t pid_ = -1;
    fs::path out_, err_;
};

// Waits (generously: the machine may be busy) until `done` holds.
bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::vector<JsonValue> JsonLines(const std::string& text) {
    std::vector<JsonValue> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(testing::JsonCheck::Problem(line), "") << line;
        if (auto v = cli::ParseJson(line)) values.push_back(std::move(*v));
    }
    return values;
}

// The whole lines of a file that is being written.
std::string WholeLines(std::string text) {
    const std::size_t last = text.find_last_of('\n');
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

// The log's whole records (a reader never takes a line without its line break).
std::vector<JsonValue> Records(const fs::path& log) {
    return JsonLines(WholeLines(testing::ReadFile(log)));
}

std::string CpuIdOf(const JsonValue& record) {
    const JsonValue* module = record.Find("module");
    return module ? module->StringAt("cpu_id").value_or("") : "";
}

std::vector<JsonValue> RecordsOf(const fs::path& log, const std::string& cpuId) {
    std::vector<JsonValue> mine;
    for (auto& r : Records(log)) {
        if (CpuIdOf(r) == cpuId) mine.push_back(std::move(r));
    }
    return mine;
}

// How many events of one kind the --json output has for a port.
std::size_t Events(const std::string& out, const std::string& event, const std::string& port) {
    std::size_t n = 0;
    for (const auto& e : JsonLines(WholeLines(out))) {
        n += e.StringAt("event") == event && e.StringAt("port") == port;
    }
    return n;
}

// A station folder with the watch running over it.
class CliWatchTest : public ::testing::Test {
  protected:
    fs::path Link(const std::string& name) const { return dir_.Path() / name; }
    fs::path Log() const { return dir_.Path() / "station.log"; }

    std::unique_ptr<Background> StartWatch(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--watch", "--json", "--port",
                                         (dir_.Path() / "ttySIM*").string(), "--log",
                                         Log().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto watch = std::make_unique<Background>(KORDEL_FLASH, args, dir_.Path() / "watch.out",
                                                  dir_.Path() / "watch.err");
        return watch;
    }

    // A simulated module plugged in as `name`, with CPU-ID `cpuId`, its flash written to
    // name.flash at every close.
    std::unique_ptr<Background> Plug(const std::string& name, const std::string& cpuId,
                                     std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--link", Link(name).string(), "--cpu-id", cpuId,
                                         "--flash-out", (dir_.Path() / (name + ".flash")).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<Background>(KORDEL_SIM, args, dir_.Path() / (name + ".out"),
                                                dir_.Path() / (name + ".err"));
        EXPECT_TRUE(WaitFor([&] { return fs::is_symlink(Link(name)); })) << name << " has no link";
        return sim;
    }
    static void Unplug(std::unique_ptr<Background>& sim) {
        sim->Signal(SIGTERM);
        sim->Wait();
        sim.reset();
    }

    std::uintmax_t FlashSize(const std::string& name) const {
        std::error_code error;
        const auto size = fs::file_size(dir_.Path() / (name + ".flash"), error);
        return error ? 0 : size;
    }

    bool RecordCount(std::size_t n) const { return Records(Log()).size() >= n; }

    testing::TempDir dir_;
};

constexpr const char* CpuA = "A1A1A1A1A1A1A1A1A1A1A1A1";
constexpr const char* CpuB = "B2B2B2B2B2B2B2B2B2B2B2B2";
constexpr const char* CpuC = "C3C3C3C3C3C3C3C3C3C3C3C3";
constexpr std::uintmax_t ImageBytes = 31 * 256;

TEST_F(CliWatchTest, EachPlugGetsOneUpdateAndARefusedBlockFailsThatPortAlone) {
    auto present = Plug("ttySIM-c", CpuC);  // there before the watch starts: updated too
    auto watch = StartWatch();
    auto a = Plug("ttySIM-a", CpuA);
    auto b = Plug("ttySIM-b", CpuB, {"--fault", "F9@3=status:0xC3"});
    ASSERT_TRUE(WaitFor([&] { return RecordCount(3); })) << watch->Out() << watch->Err();

    // Left plugged in, a module is not updated again.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Records(Log()).size(), 3u) << watch->Out();
    // Unplugged and plugged again: its second update.
    Unplug(a);
    const std::string port = Link("ttySIM-a").string();
    ASSERT_TRUE(WaitFor([&] { return Events(watch->Out(), "port-removed", port) == 1; }))
        << watch->Out();
    a = Plug("ttySIM-a", CpuA);
    ASSERT_TRUE(WaitFor([&] { return RecordsOf(Log(), CpuA).size() == 2; })) << watch->Out();

    watch->Signal(SIGTERM);
    EXPECT_EQ(watch->Wait(), 1) << "a refused block is a failed update";
    const std::string out = watch->Out();

    for (const char* cpu : {CpuA, CpuC}) {
        for (const auto& r : RecordsOf(Log(), cpu)) {
            EXPECT_EQ(r.StringAt("result"), "ok") << cpu;
            EXPECT_EQ(r.CountAt("blocks"), 31u) << cpu;
        }
    }
    EXPECT_EQ(RecordsOf(Log(), CpuA).size(), 2u);
    EXPECT_EQ(RecordsOf(Log(), CpuC).size(), 1u);
    EXPECT_EQ(RecordsOf(Log(), CpuC)[0].StringAt("port"), Link("ttySIM-c").string());
    EXPECT_EQ(FlashSize("ttySIM-a"), ImageBytes);
    EXPECT_EQ(FlashSize("ttySIM-c"), ImageBytes);
    const auto refused = RecordsOf(Log(), CpuB);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].StringAt("result"), "error");
    EXPECT_EQ(refused[0].StringAt("message"), "Error writing Flash\r\nCRYPT ERROR");
    EXPECT_EQ(refused[0].StringAt("step"), "write");
    EXPECT_EQ(refused[0].CountAt("blocks"), 2u);
    // The module refused the third block's reply; it holds at most what it was sent.
    EXPECT_GE(FlashSize("ttySIM-b"), 2u * 256);
    EXPECT_LE(FlashSize("ttySIM-b"), 3u * 256);

    // The events of a port: added, started, progress, result, removed.
    EXPECT_EQ(Events(out, "port-added", port), 2u) << out;
    EXPECT_EQ(Events(out, "started", port), 2u) << out;
    EXPECT_GE(Events(out, "progress", port), 2u * 31) << out;
    EXPECT_EQ(Events(out, "result", port), 2u) << out;
    EXPECT_EQ(Events(out, "port-removed", port), 1u) << out;
    const auto values = JsonLines(out);
    ASSERT_FALSE(values.empty());
    const JsonValue& summary = values.back();
    EXPECT_EQ(summary.StringAt("event"), "summary") << out;
    EXPECT_EQ(summary.CountAt("passed"), 3u) << out;
    EXPECT_EQ(summary.CountAt("failed"), 1u) << out;
}

TEST_F(CliWatchTest, UnpluggedMidUpdateEndsThatPortAloneAndTheOthersFinish) {
    auto watch = StartWatch();
    // Slow writes, so that the unplug comes in the middle.
    auto a = Plug("ttySIM-a", CpuA, {"--fault", "F9=delay:60"});
    auto b = Plug("ttySIM-b", CpuB, {"--fault", "F9=delay:60"});
    auto c = Plug("ttySIM-c", CpuC, {"--fault", "F9=delay:60"});
    const std::string port = Link("ttySIM-b").string();
    ASSERT_TRUE(WaitFor([&] { return Events(watch->Out(), "progress", port) >= 6; }))
        << watch->Out() << watch->Err();
    Unplug(b);
    ASSERT_TRUE(WaitFor([&] { return RecordCount(3); })) << watch->Out() << watch->Err();
    watch->Signal(SIGTERM);
    EXPECT_EQ(watch->Wait(), 1) << "the unplugged update failed";

    for (const char* cpu : {CpuA, CpuC}) {
        const auto records = RecordsOf(Log(), cpu);
        ASSERT_EQ(records.size(), 1u) << cpu;
        EXPECT_EQ(records[0].StringAt("result"), "ok") << cpu;
    }
    EXPECT_EQ(FlashSize("ttySIM-a"), ImageBytes);
    EXPECT_EQ(FlashSize("ttySIM-c"), ImageBytes);
    const auto cut = RecordsOf(Log(), CpuB);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].StringAt("result"), "error");
    EXPECT_EQ(cut[0].StringAt("step"), "write");
    const auto blocks = cut[0].CountAt("blocks").value_or(99);
    EXPECT_GE(blocks, 5u);
    EXPECT_LT(blocks, 31u);
    EXPECT_EQ(Events(watch->Out(), "port-removed", port), 1u);
}

TEST_F(CliWatchTest, OnceSkipsAModuleWithAnOkRecordAfterReadingItsCpuId) {
    {  // A first session updates module A.
        auto watch = StartWatch({"--once"});
        auto a = Plug("ttySIM-a", CpuA);
        ASSERT_TRUE(WaitFor([&] { return RecordCount(1); })) << watch->Out() << watch->Err();
        watch->Signal(SIGTERM);
        EXPECT_EQ(watch->Wait(), 0);
        Unplug(a);
    }
    fs::remove(dir_.Path() / "ttySIM-a.flash");
    auto watch = StartWatch({"--once"});
    auto a = Plug("ttySIM-a", CpuA);
    auto b = Plug("ttySIM-b", CpuB);
    ASSERT_TRUE(WaitFor([&] { return RecordCount(3); })) << watch->Out() << watch->Err();
    watch->Signal(SIGTERM);
    EXPECT_EQ(watch->Wait(), 0) << watch->Err();

    const auto records = RecordsOf(Log(), CpuA);
    ASSERT_EQ(records.size(), 2u);
    const JsonValue& skip = records[1];
    EXPECT_EQ(skip.StringAt("message"),
              std::string("Skipped: the module with CPU-ID ") + CpuA +
                  " already has an ok record in the log; nothing was written");
    EXPECT_EQ(skip.StringAt("result"), "ok");
    const JsonValue* skipped = skip.Find("skipped");
    ASSERT_NE(skipped, nullptr);
    EXPECT_EQ(skipped->type, JsonValue::Type::Bool);
    EXPECT_TRUE(skipped->boolean);
    EXPECT_EQ(skip.StringAt("step"), "cpu-id");
    EXPECT_EQ(skip.CountAt("blocks"), 0u);
    EXPECT_EQ(records[0].Find("skipped"), nullptr) << "an update that wrote is no skip";
    EXPECT_EQ(FlashSize("ttySIM-a"), 0u) << "nothing written to the skipped module";
    // The other module has no record yet: it is updated.
    ASSERT_EQ(RecordsOf(Log(), CpuB).size(), 1u);
    EXPECT_EQ(FlashSize("ttySIM-b"), ImageBytes);
    const std::string out = watch->Out();
    EXPECT_NE(out.find("\"result\":\"skipped\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"skipped\":1"), std::string::npos) << out;
}

TEST_F(CliWatchTest, SigtermMidUpdateEndsWith143AndSaysTheModuleHoldsAPartialImage) {
    auto watch = StartWatch();
    auto a = Plug("ttySIM-a", CpuA, {"--fault", "F9=delay:60"});
    const std::string port = Link("ttySIM-a").string();
    ASSERT_TRUE(WaitFor([&] { return Events(watch->Out(), "progress", port) >= 4; }))
        << watch->Out() << watch->Err();
    watch->Signal(SIGTERM);
    EXPECT_EQ(watch->Wait(), 143);
    EXPECT_NE(watch->Err().find("partial image"), std::string::npos) << watch->Err();
    const auto records = RecordsOf(Log(), CpuA);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].StringAt("result"), "error");
    EXPECT_EQ(records[0].StringAt("message"),
              "Interrupted: the module now holds a partial image and needs a new update");
}

// Just after a node appears udev is still setting its group and mode: the watch opens a
// port only once it has been there for a moment (a lower bound, whatever the load).
TEST_F(CliWatchTest, APortIsOpenedOnlyAfterItHasSettled) {
    auto watch = StartWatch();
    auto first = Plug("ttySIM-a", CpuA);  // the watch is running once this is done
    ASSERT_TRUE(WaitFor([&] { return RecordCount(1); })) << watch->Out() << watch->Err();

    Background sim(KORDEL_SIM, {"--cpu-id", CpuB}, dir_.Path() / "b.out", dir_.Path() / "b.err");
    std::string pty;
    ASSERT_TRUE(WaitFor([&] {
        const std::string out = sim.Out();
        pty = out.substr(0, out.find('\n'));
        return out.find('\n') != std::string::npos;
    }));
    const std::string port = Link("ttySIM-b").string();
    const auto made = std::chrono::steady_clock::now();
    fs::create_symlink(pty, port);
    ASSERT_TRUE(WaitFor([&] { return Events(watch->Out(), "started", port) == 1; }))
        << watch->Out() << watch->Err();
    EXPECT_GE(std::chrono::steady_clock::now() - made, 100ms);
    ASSERT_TRUE(WaitFor([&] { return RecordCount(2); })) << watch->Out() << watch->Err();
    EXPECT_EQ(RecordsOf(Log(), CpuB).at(0).StringAt("result"), "ok");
}

TEST_F(CliWatchTest, SigtermWithNothingRunningEndsWithTheResults) {
    auto watch = StartWatch();
    auto a = Plug("ttySIM-a", CpuA);
    ASSERT_TRUE(WaitFor([&] { return RecordCount(1); })) << watch->Out() << watch->Err();
    watch->Signal(SIGINT);
    EXPECT_EQ(watch->Wait(), 0) << watch->Err();
}

struct UsageCase {
    std::vector<std::string> args;
    std::string message;
};

class CliWatchUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliWatchUsage, IsRefusedWithExit2) {
    const auto r = testing::RunProgram(KORDEL_FLASH, GetParam().args);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliWatchUsage,
    ::testing::Values(
        UsageCase{{"--watch", "--once"}, "--once needs --log"},
        UsageCase{{"--once", "--log", "x.log", "--port", "/dev/null"}, "--once needs --watch"},
        UsageCase{{"--watch", "--sim"}, "--watch and --sim do not go together"},
        UsageCase{{"--watch", "--repeat", "2"}, "--watch and --repeat do not go together"},
        UsageCase{{"--watch", "--all", "--port", "/dev/ttyUSB*"},
                  "--watch and --all do not go together"},
        UsageCase{{"--watch", "--list"}, "--list and --watch do not go together"},
        UsageCase{{"--watch", "--log-report", "x.log"}, "--watch and --log-report"},
        UsageCase{{"--watch", "--port", "usb:12"}, "usb: takes a vendor and a product id"},
        UsageCase{{"--watch", "--port", "/tmp/*/ttySIM0"}, "no *, ? or [...] in it"}));

// On a terminal: one line per slot and the counter line below them, redrawn in place.
TEST(WatchReporterTest, TerminalShowsALinePerSlotAndTheCounters) {
    std::ostringstream out, err;
    cli::Reporter reporter(cli::OutputMode::Terminal, out, err, {}, 80);
    reporter.StartWatch();
    const auto first = reporter.AddSlot("/dev/ttyUSB0", "1-1.4 ttyUSB0", "");
    reporter.PortAdded(first);
    reporter.Started(first, 1);
    reporter.Success(first, 1);
    reporter.Ended(cli::Reporter::WatchResult::Passed);
    const auto second = reporter.AddSlot("/dev/ttyUSB1", "1-1.3 ttyUSB1", "");
    reporter.PortAdded(second);
    reporter.Started(second, 1);
    reporter.Failure(second, 1, "Error writing Flash\r\nCRYPT ERROR", "");
    reporter.Ended(cli::Reporter::WatchResult::Failed);
    reporter.PortRemoved(first);
    const auto third = reporter.AddSlot("/dev/ttyUSB2", "1-1.2 ttyUSB2", "");
    reporter.PortAdded(third);
    reporter.Started(third, 1);
    reporter.Finish();
    testing::TerminalScreen screen(80);
    screen.Feed(out.str());
    const auto lines = screen.Lines();
    ASSERT_GE(lines.size(), 4u) << out.str();
    EXPECT_NE(lines[0].find("1-1.4 ttyUSB0  removed (last: Update OK)"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("1-1.3 ttyUSB1  ERROR: CRYPT ERROR"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("1-1.2 ttyUSB2  started"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("1 passed, 1 failed, 0 skipped, 1 in progress since "),
              std::string::npos)
        << lines[3];
}

}  // namespace
}  // namespace kordel

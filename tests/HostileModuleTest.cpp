// kordel-flash against a simulated module that misbehaves: a seeded run of randomised
// faults (no reply, stray bytes, wrong sequence, bad marker or check, truncation,
// refusing statuses, late replies, replaced data, unplugging). Every run must
//  - exit 0 only when the module got the whole image, and fail where a fault must fail;
//  - end with one of the texts the updater is allowed to show;
//  - end within its time bound, without keeping a processor busy while it waits.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KordelSim.h"
#include "RunProgram.h"

namespace kordel {
namespace {

constexpr int Blocks = 31;  // the embedded image: 7900 bytes
constexpr double RunBoundSeconds = 10.0;
constexpr int Scenarios = 100;
constexpr unsigned DefaultSeed = 20261210;
// The processor time all runs together may use: twice the cost of starting the tool
// per run, plus this share of the time they took.
constexpr double SpareCpuShare = 0.03;

using FlashRun = testing::ProgramRun;

// Runs kordel-flash with `args`; killed when it outlives the bound by far.
FlashRun RunFlash(const std::vector<std::string>& args) {
    testing::ProgramOptions options;
    options.signalAfterMs = 60000;
    options.signal = SIGKILL;
    return testing::RunProgram(KORDEL_FLASH, args, options);
}

FlashRun Update(const std::string& port) {
    return RunFlash({"--json", "--port", port});
}

enum class Outcome { Succeeds, Fails, Either };

struct Scenario {
    std::vector<std::string> rules;  // as given to --fault
    std::vector<sim::FaultRule> parsed;
    Outcome expected = Outcome::Succeeds;
};

// The first-byte time-out of each command's exchange.
int FirstByteTimeoutMs(int command) {
    return command == 0xF9 ? 500 : 200;
}

// What the faults that hit one request do to the update.
Outcome Effect(int command, const std::vector<sim::Fault>& faults) {
    const bool closing = command == 0xF1;  // its result is ignored
    int delay = 0;
    bool fatal = false, unclear = false;
    for (const auto& f : faults) {
        switch (f.kind) {
            case sim::FaultKind::HangUp:
                return closing ? Outcome::Either : Outcome::Fails;
            case sim::FaultKind::Delay:
                delay += f.arg;
                break;
            case sim::FaultKind::Data:
                // New identification or CPU-ID data: what the tool makes of it depends on the
                // bytes; a flash-write reply's data is not read.
                unclear = unclear || command == 0xF2 || command == 0xF5;
                break;
            case sim::FaultKind::Status:
                fatal = fatal || f.arg != 0;
                break;
            default:  // no reply, stray byte, sequence, marker, check, truncation
                fatal = true;
        }
    }
    if (closing) return Outcome::Succeeds;
    if (fatal) return Outcome::Fails;
    const int timeout = FirstByteTimeoutMs(command);
    if (delay > timeout + 60) return Outcome::Fails;
    if (delay > timeout - 60 || unclear) return Outcome::Either;
    return Outcome::Succeeds;
}

// Walks the requests of a whole update in order and predicts its outcome.
Outcome Predict(const std::vector<sim::FaultRule>& rules) {
    std::vector<int> commands = {0xF2, 0xF5};
    commands.insert(commands.end(), Blocks, 0xF9);
    commands.push_back(0xF1);
    int seen[256] = {};
    Outcome outcome = Outcome::Succeeds;
    for (int command : commands) {
        const int occurrence = ++seen[command];
        std::vector<sim::Fault> hits;
        for (const auto& r : rules) {
            if ((r.command < 0 || r.command == command) &&
                (r.occurrence == 0 || r.occurrence == occurrence)) {
                hits.push_back(r.fault);
            }
        }
        const Outcome effect = Effect(command, hits);
        if (effect == Outcome::Fails) return outcome == Outcome::Either ? Outcome::Either : Outcome::Fails;
        if (effect == Outcome::Either) outcome = Outcome::Either;
    }
    return outcome;
}

std::string RandomRule(std::mt19937& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const char* const commands[] = {"F2", "F5", "F9", "F9", "F9", "F1", "*"};
    const std::string command = commands[pick(7)];
    const int most = command == "F9" || command == "*" ? Blocks + 2 : 2;
    const int occurrence = pick(4) == 0 ? 0 : 1 + pick(most);
    std::string rule = command + (occurrence ? "@" + std::to_string(occurrence) : "") + "=";
    switch (pick(10)) {
        case 0: return rule + "none";
        case 1: return rule + "garbage";
        case 2: return rule + "seq";
        case 3: return rule + "marker";
        case 4: return rule + "check";
        case 5: return rule + "trunc:" + std::to_string(pick(7));
        case 6: {
            static const int statuses[] = {1, 0x7F, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xFF};
            return rule + "status:" + std::to_string(statuses[pick(8)]);
        }
        case 7: {
            // Late on every request only a little; once, around and past the time-outs.
            static const int once[] = {100, 190, 260, 450, 600};
            return rule + "delay:" + std::to_string(occurrence == 0 ? 10 + pick(30) : once[pick(5)]);
        }
        case 8: {
            std::string hex;
            for (int i = pick(21); i > 0; --i) {
                char byte[3];
                std::snprintf(byte, sizeof byte, "%02X", pick(256));
                hex += byte;
            }
            return rule + "data:" + hex;
        }
        default: return rule + "hangup";
    }
}

std::vector<Scenario> MakeScenarios(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<Scenario> scenarios(Scenarios);  // the first one has no fault
    for (std::size_t i = 1; i < scenarios.size(); ++i) {
        for (int n = 1 + static_cast<int>(rng() % 2); n > 0; --n) {
            scenarios[i].rules.push_back(RandomRule(rng));
        }
    }
    for (auto& s : scenarios) {
        for (const auto& text : s.rules) {
            std::string error;
            const auto rule = sim::ParseFaultRule(text, error);
            if (!rule) ADD_FAILURE() << text << ": " << error;
            else s.parsed.push_back(*rule);
        }
        s.expected = Predict(s.parsed);
    }
    return scenarios;
}

// The JSON string value of `key` in a line, unescaped as far as the tool escapes.
std::string JsonField(const std::string& line, const std::string& key) {
    const std::string open = "\"" + key + "\":\"";
    auto pos = line.find(open);
    if (pos == std::string::npos) return "<missing " + key + ">";
    std::string value;
    for (pos += open.size(); pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] != '\\' || pos + 1 >= line.size()) {
            value += line[pos];
            continue;
        }
        const char e = line[++pos];
        if (e == 'r') value += '\r';
        else if (e == 'n') value += '\n';
        else if (e == 't') value += '\t';
        else if (e == 'u' && pos + 4 < line.size()) {
            value += static_cast<char>(std::stoi(line.substr(pos + 1, 4), nullptr, 16));
            pos += 4;
        } else value += e;
    }
    return value;
}

// Every text the updater shows at the end of an update.
const std::regex& AllowedMessage() {
    static const std::regex allowed(
        "Update OK|Kordel not found!|No Kordel connected!|"
        "(Error Reading CPU-ID|Error writing Flash)\r\n"
        "(RECEIVE DATA CORRUPTED|NO ANSWER|WRONG SEQUENCE|WRONG CHECKSUM|UNKNOWN COMMAND|"
        "UNKNOWN FUNCTION|WRONG PARAMETER COUNT|CRYPT ERROR|VALUE/RANGE ERROR|[0-9A-F]{2})|"
        "(Unable to open com port|WriteFile function failed|ReadFile function failed|"
        "PurgeComm function failed|SetCommState function failed|SetCommTimeouts failed|"
        "SetupComm function failed|ClearCommError function failed|"
        "GetCommModemStatus function failed|EscapeCommFunction function failed)"
        "( \\(Error: -?[0-9]+\\))?|Port Not Open");
    return allowed;
}

struct Finding {
    std::size_t index;
    std::string what;
};

std::string Describe(const Scenario& s, const FlashRun& run) {
    std::ostringstream text;
    text << "faults:";
    for (const auto& r : s.rules) text << " --fault " << r;
    if (s.rules.empty()) text << " none";
    text << "\nexit " << run.exitCode << ", " << run.wallSeconds << " s wall, " << run.cpuSeconds
         << " s CPU\nstdout: " << run.out << "stderr: " << run.err;
    return text.str();
}

TEST(HostileModuleTest, RandomisedFaultsNeverPassForSuccess) {
    const char* seedText = std::getenv("KORDEL_HOSTILE_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
                                   : DefaultSeed;
    SCOPED_TRACE("seed " + std::to_string(seed) + " (set KORDEL_HOSTILE_SEED to change it)");
    const std::vector<Scenario> scenarios = MakeScenarios(seed);

    // The fault-free run first: what a good update leaves in the module's flash.
    std::vector<std::uint8_t> reference;
    // What starting the tool costs in this build (sanitizers make it dearer).
    double startCpu = 1e9;
    for (int i = 0; i < 3; ++i) startCpu = std::min(startCpu, RunFlash({"--info"}).cpuSeconds);
    {
        sim::KordelSim module;
        const FlashRun run = Update(module.SlavePath());
        ASSERT_EQ(run.exitCode, 0) << Describe(scenarios[0], run);
        ASSERT_TRUE(module.WaitForCloses(1, 2000));
        reference = module.Flash();
        ASSERT_EQ(reference.size(), std::size_t{Blocks} * 256);
    }

    std::mutex mutex;
    std::vector<Finding> findings;
    int succeeded = 0, failed = 0;
    double longest = 0, totalCpu = 0, totalWall = 0;
    std::atomic<std::size_t> next{1};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < scenarios.size();) {
            const Scenario& s = scenarios[i];
            sim::SimOptions options;
            options.faults = s.parsed;
            sim::KordelSim module(options);
            const FlashRun run = Update(module.SlavePath());
            std::vector<std::string> problems;
            std::string result, message;
            std::size_t results = 0;
            std::istringstream lines(run.out);
            for (std::string l; std::getline(lines, l);) {
                if (l.find("\"event\":\"result\"") == std::string::npos) continue;
                ++results;
                result = JsonField(l, "result");
                message = JsonField(l, "message");
            }
            if (results != 1) problems.push_back("not exactly one result");
            if (!std::regex_match(message, AllowedMessage()))
                problems.push_back("message not one of the updater's texts: '" + message + "'");
            if ((run.exitCode == 0) != (result == "ok"))
                problems.push_back("exit code does not match the result '" + result + "'");
            if (run.exitCode != 0 && run.exitCode != 1) problems.push_back("unexpected exit code");
            if (run.exitCode == 0) {
                module.WaitForCloses(1, 2000);
                if (module.Flash() != reference)
                    problems.push_back("exit 0, but the module does not hold the image");
            }
            if (s.expected == Outcome::Fails && run.exitCode == 0)
                problems.push_back("a fault that must fail the update did not");
            if (s.expected == Outcome::Succeeds && run.exitCode != 0)
                problems.push_back("the update failed although every fault was harmless");
            if (run.wallSeconds > RunBoundSeconds) problems.push_back("ran past its bound");
            if (run.cpuSeconds > 0.5 * run.wallSeconds + 0.5)
                problems.push_back("kept a processor busy while waiting");
            std::lock_guard lock(mutex);
            totalCpu += run.cpuSeconds;
            totalWall += run.wallSeconds;
            (run.exitCode == 0 ? succeeded : failed)++;
            longest = std::max(longest, run.wallSeconds);
            for (const auto& p : problems) findings.push_back({i, p + "\n" + Describe(s, run)});
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) workers.emplace_back(worker);
    for (auto& w : workers) w.join();

    for (const auto& f : findings) ADD_FAILURE() << "scenario " << f.index << ": " << f.what;
    int predicted[3] = {};
    for (const auto& s : scenarios) ++predicted[static_cast<int>(s.expected)];
    std::cout << "hostile module: " << succeeded << " updates succeeded, " << failed
              << " failed; predicted " << predicted[0] << " to succeed, " << predicted[1]
              << " to fail, " << predicted[2] << " either way; longest run " << longest << " s; "
              << totalCpu << " s CPU in " << totalWall << " s\n";
    EXPECT_GT(failed, Scenarios / 3) << "the faults should make most updates fail";
    // Most of an update is waiting for the module: a tool that polls instead of sleeping
    // shows here even when each run is short and a busy machine gives a spinning tool
    // only part of a processor.
    const double cpuBound = 2 * Scenarios * startCpu + SpareCpuShare * totalWall;
    std::cout << "starting the tool takes " << startCpu << " s CPU; bound for all runs "
              << cpuBound << " s\n";
    EXPECT_LT(totalCpu, cpuBound) << "busy while waiting";
}

}  // namespace
}  // namespace kordel

// The command line of kordel-flash: its options, the help text, and the checks that
// refuse what cannot work together (exit status 2).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "KordelSim.h"
#include "PortList.h"

namespace kordel::cli {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

struct Options {
    std::vector<std::string> ports;
    int sims = 0;
    std::vector<sim::FaultRule> simFaults;
    int repeat = 1;
    bool repeatGiven = false;
    bool json = false, quiet = false, trace = false, list = false, info = false, all = false;
    std::optional<int> retries, retryDelayMs;
    std::string log, logReport;
    std::optional<std::string> station, op;
    bool csv = false;
    bool watch = false, once = false;
    std::vector<TPortPattern> patterns;  // --watch: what the --port arguments look for
};

// Writes "kordel-flash: MESSAGE" and the hint to --help on standard error; returns 2.
int UsageError(const std::string& message);

// Parses the command line; returns an exit code when the program should stop at once
// (--help, --version, or a usage error already reported).
std::optional<int> ParseOptions(int argc, char** argv, Options& o);

}  // namespace kordel::cli

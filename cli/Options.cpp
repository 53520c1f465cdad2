#include "Options.h"

#include <getopt.h>

#include <iostream>
#include <utility>

#include "Console.h"
#include "Text.h"
#include "Version.h"
#include "Watch.h"

namespace kordel::cli {

namespace {

// "{port}" stands for an example port name of this system.
const char* const UsageTemplate = R"(Usage: kordel-flash --port PORT [--port PORT ...] [OPTIONS]
       kordel-flash --watch [--port PATTERN ...] [OPTIONS]
       kordel-flash --sim [OPTIONS]
       kordel-flash --log-report=FILE [--csv]
       kordel-flash --list | --info | --help | --version
Writes the firmware image built into this program into the Kordel module on each
PORT (such as {port}), several ports in parallel.

  -p, --port=PORT     flash the module on PORT; give it again for more modules.
                      PORT is a port's name or path as --list shows it (such as
                      {port}), usb:VID:PID, serial:TEXT, location:PATH, or a glob
                      (*, ?, [...]) of paths or names, which takes every match
      --all           take every port a --port matches (otherwise several are an error)
      --watch         run until Ctrl-C or SIGTERM and update each port that appears
                      and matches a --port, and each match present at the start:
                      one update per plug, every port in parallel; without --port,
                      every USB serial port that appears after the start
      --once          with --watch and --log: leave a module alone whose CPU-ID
                      already has an ok record in the log (after reading its
                      CPU-ID, before writing), and say so
      --sim           flash a simulated module started inside this program; give it
                      again for more modules
      --sim-fault=RULE  inject a fault into the simulated modules (see kordel-sim --help)
  -n, --repeat=N      run N updates one after another on each port (default 1)
      --retries=N     run a failed update again from the port's opening, up to N
                      more times (default 0), in each of the --repeat runs
      --retry-delay=MS  wait MS milliseconds before each retry (default 500)
      --log=FILE      append one JSON line per attempt to FILE, on the disk before
                      the result is shown; several programs may share FILE
      --station=NAME  the station named in the log (default: this computer's name)
      --operator=NAME the operator named in the log
      --log-report=FILE  print the log FILE as a table, one row per attempt, then
                      the passed and failed attempts per station and day (UTC)
      --csv           with --log-report: CSV for a spreadsheet instead
      --json          write one JSON object per line: progress and results; with
                      --list and --info, the list or the image as one JSON object
  -q, --quiet         print only results and errors (not with --json)
      --trace         dump every request and reply frame to standard error
  -l, --list          list the serial ports present, in natural order
  -i, --info          show the embedded image's version and description
  -h, --help          show this help
  -V, --version       show the program's version and the firmware it carries

Options take their value as the next argument or after '=' (--port={port},
-p{port}); short flags may be bundled (-qn3); '--' ends the options.
Exit status: 0 all updates succeeded (and are in the log), 1 an update failed or
its record could not be written, 2 bad usage, 130 interrupted by Ctrl-C (SIGINT),
143 terminated (SIGTERM), 129 hung up (SIGHUP); the port is closed first, and the
module then holds a partial image and needs a new update. With --watch: 0 when
every update it ran succeeded, 1 when any failed (an unplugged one too), 130 or
143 when the signal cut an update short.
)";

std::string Usage() {
    std::string text = UsageTemplate;
    const std::string placeholder = "{port}";
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at)) {
        text.replace(at, placeholder.size(), ExamplePortName);
    }
    return text;
}



// A count written as plain decimal digits, from `min` to `max`: no sign, no
// whitespace, nothing after the number.
std::optional<int> ParseCount(const char* text, int min, int max) {
    long value = 0;
    if (*text == '\0') return std::nullopt;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return std::nullopt;
        value = value * 10 + (*c - '0');
        if (value > max) return std::nullopt;
    }
    if (value < min) return std::nullopt;
    return static_cast<int>(value);
}

enum LongOnly {
    OptSim = 256,
    OptSimFault,
    OptJson,
    OptTrace,
    OptRetries,
    OptRetryDelay,
    OptLog,
    OptStation,
    OptOperator,
    OptLogReport,
    OptCsv,
    OptAll,
    OptWatch,
    OptOnce,
};

const option LongOptions[] = {
    {"port", required_argument, nullptr, 'p'},
    {"all", no_argument, nullptr, OptAll},
    {"watch", no_argument, nullptr, OptWatch},
    {"once", no_argument, nullptr, OptOnce},
    {"sim", no_argument, nullptr, OptSim},
    {"sim-fault", required_argument, nullptr, OptSimFault},
    {"repeat", required_argument, nullptr, 'n'},
    {"json", no_argument, nullptr, OptJson},
    {"quiet", no_argument, nullptr, 'q'},
    {"trace", no_argument, nullptr, OptTrace},
    {"retries", required_argument, nullptr, OptRetries},
    {"retry-delay", required_argument, nullptr, OptRetryDelay},
    {"log", required_argument, nullptr, OptLog},
    {"station", required_argument, nullptr, OptStation},
    {"operator", required_argument, nullptr, OptOperator},
    {"log-report", required_argument, nullptr, OptLogReport},
    {"csv", no_argument, nullptr, OptCsv},
    {"list", no_argument, nullptr, 'l'},
    {"info", no_argument, nullptr, 'i'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// What an option needs when its value is missing.
std::string MissingValue(int option) {
    switch (option) {
        case 'p':
            return "--port needs a port name";
        case 'n':
            return "--repeat needs a number from 1 to 1000000";
        case OptSimFault:
            return "--sim-fault needs a rule";
        case OptRetries:
            return "--retries needs a number from 0 to 1000";
        case OptRetryDelay:
            return "--retry-delay needs a number of milliseconds from 0 to 600000";
        case OptLog:
            return "--log needs a file name";
        case OptLogReport:
            return "--log-report needs a file name";
        case OptStation:
            return "--station needs a name of 1 to 128 bytes without control characters";
        case OptOperator:
            return "--operator needs a name of 1 to 128 bytes without control characters";
        default:
            return "an option needs a value";
    }
}

// What is wrong with the option getopt_long refused, naming it as the user wrote it.
std::string RefusedOption(char** argv) {
    const std::string given = argv[optind - 1];
    const std::string name = given.substr(0, given.find('='));
    for (const ::option* o = LongOptions; o->name != nullptr; ++o) {
        if (optopt != 0 && o->val == optopt && name == "--" + std::string(o->name)) {
            return "option '" + name + "' takes no value";
        }
    }
    if (optopt > 0) return "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
    return "unknown option '" + given + "'";
}

// A name for the log: valid UTF-8 without control characters, at most 128 bytes.
bool IsRecordName(const std::string& name) {
    return !name.empty() && name.size() <= 128 && TerminalText(name) == name;
}

// The options of the station: the log, who runs it, and retries.
std::optional<int> ParseStationOption(int option, const char* value, Options& o) {
    switch (option) {
        case OptRetries:
        case OptRetryDelay: {
            const bool retries = option == OptRetries;
            auto n = ParseCount(value, 0, retries ? 1000 : 600000);
            if (!n) return UsageError(MissingValue(option) + ", not '" + value + "'");
            (retries ? o.retries : o.retryDelayMs) = *n;
            break;
        }
        case OptLog:
        case OptLogReport:
            if (*value == '\0') return UsageError(MissingValue(option));
            (option == OptLog ? o.log : o.logReport) = value;
            break;
        case OptStation:
        case OptOperator:
            if (!IsRecordName(value)) return UsageError(MissingValue(option));
            (option == OptStation ? o.station : o.op) = value;
            break;
        case OptCsv:
            o.csv = true;
            break;
    }
    return std::nullopt;
}

// Options that ask for opposite things. --list and --info flash nothing, so nothing
// that is about flashing goes with them.
std::optional<std::string> Contradiction(const Options& o) {
    if (o.json && o.quiet) return "--json and --quiet do not go together";
    if (!o.list && !o.info) return std::nullopt;
    const std::string mode = o.list ? "--list" : "--info";
    const std::string does = o.list ? "lists the ports" : "shows the image";
    const std::pair<bool, const char*> flashing[] = {
        {o.list && o.info, "--info"},          {!o.ports.empty(), "--port"}, {o.sims > 0, "--sim"},
        {!o.simFaults.empty(), "--sim-fault"}, {o.repeatGiven, "--repeat"},  {o.trace, "--trace"},
        {o.all, "--all"}, {!o.log.empty(), "--log"}, {o.retries.has_value(), "--retries"},
        {!o.logReport.empty(), "--log-report"}, {o.watch, "--watch"}, {o.once, "--once"},
    };
    for (const auto& [given, name] : flashing) {
        if (given) return mode + " and " + name + " do not go together: " + mode + " only " + does;
    }
    return std::nullopt;
}

// Watch mode waits for ports; what runs a fixed set of updates does not go with it.
std::optional<std::string> WatchContradiction(const Options& o) {
    if (!o.watch) return std::nullopt;
    const std::pair<bool, const char*> fixed[] = {
        {o.sims > 0, "--sim"},        {!o.simFaults.empty(), "--sim-fault"},
        {o.repeatGiven, "--repeat"},  {o.all, "--all"},
        {!o.logReport.empty(), "--log-report"},
    };
    for (const auto& [given, name] : fixed) {
        if (given) {
            return std::string("--watch and ") + name +
                   " do not go together: --watch updates each port that appears, once per plug";
        }
    }
    return std::nullopt;
}

// What watch mode needs: --once a log to look in, and patterns that parse.
std::optional<int> CheckWatchOptions(Options& o) {
    if (o.once && !o.watch) return UsageError("--once needs --watch");
    if (o.once && o.log.empty()) {
        return UsageError("--once needs --log: it skips the modules that have an ok record there");
    }
    if (!o.watch) return std::nullopt;
    for (const auto& argument : o.ports) {
        std::string error;
        auto pattern = ParsePortPattern(argument, error);
        if (!pattern) return UsageError(error);
        o.patterns.push_back(*pattern);
    }
    std::string error;
    PatternFolders(o.patterns, error);
    if (!error.empty()) return UsageError(error);
    return std::nullopt;
}

// What the station options need of the others.
std::optional<int> CheckStationOptions(const Options& o) {
    if (o.csv && o.logReport.empty()) return UsageError("--csv needs --log-report");
    if (!o.logReport.empty() && (!o.ports.empty() || o.sims > 0 || !o.log.empty())) {
        return UsageError("--log-report reads a log: it does not go with --port, --sim or --log");
    }
    if ((o.station || o.op) && o.log.empty()) {
        return UsageError(std::string(o.station ? "--station" : "--operator") + " needs --log");
    }
    if (o.retryDelayMs && !o.retries) return UsageError("--retry-delay needs --retries");
    return std::nullopt;
}

// Parses the command line; returns an exit code when the program should stop at once.
}  // namespace

int UsageError(const std::string& message) {
    std::cerr << "kordel-flash: " << TerminalText(message) << "\nTry 'kordel-flash --help'.\n";
    return ExitUsage;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    opterr = 0;  // the messages below name the option as the user wrote it
    int option = 0;
    while ((option = getopt_long(argc, argv, ":p:n:qlihV", LongOptions, nullptr)) != -1) {
        switch (option) {
            case 'h':
                std::cout << Usage();
                return ExitOk;
            case 'V':
                std::cout << VersionLine("kordel-flash") << '\n';
                return ExitOk;
            case 'p':
                if (*optarg == '\0') return UsageError(MissingValue('p'));
                o.ports.emplace_back(optarg);
                break;
            case OptSim:
                ++o.sims;
                break;
            case OptSimFault: {
                std::string error;
                auto rule = sim::ParseFaultRule(optarg, error);
                if (!rule) return UsageError("bad --sim-fault rule '" + std::string(optarg) + "': " + error);
                o.simFaults.push_back(*rule);
                break;
            }
            case 'n': {
                auto n = ParseCount(optarg, 1, 1000000);
                if (!n) return UsageError(MissingValue('n') + ", not '" + optarg + "'");
                o.repeat = *n;
                o.repeatGiven = true;
                break;
            }
            case OptJson:
                o.json = true;
                break;
            case 'q':
                o.quiet = true;
                break;
            case OptTrace:
                o.trace = true;
                break;
            case OptAll:
                o.all = true;
                break;
            case OptWatch:
                o.watch = true;
                break;
            case OptOnce:
                o.once = true;
                break;
            case 'l':
                o.list = true;
                break;
            case 'i':
                o.info = true;
                break;
            case OptRetries:
            case OptRetryDelay:
            case OptLog:
            case OptStation:
            case OptOperator:
            case OptLogReport:
            case OptCsv:
                if (auto code = ParseStationOption(option, optarg, o)) return code;
                break;
            case ':':
                return UsageError(MissingValue(optopt));
            default:
                return UsageError(RefusedOption(argv));
        }
    }
    if (optind < argc) return UsageError("unexpected argument '" + std::string(argv[optind]) + "'");
    if (auto contradiction = Contradiction(o)) return UsageError(*contradiction);
    if (auto contradiction = WatchContradiction(o)) return UsageError(*contradiction);
    if (auto code = CheckStationOptions(o)) return code;
    if (auto code = CheckWatchOptions(o)) return code;
    if (!o.list && !o.info && !o.watch && o.logReport.empty() && o.ports.empty() && o.sims == 0) {
        return UsageError("name a port with --port, or try a simulated module with --sim");
    }
    if (!o.simFaults.empty() && o.sims == 0) return UsageError("--sim-fault needs --sim");
    if (o.all && o.ports.empty()) return UsageError("--all needs --port");
    return std::nullopt;
}


}  // namespace kordel::cli

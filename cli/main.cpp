// kordel-flash: writes the embedded firmware image into Kordel modules from the
// command line, one or several ports at once.
#include <getopt.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AuditLog.h"
#include "AuditReport.h"
#include "CancelToken.h"
#include "Console.h"
#include "Flasher.h"
#include "KordelSim.h"
#include "PortList.h"
#include "PortListing.h"
#include "Process.h"
#include "Resources.h"
#include "Text.h"
#include "Version.h"

namespace {

using namespace kordel;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// "{port}" stands for an example port name of this system.
const char* const UsageTemplate = R"(Usage: kordel-flash --port PORT [--port PORT ...] [OPTIONS]
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
module then holds a partial image and needs a new update.
)";

std::string Usage() {
    std::string text = UsageTemplate;
    const std::string placeholder = "{port}";
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at)) {
        text.replace(at, placeholder.size(), cli::ExamplePortName);
    }
    return text;
}

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
};

int UsageError(const std::string& message) {
    std::cerr << "kordel-flash: " << cli::TerminalText(message) << "\nTry 'kordel-flash --help'.\n";
    return ExitUsage;
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
};

const option LongOptions[] = {
    {"port", required_argument, nullptr, 'p'},
    {"all", no_argument, nullptr, OptAll},
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
    return !name.empty() && name.size() <= 128 && cli::TerminalText(name) == name;
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
        {!o.logReport.empty(), "--log-report"},
    };
    for (const auto& [given, name] : flashing) {
        if (given) return mode + " and " + name + " do not go together: " + mode + " only " + does;
    }
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
std::optional<int> Parse(int argc, char** argv, Options& o) {
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
    if (auto code = CheckStationOptions(o)) return code;
    if (!o.list && !o.info && o.logReport.empty() && o.ports.empty() && o.sims == 0) {
        return UsageError("name a port with --port, or try a simulated module with --sim");
    }
    if (!o.simFaults.empty() && o.sims == 0) return UsageError("--sim-fault needs --sim");
    if (o.all && o.ports.empty()) return UsageError("--all needs --port");
    return std::nullopt;
}

// The ports present in natural order.
std::vector<TPortEntry> PresentPorts() {
    auto ports = ListPortEntries().value_or(std::vector<TPortEntry>{});
    SortPortList(ports);
    return ports;
}

// The ports present, with what the system knows of each.
int ListPorts(bool json) {
    const auto ports = PresentPorts();
    std::cout << (json ? cli::PortListJson(ports) : cli::PortListText(ports));
    return ExitOk;
}

void ShowInfo(const TFirmwareImage& image, bool json) {
    const auto& info = image.BufBiosInfo;
    const std::uint32_t blocks = (info.UpdateLength() + BlockSize - 1) / BlockSize;
    if (json) {
        std::cout << "{\"event\":\"info\",\"title\":"
                  << cli::JsonString("Kordel Update v" + TitleVersStr(info))
                  << ",\"version\":" << cli::JsonString(BiosVersionStr(info))
                  << ",\"description\":" << cli::JsonString(BiosInfoStr(info))
                  << ",\"imageBytes\":" << image.rs.size()
                  << ",\"updateBytes\":" << info.UpdateLength() << ",\"blocks\":" << blocks
                  << ",\"toolVersion\":" << cli::JsonString(ToolVersion()) << "}\n";
        return;
    }
    std::cout << "Kordel Update v" << cli::TerminalText(TitleVersStr(info)) << '\n'
              << cli::TerminalText(BiosVersionStr(info)) << '\n'
              << cli::TerminalText(BiosInfoStr(info)) << '\n'
              << "Image: " << image.rs.size() << " bytes; an update writes " << info.UpdateLength()
              << " bytes in " << blocks << " blocks\n";
}

// What a simulated module holds after the update, against the image; false when it
// does not hold it.
bool ConfirmSimulatedFlash(const sim::KordelSim& module, std::size_t index,
                           const TFirmwareImage& image, cli::Reporter& reporter) {
    const auto flash = module.Flash();
    const std::size_t length = image.BufBiosInfo.UpdateLength();
    // The last block carries image bytes past FileSize where the image has them, and
    // erased-flash filler beyond the image's end.
    bool ok = flash.size() == (length + BlockSize - 1) / BlockSize * BlockSize;
    std::size_t filler = 0;
    for (std::size_t i = 0; ok && i < flash.size(); ++i) {
        const bool inImage = i < image.rs.size();
        filler += inImage ? 0 : 1;
        ok = flash[i] == (inImage ? image.rs[i] : ErasedFlash);
    }
    std::string text = "Simulated module: flash at 0x08002000 ";
    text += ok ? "holds exactly the image's " + std::to_string(flash.size() - filler) + " bytes"
               : "does NOT hold the image (" + std::to_string(flash.size()) + " bytes written)";
    if (ok && filler > 0) text += ", then " + std::to_string(filler) + " filler bytes FF";
    reporter.Note(index, "sim-flash", ok, text);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    cli::PrepareProcess();
    cli::TArguments args(argc, argv);
    Options options;
    if (auto code = Parse(args.Count(), args.Values(), options)) return *code;
    if (options.list) return ListPorts(options.json);
    if (!options.logReport.empty()) {
        return cli::WriteAuditReport(
            options.logReport, options.csv ? cli::ReportFormat::Csv : cli::ReportFormat::Table,
            std::cout, std::cerr);
    }
    std::vector<TPortIdentity> identities;
    if (!options.ports.empty()) {
        // A glob's ports go in the order --list shows them.
        const cli::PortChoice choice = cli::ChoosePorts(options.ports, options.all, PresentPorts());
        if (!choice.error.empty()) return UsageError(choice.error);
        options.ports = choice.ports;
        for (const TPortEntry& entry : choice.entries) identities.push_back(entry.Identity);
    }

    TFirmwareImage image;
    try {
        image.LoadBiosInfo();
    } catch (const EResNotFound& e) {
        std::cerr << "kordel-flash: " << cli::TerminalText(e.what())
                  << ": this program carries no firmware image\n";
        return ExitFailed;
    }
    if (options.info) {
        ShowInfo(image, options.json);
        return ExitOk;
    }

    std::unique_ptr<cli::TAuditLog> log;
    if (!options.log.empty()) {
        try {
            log = std::make_unique<cli::TAuditLog>(options.log);
        } catch (const cli::EAuditLog& e) {
            std::cerr << "kordel-flash: " << cli::TerminalText(e.what())
                      << "; no update was started\n";
            return ExitFailed;
        }
    }

    std::vector<std::unique_ptr<sim::KordelSim>> sims;
    std::unique_ptr<TCancelToken> cancelAll;  // what the signal handlers cancel
    try {
        cancelAll = std::make_unique<TCancelToken>();
        for (int i = 0; i < options.sims; ++i) {
            sim::SimOptions simOptions;
            simOptions.faults = options.simFaults;
            sims.push_back(std::make_unique<sim::KordelSim>(simOptions));
            options.ports.push_back(sims.back()->SlavePath());
        }
    } catch (const std::exception& e) {
        std::cerr << "kordel-flash: " << cli::TerminalText(e.what()) << '\n';
        return ExitFailed;
    }

    const cli::CancelHandlers cancelHandlers(*cancelAll);
    cli::WatchTerminalSize();

    const int columns = cli::StdoutIsTerminal() ? cli::TerminalColumns() : 0;
    // The cursor cannot go back above the top of the screen: a block of bars taller
    // than the terminal could not be redrawn in place.
    const int rows = cli::StdoutIsTerminal() ? cli::TerminalRows() : 0;
    const bool fitsRows = rows == 0 || options.ports.size() < static_cast<std::size_t>(rows);
    const bool bars = cli::StdoutIsTerminal() && !options.trace && fitsRows &&
                      cli::TerminalFitsBars(columns);
    const cli::OutputMode mode = options.json    ? cli::OutputMode::Json
                                 : options.quiet ? cli::OutputMode::Quiet
                                 : bars          ? cli::OutputMode::Terminal
                                                 : cli::OutputMode::Plain;
    cli::Reporter reporter(mode, std::cout, std::cerr, options.ports, columns,
                           options.repeat);
    cli::FlashPlan plan;
    plan.ports = options.ports;
    plan.identities = identities;
    plan.repeat = options.repeat;
    plan.trace = options.trace;
    plan.image = image.rs;
    plan.info = image.BufBiosInfo;
    plan.retries = options.retries.value_or(0);
    plan.retryDelayMs = options.retryDelayMs.value_or(500);
    plan.log = log.get();
    plan.station = {options.station.value_or(cli::HostName()), options.op,
                    VersionLine("kordel-flash")};
    cli::Outcome outcome = cli::Outcome::Failed;
    try {
        outcome = cli::FlashAll(plan, reporter, *cancelAll);
    } catch (const std::exception& e) {  // no cancel token or thread for a port
        std::cerr << "kordel-flash: " << cli::TerminalText(e.what()) << '\n';
        return ExitFailed;
    }

    if (outcome == cli::Outcome::Ok) {
        const std::size_t firstSim = options.ports.size() - sims.size();
        bool held = true;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            held = ConfirmSimulatedFlash(*sims[i], firstSim + i, image, reporter) && held;
        }
        if (!held) outcome = cli::Outcome::Failed;
    }
    reporter.Summary();
    switch (outcome) {
        case cli::Outcome::Ok:
            return ExitOk;
        case cli::Outcome::Failed:
            return ExitFailed;
        case cli::Outcome::Cancelled:
            return cli::CancelExitCode(cancelAll->Reason());
    }
    return ExitFailed;
}

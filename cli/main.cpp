// kordel-flash: writes the embedded firmware image into Kordel modules from the
// command line, one or several ports at once.
#include <getopt.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CancelToken.h"
#include "Console.h"
#include "Flasher.h"
#include "KordelSim.h"
#include "PortList.h"
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
       kordel-flash --list | --info | --help | --version
Writes the firmware image built into this program into the Kordel module on each
PORT (such as {port}), several ports in parallel.

  -p, --port=PORT     flash the module on PORT; give it again for more modules
      --sim           flash a simulated module started inside this program; give it
                      again for more modules
      --sim-fault=RULE  inject a fault into the simulated modules (see kordel-sim --help)
  -n, --repeat=N      run N updates one after another on each port (default 1)
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
Exit status: 0 all updates succeeded, 1 an update failed, 2 bad usage,
130 interrupted by Ctrl-C (SIGINT), 143 terminated (SIGTERM), 129 hung up (SIGHUP);
the port is closed first, and the module then holds a partial image and needs a new
update.
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
    bool json = false, quiet = false, trace = false, list = false, info = false;
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

enum LongOnly { OptSim = 256, OptSimFault, OptJson, OptTrace };

const option LongOptions[] = {
    {"port", required_argument, nullptr, 'p'},
    {"sim", no_argument, nullptr, OptSim},
    {"sim-fault", required_argument, nullptr, OptSimFault},
    {"repeat", required_argument, nullptr, 'n'},
    {"json", no_argument, nullptr, OptJson},
    {"quiet", no_argument, nullptr, 'q'},
    {"trace", no_argument, nullptr, OptTrace},
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
            case 'l':
                o.list = true;
                break;
            case 'i':
                o.info = true;
                break;
            case ':':
                return UsageError(MissingValue(optopt));
            default:
                return UsageError(RefusedOption(argv));
        }
    }
    if (optind < argc) return UsageError("unexpected argument '" + std::string(argv[optind]) + "'");
    if (o.json && o.quiet) return UsageError("--json and --quiet do not go together");
    if (!o.list && !o.info && o.ports.empty() && o.sims == 0) {
        return UsageError("name a port with --port, or try a simulated module with --sim");
    }
    if (!o.simFaults.empty() && o.sims == 0) return UsageError("--sim-fault needs --sim");
    return std::nullopt;
}

// The ports present in natural order, with their descriptions.
std::vector<std::pair<std::string, std::string>> PresentPorts() {
    const auto infos = ListPortInfos().value_or(std::vector<TPortInfo>{});
    std::vector<std::string> names;
    for (const auto& i : infos) names.push_back(i.Name);
    SortPortList(names);
    std::vector<std::pair<std::string, std::string>> ports;
    for (const auto& name : names) {
        std::string description;
        for (const auto& i : infos) {
            if (i.Name == name) description = i.Description();
        }
        ports.emplace_back(name, description);
    }
    return ports;
}

int ListPorts(bool json) {
    const auto ports = PresentPorts();
    if (json) {
        std::cout << "{\"event\":\"ports\",\"ports\":[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            std::cout << (i ? "," : "") << "{\"name\":" << cli::JsonString(ports[i].first)
                      << ",\"description\":" << cli::JsonString(ports[i].second) << "}";
        }
        std::cout << "]}\n";
        return ExitOk;
    }
    if (ports.empty()) std::cout << "No serial ports found.\n";
    for (const auto& [name, description] : ports) {
        std::cout << cli::TerminalText(name)
                  << (description.empty() ? "" : "  " + cli::TerminalText(description)) << '\n';
    }
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

// What a simulated module holds after the update, against the image.
void ConfirmSimulatedFlash(const sim::KordelSim& module, std::size_t index,
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
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (auto code = Parse(argc, argv, options)) return *code;
    if (options.list) return ListPorts(options.json);

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
    cli::Reporter reporter(mode, std::cout, std::cerr, options.ports, columns);
    cli::FlashPlan plan{options.ports, options.repeat, options.trace, image.rs, image.BufBiosInfo};
    cli::Outcome outcome = cli::Outcome::Failed;
    try {
        outcome = cli::FlashAll(plan, reporter, *cancelAll);
    } catch (const std::exception& e) {  // no cancel token or thread for a port
        std::cerr << "kordel-flash: " << cli::TerminalText(e.what()) << '\n';
        return ExitFailed;
    }

    const std::size_t firstSim = options.ports.size() - sims.size();
    for (std::size_t i = 0; i < sims.size() && outcome == cli::Outcome::Ok; ++i) {
        ConfirmSimulatedFlash(*sims[i], firstSim + i, image, reporter);
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

// kordel-flash: writes the embedded firmware image into Kordel modules from the
// command line, one or several ports at once.
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Cancel.h"
#include "Console.h"
#include "Flasher.h"
#include "KordelSim.h"
#include "PortList.h"
#include "Resources.h"

namespace {

using namespace kordel;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const Usage = R"(Usage: kordel-flash --port PORT [--port PORT ...] [OPTIONS]
       kordel-flash --sim [OPTIONS]
       kordel-flash --list | --info | --help | --version
Writes the firmware image built into this program into the Kordel module on each
PORT (a device path such as /dev/ttyUSB0), several ports in parallel.

  -p, --port PORT     flash the module on PORT; give it again for more modules
      --sim           flash a simulated module started inside this program; give it
                      again for more modules
      --sim-fault RULE  inject a fault into the simulated modules (see kordel-sim --help)
  -n, --repeat N      run N updates one after another on each port (default 1)
      --json          write one JSON object per line: progress and results
  -q, --quiet         print only results and errors
      --trace         dump every request and reply frame to standard error
  -l, --list          list the serial ports present, in natural order
  -i, --info          show the embedded image's version and description
  -h, --help          show this help
  -V, --version       show the program's version

Exit status: 0 all updates succeeded, 1 an update failed, 2 bad usage,
130 interrupted (Ctrl-C; the port is closed first).
)";

struct Options {
    std::vector<std::string> ports;
    int sims = 0;
    std::vector<sim::FaultRule> simFaults;
    int repeat = 1;
    bool json = false, quiet = false, trace = false, list = false, info = false;
};

int UsageError(const std::string& message) {
    std::cerr << "kordel-flash: " << message << "\nTry 'kordel-flash --help'.\n";
    return ExitUsage;
}

// Parses the command line; returns an exit code when the program should stop at once.
std::optional<int> Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << Usage;
            return ExitOk;
        } else if (arg == "-V" || arg == "--version") {
            std::cout << "kordel-flash " KORDEL_VERSION "\n";
            return ExitOk;
        } else if (arg == "-p" || arg == "--port") {
            auto v = value();
            if (!v || v->empty()) return UsageError(arg + " needs a port name");
            o.ports.push_back(*v);
        } else if (arg == "--sim") {
            ++o.sims;
        } else if (arg == "--sim-fault") {
            auto v = value();
            std::string error;
            auto rule = v ? sim::ParseFaultRule(*v, error) : std::nullopt;
            if (!rule) return UsageError("bad --sim-fault rule: " + (v ? error : "missing"));
            o.simFaults.push_back(*rule);
        } else if (arg == "-n" || arg == "--repeat") {
            auto v = value();
            char* end = nullptr;
            const long n = v ? std::strtol(v->c_str(), &end, 10) : 0;
            if (!v || v->empty() || *end != '\0' || n < 1 || n > 1000000) {
                return UsageError("--repeat needs a number from 1 on");
            }
            o.repeat = static_cast<int>(n);
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--trace") {
            o.trace = true;
        } else if (arg == "-l" || arg == "--list") {
            o.list = true;
        } else if (arg == "-i" || arg == "--info") {
            o.info = true;
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (!o.list && !o.info && o.ports.empty() && o.sims == 0) {
        return UsageError("name a port with --port, or try a simulated module with --sim");
    }
    if (!o.simFaults.empty() && o.sims == 0) return UsageError("--sim-fault needs --sim");
    return std::nullopt;
}

int ListPorts() {
    const auto infos = ListPortInfos().value_or(std::vector<TPortInfo>{});
    std::vector<std::string> names;
    for (const auto& i : infos) names.push_back(i.Name);
    SortPortList(names);
    if (names.empty()) std::cout << "No serial ports found.\n";
    for (const auto& name : names) {
        std::string description;
        for (const auto& i : infos) {
            if (i.Name == name) description = i.Description();
        }
        std::cout << name << (description.empty() ? "" : "  " + description) << '\n';
    }
    return ExitOk;
}

void ShowInfo(const TFirmwareImage& image) {
    const auto& info = image.BufBiosInfo;
    std::cout << "Kordel Update v" << TitleVersStr(info) << '\n'
              << BiosVersionStr(info) << '\n'
              << BiosInfoStr(info) << '\n'
              << "Image: " << image.rs.size() << " bytes; an update writes " << info.UpdateLength()
              << " bytes in " << (info.UpdateLength() + BlockSize - 1) / BlockSize << " blocks\n";
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
    if (options.list) return ListPorts();

    TFirmwareImage image;
    try {
        image.LoadBiosInfo();
    } catch (const EResNotFound& e) {
        std::cerr << "kordel-flash: " << e.what() << ": this program carries no firmware image\n";
        return ExitFailed;
    }
    if (options.info) {
        ShowInfo(image);
        return ExitOk;
    }

    std::vector<std::unique_ptr<sim::KordelSim>> sims;
    try {
        for (int i = 0; i < options.sims; ++i) {
            sim::SimOptions simOptions;
            simOptions.faults = options.simFaults;
            sims.push_back(std::make_unique<sim::KordelSim>(simOptions));
            options.ports.push_back(sims.back()->SlavePath());
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return ExitFailed;
    }

    cli::InstallCancelHandlers();

    const cli::OutputMode mode = options.json    ? cli::OutputMode::Json
                                 : options.quiet ? cli::OutputMode::Quiet
                                 : options.trace || !cli::StdoutIsTerminal()
                                     ? cli::OutputMode::Plain
                                     : cli::OutputMode::Terminal;
    cli::Reporter reporter(mode, std::cout, std::cerr, options.ports);
    cli::FlashPlan plan{options.ports, options.repeat, options.trace, image.rs, image.BufBiosInfo};
    const cli::Outcome outcome = cli::FlashAll(plan, reporter);

    const std::size_t firstSim = options.ports.size() - sims.size();
    for (std::size_t i = 0; i < sims.size() && outcome == cli::Outcome::Ok; ++i) {
        ConfirmSimulatedFlash(*sims[i], firstSim + i, image, reporter);
    }
    switch (outcome) {
        case cli::Outcome::Ok:
            return ExitOk;
        case cli::Outcome::Failed:
            return ExitFailed;
        case cli::Outcome::Cancelled:
            return cli::CancelExitCode(CancelRequested());
    }
    return ExitFailed;
}

// kordel-flash: writes the embedded firmware image into Kordel modules from the
// command line, one or several ports at once.
#include <atomic>
#include <cstdio>
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
#include "Options.h"
#include "KordelSim.h"
#include "PortList.h"
#include "PortListing.h"
#include "Process.h"
#include "Resources.h"
#include "Text.h"
#include "Version.h"
#include "Watch.h"

namespace {

using namespace kordel;
using cli::ExitFailed;
using cli::ExitOk;
using cli::UsageError;

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
    const std::uint32_t blocks = BlockCount(info.UpdateLength());
    if (json) {
        std::cout << "{\"event\":\"info\",\"title\":"
                  << cli::JsonString(ProgTitleStr(info))
                  << ",\"version\":" << cli::JsonString(BiosVersionStr(info))
                  << ",\"description\":" << cli::JsonString(BiosInfoStr(info))
                  << ",\"imageBytes\":" << image.rs.size()
                  << ",\"updateBytes\":" << info.UpdateLength() << ",\"blocks\":" << blocks
                  << ",\"toolVersion\":" << cli::JsonString(ToolVersion()) << "}\n";
        return;
    }
    std::cout << cli::TerminalText(ProgTitleStr(info)) << '\n'
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
    bool ok = flash.size() == std::size_t{BlockCount(length)} * BlockSize;
    std::size_t filler = 0;
    for (std::size_t i = 0; ok && i < flash.size(); ++i) {
        const bool inImage = i < image.rs.size();
        filler += inImage ? 0 : 1;
        ok = flash[i] == (inImage ? image.rs[i] : ErasedFlash);
    }
    char base[16];
    std::snprintf(base, sizeof base, "0x%08X", static_cast<unsigned>(FlashBaseAddress));
    std::string text = "Simulated module: flash at " + std::string(base) + " ";
    text += ok ? "holds exactly the image's " + std::to_string(flash.size() - filler) + " bytes"
               : "does NOT hold the image (" + std::to_string(flash.size()) + " bytes written)";
    if (ok && filler > 0) text += ", then " + std::to_string(filler) + " filler bytes FF";
    reporter.Note(index, "sim-flash", ok, text);
    return ok;
}

// The exit status of a run that ended with `outcome`; a cancelled run's is the signal's.
int OutcomeExitCode(cli::Outcome outcome, const TCancelToken& cancelAll) {
    switch (outcome) {
        case cli::Outcome::Ok:
        case cli::Outcome::Skipped:
            return ExitOk;
        case cli::Outcome::Failed:
            return ExitFailed;
        case cli::Outcome::Cancelled:
            return cli::CancelExitCode(cancelAll.Reason());
    }
    return ExitFailed;
}

// Watch mode until a signal; its exit status.
int WatchPorts(const cli::Options& options, const cli::FlashPlan& plan, cli::Reporter& reporter,
               TCancelToken& cancelAll) {
    const cli::WatchPlan watch{plan, options.patterns, options.once, options.log};
    cli::Outcome outcome = cli::Outcome::Failed;
    try {
        outcome = cli::RunWatch(watch, reporter, cancelAll);
    } catch (const std::exception& e) {
        std::cerr << "kordel-flash: " << cli::TerminalText(e.what()) << '\n';
        return ExitFailed;
    }
    reporter.WatchSummary();
    if (outcome == cli::Outcome::Cancelled) {
        std::cerr << "kordel-flash: stopped in the middle of an update: that module now holds "
                     "a partial image and needs a new update\n";
    }
    return OutcomeExitCode(outcome, cancelAll);
}

}  // namespace

int main(int argc, char** argv) {
    cli::PrepareProcess();
    cli::TArguments args(argc, argv);
    cli::Options options;
    if (auto code = cli::ParseOptions(args.Count(), args.Values(), options)) return *code;
    if (options.list) return ListPorts(options.json);
    if (!options.logReport.empty()) {
        return cli::WriteAuditReport(
            options.logReport, options.csv ? cli::ReportFormat::Csv : cli::ReportFormat::Table,
            std::cout, std::cerr);
    }
    std::vector<TPortIdentity> identities;
    if (!options.ports.empty() && !options.watch) {
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
    cli::Reporter reporter(mode, std::cout, std::cerr, options.ports, columns, options.repeat);
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
    if (options.watch) return WatchPorts(options, plan, reporter, *cancelAll);
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
    return OutcomeExitCode(outcome, *cancelAll);
}

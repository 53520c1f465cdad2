#include "Watch.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "AuditLog.h"
#include "PortListing.h"
#include "Pause.h"
#include "PortWatch.h"
#include "Text.h"

namespace kordel::cli {

namespace {

using namespace std::chrono_literals;

// The most entries a watched folder is read for: a folder of links made for a station
// holds a few dozen.
constexpr std::size_t MaxFolderEntries = 4096;
// After a change the ports are listed once more a little later: the system may add a
// port's details (sysfs, udev's links) just after the event that announced it.
constexpr auto SettleTime = 250ms;
// Without any event the watch lists again this seldom, in case an event was lost.
constexpr auto QuietTime = std::chrono::minutes(10);
// What a finished update tells the watching thread (any reason but 0 wakes it).
constexpr int UpdateEnded = 1;
// A port is opened this long after it appeared: just after the kernel announces a new
// node, udev is still giving it its group and mode (until then only root may open it)
// and the driver may still send the device its first line settings.
constexpr int SettleBeforeOpenMs = 100;

bool IsInDeviceFolder(const std::string& folder) {
    return folder == "/dev" || folder.rfind("/dev/", 0) == 0;
}

// The character devices (links to them count) in `folder`, for the ports a simulator
// or a station script links there; the system's own ports come from the listing.
void AddFolderPorts(const std::string& folder, std::vector<TPortEntry>& ports) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(folder, error), end;
    for (std::size_t n = 0; !error && it != end && n < MaxFolderEntries; it.increment(error), ++n) {
        const std::string path = it->path().string();
        std::error_code statError;
        if (!fs::is_character_file(fs::status(it->path(), statError))) continue;
        const bool listed = std::any_of(ports.begin(), ports.end(),
                                        [&](const TPortEntry& p) { return p.Path == path; });
        if (!listed) ports.push_back(EntryForDevice(path));
    }
}

// One plug's update, on a thread of its own.
struct Job {
    explicit Job(const TCancelToken& all) : cancel(&all) {}
    TCancelToken cancel;  // CancelUnplugged when the port goes away
    std::thread thread;
    std::atomic<bool> done{false};
    bool ran = false;  // false when the port went, or the watch ended, before the update began
    Outcome outcome = Outcome::Ok;
};

struct Slot {
    std::size_t index;  // the reporter's
    int plugs = 0;
    std::unique_ptr<Job> job;
};

class Watcher {
  public:
    Watcher(const WatchPlan& plan, Reporter& reporter, TCancelToken& cancelAll,
            std::vector<std::string> folders)
        : plan_(plan),
          reporter_(reporter),
          cancelAll_(cancelAll),
          folders_(std::move(folders)),
          wake_(&cancelAll),
          okIndex_(plan.logPath) {
        context_.station = plan.flash.station;
        context_.image = DescribeImage(plan.flash.image, plan.flash.info);
        skip_ = [this](const std::array<std::uint8_t, 12>& cpuId) -> std::optional<std::string> {
            std::lock_guard lock(okMutex_);
            if (!okIndex_.HasOk(cpuId)) return std::nullopt;
            return "Skipped: the module with CPU-ID " + HexDigits(cpuId) +
                   " already has an ok record in the log; nothing was written";
        };
    }

    Outcome Run() {
        TPortWatch watch(folders_);
        // Listed after the watch began, so that nothing that appears in between is missed.
        for (const TPortEntry& entry : Listing()) {
            present_.insert(entry.Path);
            // Without patterns only the ports that appear after the start are updated.
            if (!plan_.patterns.empty() && Matches(entry)) Plugged(entry);
        }
        auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(QuietTime);
        for (;;) {
            const TPortWatch::TWake wake = watch.Wait(limit, wake_);
            if (cancelAll_.Reason() != 0) break;
            // Reset before the jobs are looked at: an update that ends meanwhile wakes
            // the next wait.
            if (wake == TPortWatch::TWake::Cancelled) wake_.Reset();
            Reap();
            if (wake == TPortWatch::TWake::Cancelled) continue;
            Compare(Listing());
            limit = std::chrono::duration_cast<std::chrono::milliseconds>(
                wake == TPortWatch::TWake::Changed ? SettleTime : QuietTime);
        }
        return Finish();
    }

  private:
    std::vector<TPortEntry> Listing() const {
        auto ports = ListPortEntries().value_or(std::vector<TPortEntry>{});
        for (const auto& folder : folders_) {
            if (!IsInDeviceFolder(folder)) AddFolderPorts(folder, ports);
        }
        SortPortList(ports);
        return ports;
    }

    bool Matches(const TPortEntry& entry) const {
        if (plan_.patterns.empty()) return entry.Identity.IsUsb();
        return std::any_of(plan_.patterns.begin(), plan_.patterns.end(),
                           [&](const TPortPattern& p) { return PortMatches(p, entry); });
    }

    void Compare(const std::vector<TPortEntry>& listing) {
        std::set<std::string> now;
        for (const auto& entry : listing) now.insert(entry.Path);
        for (const auto& path : present_) {
            if (now.count(path) == 0) Unplugged(path);
        }
        for (const auto& entry : listing) {
            if (present_.count(entry.Path) == 0 && Matches(entry)) Plugged(entry);
        }
        present_ = std::move(now);
    }

    void Unplugged(const std::string& path) {
        const auto it = slots_.find(path);
        if (it == slots_.end()) return;
        // A hung-up port fails its reads by itself; the token also ends a pause or a
        // wait that is not reading.
        if (it->second.job) it->second.job->cancel.Cancel(CancelUnplugged);
        reporter_.PortRemoved(it->second.index);
    }

    void Plugged(const TPortEntry& entry) {
        auto it = slots_.find(entry.Path);
        if (it == slots_.end()) {
            const std::string& location = entry.Identity.Location;
            const std::string label = location.empty() ? entry.Name : location + " " + entry.Name;
            const std::string fields = "\"name\":" + JsonString(entry.Name) + "," +
                                       IdentityJsonFields(entry.Identity);
            const std::size_t index = reporter_.AddSlot(PortToOpen(entry), label, fields);
            it = slots_.emplace(entry.Path, Slot{index, 0, nullptr}).first;
        }
        Slot& slot = it->second;
        reporter_.PortAdded(slot.index);
        // The update of the last plug was cancelled when the port went; it ends first.
        if (slot.job) Collect(*slot.job);
        slot.job = std::make_unique<Job>(cancelAll_);
        ++slot.plugs;
        Job& job = *slot.job;
        job.thread = std::thread([this, &job, entry, index = slot.index, run = slot.plugs] {
            job.ran = PauseMs(SettleBeforeOpenMs, &job.cancel);
            if (job.ran) job.outcome = Update(job, entry, index, run);
            job.done = true;
            wake_.Cancel(UpdateEnded);
        });
    }

    Outcome Update(Job& job, const TPortEntry& entry, std::size_t index, int run) {
        TComIo io;
        const std::string port = PortToOpen(entry);
        io.PortNameSource = [&port] { return port; };
        io.SetCancelToken(&job.cancel);
        if (plan_.flash.trace) {
            io.OnFrame = [&](TFrameDirection d, const std::uint8_t* data, std::size_t n) {
                reporter_.Frame(index, d, data, n);
            };
        }
        TAuditRecord context = context_;
        context.port = port;
        context.usb = UsbIdentityOf(entry.Identity);
        reporter_.Started(index, run);
        TBootInfo bootInfo;
        const Outcome outcome = RunWithRetries(
            io, bootInfo, {plan_.flash, index, run, 1, context, plan_.once ? &skip_ : nullptr},
            reporter_);
        reporter_.Ended(outcome == Outcome::Ok        ? Reporter::WatchResult::Passed
                        : outcome == Outcome::Skipped ? Reporter::WatchResult::Skipped
                                                      : Reporter::WatchResult::Failed);
        return outcome;
    }

    // Joins a finished (or cancelled) job and counts what came of it.
    void Collect(Job& job) {
        if (!job.thread.joinable()) return;
        job.thread.join();
        if (!job.ran) return;
        if (job.outcome == Outcome::Failed) anyFailed_ = true;
        if (job.outcome == Outcome::Cancelled) {
            // Unplugged is a failed update; a signal's cancellation is the user's stop.
            (job.cancel.Reason() == CancelUnplugged ? anyFailed_ : cutShort_) = true;
        }
    }

    void Reap() {
        for (auto& [path, slot] : slots_) {
            if (slot.job && slot.job->done) Collect(*slot.job);
        }
    }

    Outcome Finish() {
        for (auto& [path, slot] : slots_) {
            if (slot.job) Collect(*slot.job);
        }
        if (cutShort_) return Outcome::Cancelled;
        return anyFailed_ ? Outcome::Failed : Outcome::Ok;
    }

    const WatchPlan& plan_;
    Reporter& reporter_;
    TCancelToken& cancelAll_;
    std::vector<std::string> folders_;
    TCancelToken wake_;  // cancelled by each update that ends, and by cancelAll
    TAuditRecord context_;
    std::mutex okMutex_;
    TOkRecordIndex okIndex_;
    TSkipCheck skip_;
    std::set<std::string> present_;     // the paths of every port listed last time
    std::map<std::string, Slot> slots_;  // by path: the ports that matched
    bool anyFailed_ = false;
    bool cutShort_ = false;
};

}  // namespace

std::vector<std::string> PatternFolders(const std::vector<TPortPattern>& patterns,
                                        std::string& error) {
    std::vector<std::string> folders;
    for (const auto& p : patterns) {
        const bool path = p.Kind == TPortPattern::TKind::Name || p.Kind == TPortPattern::TKind::Glob;
        const std::size_t slash = p.Value.rfind('/');
        if (!path || slash == std::string::npos) continue;
        const std::string folder = slash == 0 ? "/" : p.Value.substr(0, slash);
        if (folder.find_first_of("*?[") != std::string::npos) {
            error = "--watch watches the folder of '" + p.Text +
                    "', which must be written out: no *, ? or [...] in it";
            return {};
        }
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
    return folders;
}

Outcome RunWatch(const WatchPlan& plan, Reporter& reporter, TCancelToken& cancelAll) {
    std::string error;
    std::vector<std::string> folders = PatternFolders(plan.patterns, error);
    if (!error.empty()) throw std::runtime_error(error);
    reporter.StartWatch();
    Watcher watcher(plan, reporter, cancelAll, std::move(folders));
    const Outcome outcome = watcher.Run();
    reporter.Finish();
    return outcome;
}

}  // namespace kordel::cli

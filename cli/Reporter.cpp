#include "Reporter.h"

#include <algorithm>

#include "AuditRecord.h"
#include "Console.h"
#include "HexDump.h"
#include "Lines.h"

namespace kordel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The narrowest terminal that gets progress bars; narrower ones get plain lines.
constexpr int MinBarColumns = 40;

int Percent(std::uint32_t position, std::uint32_t maximum) {
    if (maximum == 0) return 100;
    return static_cast<int>(std::min<std::uint64_t>(100, std::uint64_t{position} * 100 / maximum));
}

// The hint line after a failure in the middle of the block writes.
constexpr const char* PartialImageHint =
    "the module now holds a partial image and needs a new update";

}  // namespace

std::string StepName(TUpdateStep step) {
    switch (step) {
        case TUpdateStep::Connecting:
            return "connecting";
        case TUpdateStep::Identifying:
            return "identifying";
        case TUpdateStep::ReadingCpuId:
            return "reading-cpu-id";
        case TUpdateStep::Writing:
            return "writing";
        case TUpdateStep::Closing:
            return "closing";
    }
    return "unknown";
}

bool TerminalFitsBars(int columns) {
    return columns == 0 || columns >= MinBarColumns;
}

class PortSink : public TProgressSink {
  public:
    PortSink(Reporter& r, std::size_t index, int run) : r_(r), index_(index), run_(run) {}
    void SetMaximum(std::uint32_t maximum) override { maximum_ = maximum; }
    void SetPosition(std::uint32_t position) override {
        r_.Progress(index_, run_, position, maximum_);
    }
    void StepStarted(TUpdateStep step) override { r_.Step(index_, run_, step); }

  private:
    Reporter& r_;
    std::size_t index_;
    int run_;
    std::uint32_t maximum_ = 0;
};

Reporter::Reporter(OutputMode mode, std::ostream& out, std::ostream& err,
                   std::vector<std::string> ports, int columns, int runsPerPort)
    : mode_(mode),
      out_(out),
      err_(err),
      ports_(std::move(ports)),
      state_(ports_.size()),
      columns_(columns),
      runsPerPort_(runsPerPort) {
    for (const auto& port : ports_) names_.push_back(TerminalText(port));
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        state_[i].line = StatusLine(names_[i], "waiting", LineWidth());
    }
}

std::unique_ptr<TProgressSink> Reporter::SinkFor(std::size_t index, int run) {
    return std::make_unique<PortSink>(*this, index, run);
}

// One column less than the terminal has: a line that fills the last column leaves
// some terminals waiting to wrap, and the next line break then counts twice.
int Reporter::LineWidth() const {
    return (columns_ > 0 ? columns_ : 80) - 1;
}

void Reporter::Step(std::size_t index, int run, TUpdateStep step) {
    std::lock_guard lock(mutex_);
    auto& s = state_[index];
    if (step == TUpdateStep::Connecting) s.start = Clock::now();
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"step\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << ",\"step\":\"" << StepName(step) << "\"}" << std::endl;
            break;
        case OutputMode::Plain:
            out_ << names_[index] << ": " << StepName(step) << std::endl;
            break;
        case OutputMode::Terminal:
            SetStatus(index, StepName(step));
            break;
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::Progress(std::size_t index, int run, std::uint32_t position, std::uint32_t maximum) {
    std::lock_guard lock(mutex_);
    auto& s = state_[index];
    // The last block reaches past the image's end; the bytes of the image are what
    // the user counts, so no position goes beyond the maximum.
    position = std::min(position, maximum);
    const std::uint32_t blocks = BlockCount(maximum);
    const std::uint32_t block = BlockCount(position);
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"progress\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << ",\"position\":" << position << ",\"maximum\":" << maximum
                 << ",\"block\":" << block << ",\"blocks\":" << blocks << "}\n";
            break;
        case OutputMode::Plain: {
            const int tenth = Percent(position, maximum) / 10;
            if (tenth != s.lastTenth) {
                s.lastTenth = tenth;
                out_ << names_[index] << ": " << Percent(position, maximum) << "% (" << block
                     << "/" << blocks << " blocks, " << position << "/" << maximum << " bytes)"
                     << std::endl;
            }
            break;
        }
        case OutputMode::Terminal: {
            ProgressFields f{names_[index], position, maximum, block, blocks,
                             std::chrono::duration<double>(Clock::now() - s.start).count()};
            s.line = ProgressLine(f, LineWidth());
            Redraw(false);
            break;
        }
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::SetStatus(std::size_t index, const std::string& text) {
    state_[index].line = StatusLine(names_[index], text, LineWidth());
    Redraw(false);
}

void Reporter::Resize(int columns) {
    std::lock_guard lock(mutex_);
    if (mode_ != OutputMode::Terminal) return;
    ApplyColumns(columns);
    Redraw(true);
}

void Reporter::ApplyColumns(int columns) {
    if (columns <= 0 || columns == columns_) return;
    // Lines wider than the new width are wrapped anew by some terminals and cut by
    // others, so the block's height on screen is unknown: draw a new block below.
    if (drawnWidth_ >= columns) drawn_ = false;
    columns_ = columns;
    for (std::size_t i = 0; i < state_.size(); ++i) {
        // Shortened lines are made again at the next step or progress; until then
        // they are cut to fit.
        state_[i].line = FitToWidth(state_[i].line, LineWidth(), Cut::KeepStart);
    }
}

// Redraws every port's line in place, at most 20 times a second unless forced. The
// cursor goes back up exactly as many lines as the block has; each line fits the
// terminal's width, so none of them wrapped.
void Reporter::Redraw(bool force) {
    if (TerminalSizeChanged()) {
        ApplyColumns(TerminalColumns());
        force = true;
    }
    const auto now = Clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = now;
    if (drawn_ && drawnLines_ > 0) out_ << "\x1b[" << drawnLines_ << "F";
    drawnWidth_ = 0;
    std::vector<const std::string*> lines;
    for (const auto& s : state_) lines.push_back(&s.line);
    const std::string counter = FitToWidth(CounterText(), LineWidth(), Cut::KeepStart);
    if (watch_.on) lines.push_back(&counter);
    for (const std::string* line : lines) {
        out_ << "\r\x1b[K" << *line << '\n';
        drawnWidth_ = std::max(drawnWidth_, DisplayWidth(*line));
    }
    drawnLines_ = lines.size();
    out_.flush();
    drawn_ = true;
}

void Reporter::Frame(std::size_t index, TFrameDirection direction, const std::uint8_t* data,
                     std::size_t size) {
    std::lock_guard lock(mutex_);
    err_ << names_[index] << (direction == TFrameDirection::Request ? " request" : " reply")
         << '\n'
         << DumpHeader(static_cast<long long>(size)) << '\n';
    for (const auto& line : HexDumpLines(data, size)) err_ << line << '\n';
    err_.flush();
}

// Every line names its port, so that the lines of parallel updates can be told apart.
void Reporter::WriteError(std::size_t index, const std::string& message, const std::string& hint,
                          bool partialImage) {
    for (const auto& line : SplitLines(message)) {
        err_ << names_[index] << ": " << TerminalText(line) << '\n';
    }
    if (!hint.empty()) err_ << names_[index] << ": hint: " << TerminalText(hint) << '\n';
    if (partialImage) err_ << names_[index] << ": hint: " << PartialImageHint << '\n';
    err_.flush();
}

void Reporter::Success(std::size_t index, int run) {
    std::lock_guard lock(mutex_);
    ++state_[index].updated;
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"result\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << ",\"result\":\"ok\",\"message\":\"Update OK\"}"
                 << std::endl;
            break;
        case OutputMode::Terminal:
            state_[index].last = "Update OK";
            state_[index].line = StatusLine(names_[index], "Update OK", LineWidth());
            Redraw(true);
            break;
        case OutputMode::Plain:
        case OutputMode::Quiet:
            out_ << (NamesPorts() ? names_[index] + ": " : "") << "Update OK" << std::endl;
            break;
    }
}

void Reporter::Failure(std::size_t index, int run, const std::string& message,
                       const std::string& hint, bool partialImage) {
    std::lock_guard lock(mutex_);
    auto& s = state_[index];
    if (!s.failed) {
        s.failed = true;
        s.failure = SplitLines(message).back();
    }
    if (mode_ == OutputMode::Json) {
        out_ << "{\"event\":\"result\",\"port\":" << JsonString(ports_[index]) << ",\"run\":" << run
             << ",\"result\":\"error\",\"message\":" << JsonString(message);
        if (!hint.empty()) out_ << ",\"hint\":" << JsonString(hint);
        if (partialImage) out_ << ",\"partial_image\":true";
        out_ << "}" << std::endl;
        return;
    }
    if (mode_ == OutputMode::Terminal) {
        // Written below the bars once they stand still, so they are not torn apart.
        s.last = "ERROR: " + TerminalText(SplitLines(message).back());
        s.line = StatusLine(names_[index], watch_.on ? s.last : std::string("ERROR"), LineWidth());
        Redraw(true);
        deferredErrors_.push_back({index, message, hint, partialImage});
        return;
    }
    WriteError(index, message, hint, partialImage);
}

void Reporter::Retry(std::size_t index, int run, int attempt, int attempts, int delayMs) {
    std::lock_guard lock(mutex_);
    state_[index].failed = false;
    const std::string text = "retrying in " + std::to_string(delayMs) + " ms (attempt " +
                             std::to_string(attempt) + " of " + std::to_string(attempts) + ")";
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"retry\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << ",\"attempt\":" << attempt << ",\"attempts\":" << attempts
                 << ",\"delay_ms\":" << delayMs << "}" << std::endl;
            break;
        case OutputMode::Plain:
            out_ << names_[index] << ": " << text << std::endl;
            break;
        case OutputMode::Terminal:
            SetStatus(index, text);
            // Below the bars the failure's text is followed by what came of it.
            deferredErrors_.push_back({index, text, "", false});
            break;
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::Note(std::size_t index, const std::string& key, bool ok, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        out_ << "{\"event\":" << JsonString(key) << ",\"port\":" << JsonString(ports_[index])
             << ",\"ok\":" << (ok ? "true" : "false") << ",\"message\":" << JsonString(text) << "}"
             << std::endl;
    } else {
        (ok ? out_ : err_) << (NamesPorts() ? names_[index] + ": " : "") << TerminalText(text)
                           << std::endl;
    }
}

// "2 of 3 modules updated; failed: /dev/ttyUSB1 (CRYPT ERROR)"; with -n 3 on three
// ports, "2 of 3 modules updated (7 of 9 updates succeeded); failed: ...".
void Reporter::WriteSummary() {
    std::size_t updated = 0, updates = 0;
    std::string failed;
    for (std::size_t i = 0; i < state_.size(); ++i) {
        updates += static_cast<std::size_t>(state_[i].updated);
        if (!state_[i].failed) {
            ++updated;
            continue;
        }
        if (mode_ == OutputMode::Json) {
            failed += std::string(failed.empty() ? "" : ",") + "{\"port\":" +
                      JsonString(ports_[i]) + ",\"message\":" + JsonString(state_[i].failure) + "}";
        } else {
            failed += (failed.empty() ? "" : ", ") + names_[i] + " (" +
                      TerminalText(state_[i].failure) + ")";
        }
    }
    const std::size_t planned = state_.size() * static_cast<std::size_t>(runsPerPort_);
    if (mode_ == OutputMode::Json) {
        out_ << "{\"event\":\"summary\",\"updated\":" << updated << ",\"modules\":" << state_.size()
             << ",\"updates_succeeded\":" << updates << ",\"updates\":" << planned << ",\"failed\":["
             << failed << "]}" << std::endl;
        return;
    }
    std::ostream& stream = failed.empty() ? out_ : err_;
    stream << updated << " of " << state_.size() << " modules updated";
    if (runsPerPort_ > 1) stream << " (" << updates << " of " << planned << " updates succeeded)";
    if (!failed.empty()) stream << "; failed: " << failed;
    stream << std::endl;
}

void Reporter::Finish() {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Terminal && drawn_) Redraw(true);
    out_.flush();
    for (const auto& e : deferredErrors_) WriteError(e.index, e.message, e.hint, e.partialImage);
    deferredErrors_.clear();
}

void Reporter::Summary() {
    std::lock_guard lock(mutex_);
    if (state_.size() > 1) WriteSummary();
}

// ------------------------------------------------------------------ watch mode

void Reporter::StartWatch() {
    std::lock_guard lock(mutex_);
    watch_.on = true;
    watch_.since = UtcTimeText(std::chrono::system_clock::now()).substr(11, 8) + " UTC";
}

std::size_t Reporter::AddSlot(const std::string& port, const std::string& label,
                              const std::string& jsonFields) {
    std::lock_guard lock(mutex_);
    ports_.push_back(port);
    names_.push_back(TerminalText(label));
    slotJson_.resize(ports_.size());
    slotJson_.back() = jsonFields;
    state_.emplace_back();
    state_.back().line = StatusLine(names_.back(), "present", LineWidth());
    return ports_.size() - 1;
}

std::string Reporter::CounterText() const {
    return std::to_string(watch_.passed) + " passed, " + std::to_string(watch_.failed) +
           " failed, " + std::to_string(watch_.skipped) + " skipped, " +
           std::to_string(watch_.running) + " in progress since " + watch_.since;
}

// A slot's state on its line, with the last result while it is not running.
void Reporter::WatchStatus(std::size_t index, const std::string& state) {
    const std::string& last = state_[index].last;
    SetStatus(index, last.empty() ? state : state + " (last: " + last + ")");
}

void Reporter::PortAdded(std::size_t index) {
    std::lock_guard lock(mutex_);
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"port-added\",\"port\":" << JsonString(ports_[index])
                 << (slotJson_[index].empty() ? "" : ",") << slotJson_[index] << "}" << std::endl;
            break;
        case OutputMode::Plain:
            out_ << names_[index] << ": port added" << std::endl;
            break;
        case OutputMode::Terminal:
            WatchStatus(index, "present");
            break;
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::PortRemoved(std::size_t index) {
    std::lock_guard lock(mutex_);
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"port-removed\",\"port\":" << JsonString(ports_[index]) << "}"
                 << std::endl;
            break;
        case OutputMode::Plain:
            out_ << names_[index] << ": port removed" << std::endl;
            break;
        case OutputMode::Terminal:
            WatchStatus(index, "removed");
            break;
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::Started(std::size_t index, int run) {
    std::lock_guard lock(mutex_);
    ++watch_.running;
    state_[index].lastTenth = -1;
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"started\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << "}" << std::endl;
            break;
        case OutputMode::Plain:
            out_ << names_[index] << ": update " << run << " started" << std::endl;
            break;
        case OutputMode::Terminal:
            WatchStatus(index, "started");
            break;
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::Skipped(std::size_t index, int run, const std::string& message) {
    std::lock_guard lock(mutex_);
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"result\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << ",\"result\":\"skipped\",\"message\":"
                 << JsonString(message) << "}" << std::endl;
            break;
        case OutputMode::Terminal:
            state_[index].last = "skipped";
            SetStatus(index, TerminalText(message));
            break;
        case OutputMode::Plain:
        case OutputMode::Quiet:
            out_ << names_[index] << ": " << TerminalText(message) << std::endl;
            break;
    }
}

void Reporter::Ended(WatchResult result) {
    std::lock_guard lock(mutex_);
    --watch_.running;
    (result == WatchResult::Passed   ? watch_.passed
     : result == WatchResult::Failed ? watch_.failed
                                     : watch_.skipped) += 1;
    if (mode_ == OutputMode::Plain) out_ << CounterText() << std::endl;
    if (mode_ == OutputMode::Terminal) Redraw(true);
}

void Reporter::WatchSummary() {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        out_ << "{\"event\":\"summary\",\"passed\":" << watch_.passed
             << ",\"failed\":" << watch_.failed << ",\"skipped\":" << watch_.skipped
             << ",\"in_progress\":" << watch_.running << ",\"since\":" << JsonString(watch_.since)
             << "}" << std::endl;
        return;
    }
    (watch_.failed > 0 ? err_ : out_) << CounterText() << std::endl;
}

}  // namespace kordel::cli

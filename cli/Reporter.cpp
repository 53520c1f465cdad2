#include "Reporter.h"

#include <algorithm>
#include <cstdio>

#include "HexDump.h"

namespace kordel::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::string Bar(std::uint32_t position, std::uint32_t maximum, int width) {
    const int filled = maximum == 0 ? width
                                    : static_cast<int>(std::min<std::uint64_t>(
                                          width, std::uint64_t{position} * width / maximum));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

int Percent(std::uint32_t position, std::uint32_t maximum) {
    if (maximum == 0) return 100;
    return static_cast<int>(std::min<std::uint64_t>(100, std::uint64_t{position} * 100 / maximum));
}

// The text with CR LF line breaks as the terminal's line breaks.
std::string Lines(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04X", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

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
                   std::vector<std::string> ports)
    : mode_(mode), out_(out), err_(err), ports_(std::move(ports)), state_(ports_.size()) {
    for (std::size_t i = 0; i < ports_.size(); ++i) state_[i].line = ports_[i] + "  waiting";
}

std::unique_ptr<TProgressSink> Reporter::SinkFor(std::size_t index, int run) {
    return std::make_unique<PortSink>(*this, index, run);
}

std::string Reporter::Prefix(std::size_t index) const {
    return ports_.size() > 1 ? ports_[index] + ": " : std::string();
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
            out_ << ports_[index] << ": " << StepName(step) << std::endl;
            break;
        case OutputMode::Terminal:
            SetLine(index, ports_[index] + "  " + StepName(step));
            break;
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::Progress(std::size_t index, int run, std::uint32_t position, std::uint32_t maximum) {
    std::lock_guard lock(mutex_);
    auto& s = state_[index];
    s.position = position;
    s.maximum = maximum;
    const std::uint32_t blocks = (maximum + BlockSize - 1) / BlockSize;
    const std::uint32_t block = std::min(blocks, position / BlockSize);
    const std::uint32_t bytes = std::min(position, maximum);
    const double seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
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
                out_ << ports_[index] << ": " << Percent(position, maximum) << "% (" << block << "/"
                     << blocks << " blocks, " << bytes << "/" << maximum << " bytes)" << std::endl;
            }
            break;
        }
        case OutputMode::Terminal: {
            char tail[128];
            std::snprintf(tail, sizeof tail,
                          " %3d%%  %u/%u blocks  %u/%u bytes  %.1f KiB/s  %.1f s",
                          Percent(position, maximum), block, blocks, bytes, maximum,
                          seconds > 0 ? bytes / 1024.0 / seconds : 0.0, seconds);
            SetLine(index, ports_[index] + "  " + Bar(position, maximum, 24) + tail);
            break;
        }
        case OutputMode::Quiet:
            break;
    }
}

void Reporter::SetLine(std::size_t index, const std::string& line) {
    state_[index].line = line;
    Redraw(false);
}

// Redraws every port's line in place, at most 20 times a second unless forced.
void Reporter::Redraw(bool force) {
    const auto now = Clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = now;
    if (drawn_) out_ << "\x1b[" << state_.size() << "F";
    for (const auto& s : state_) out_ << "\r\x1b[K" << s.line << '\n';
    out_.flush();
    drawn_ = true;
}

void Reporter::Frame(std::size_t index, TFrameDirection direction, const std::uint8_t* data,
                     std::size_t size) {
    std::lock_guard lock(mutex_);
    err_ << ports_[index] << (direction == TFrameDirection::Request ? " request" : " reply") << '\n'
         << DumpHeader(static_cast<long long>(size)) << '\n';
    for (const auto& line : HexDumpLines(data, size)) err_ << line << '\n';
    err_.flush();
}

void Reporter::WriteError(std::size_t index, const std::string& message, const std::string& hint) {
    err_ << Prefix(index) << Lines(message) << '\n';
    if (!hint.empty()) err_ << Prefix(index) << "hint: " << hint << '\n';
    err_.flush();
}

void Reporter::Success(std::size_t index, int run) {
    std::lock_guard lock(mutex_);
    switch (mode_) {
        case OutputMode::Json:
            out_ << "{\"event\":\"result\",\"port\":" << JsonString(ports_[index])
                 << ",\"run\":" << run << ",\"result\":\"ok\",\"message\":\"Update OK\"}"
                 << std::endl;
            break;
        case OutputMode::Terminal:
            state_[index].line = ports_[index] + "  Update OK";
            Redraw(true);
            break;
        case OutputMode::Plain:
        case OutputMode::Quiet:
            out_ << Prefix(index) << "Update OK" << std::endl;
            break;
    }
}

void Reporter::Failure(std::size_t index, int run, const std::string& message,
                       const std::string& hint) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        out_ << "{\"event\":\"result\",\"port\":" << JsonString(ports_[index]) << ",\"run\":" << run
             << ",\"result\":\"error\",\"message\":" << JsonString(message);
        if (!hint.empty()) out_ << ",\"hint\":" << JsonString(hint);
        out_ << "}" << std::endl;
        return;
    }
    if (mode_ == OutputMode::Terminal) {
        // Written below the bars once they stand still, so they are not torn apart.
        state_[index].line = ports_[index] + "  ERROR";
        Redraw(true);
        deferredErrors_.push_back({index, message, hint});
        return;
    }
    WriteError(index, message, hint);
}

void Reporter::Note(std::size_t index, const std::string& key, bool ok, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Json) {
        out_ << "{\"event\":" << JsonString(key) << ",\"port\":" << JsonString(ports_[index])
             << ",\"ok\":" << (ok ? "true" : "false") << ",\"message\":" << JsonString(text) << "}"
             << std::endl;
    } else {
        (ok ? out_ : err_) << Prefix(index) << text << std::endl;
    }
}

void Reporter::Finish() {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::Terminal && drawn_) Redraw(true);
    out_.flush();
    for (const auto& e : deferredErrors_) WriteError(e.index, e.message, e.hint);
    deferredErrors_.clear();
}

}  // namespace kordel::cli

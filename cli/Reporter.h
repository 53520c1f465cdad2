// What kordel-flash tells its user: a progress bar per port on a terminal, plain lines
// when the output is a file or pipe, or one JSON object per line for programs.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ComIo.h"
#include "Text.h"
#include "Update.h"

namespace kordel::cli {

enum class OutputMode { Terminal, Plain, Json, Quiet };

class Reporter {
  public:
    // `columns` is the terminal's width (Terminal mode only; 0 when unknown);
    // `runsPerPort` the number of updates each port is to get.
    Reporter(OutputMode mode, std::ostream& out, std::ostream& err, std::vector<std::string> ports,
             int columns = 0, int runsPerPort = 1);

    // The progress sink of one update on port `index`.
    std::unique_ptr<TProgressSink> SinkFor(std::size_t index, int run);

    void Frame(std::size_t index, TFrameDirection direction, const std::uint8_t* data,
               std::size_t size);
    void Success(std::size_t index, int run);
    // `message` is the failure's exact text; `hint` a line on its likely cause, or empty.
    // `partialImage`: the failure came while blocks were being written, so the module
    // holds part of the image, which another line says.
    void Failure(std::size_t index, int run, const std::string& message, const std::string& hint,
                 bool partialImage = false);
    // The update of `run` failed and starts again after `delayMs`, as attempt `attempt`
    // of at most `attempts`; the failure no longer counts for the summary.
    void Retry(std::size_t index, int run, int attempt, int attempts, int delayMs);
    // A line of its own, e.g. the simulated module's confirmation.
    void Note(std::size_t index, const std::string& key, bool ok, const std::string& text);
    // Leaves the terminal below the progress bars and writes the errors held back
    // while the bars moved.
    void Finish();
    // With several ports, the closing line: "2 of 3 modules updated; failed: ...", with
    // the count of updates too when each port gets more than one.
    void Summary();

    // The terminal's width changed (Terminal mode).
    void Resize(int columns);

    // ---- watch mode: slots come as ports appear, and a counter line of the updates
    // since the start follows them on a terminal.
    void StartWatch();
    // A slot for `port` (what its link opens), shown as `label`; `jsonFields` are the
    // port-added event's further members (without braces). Returns its index.
    std::size_t AddSlot(const std::string& port, const std::string& label,
                        const std::string& jsonFields);
    void PortAdded(std::size_t index);
    void PortRemoved(std::size_t index);
    // The slot's update `run` (its plug, counted from 1) begins.
    void Started(std::size_t index, int run);
    // The module was left as it was; `message` says why.
    void Skipped(std::size_t index, int run, const std::string& message);
    enum class WatchResult { Passed, Failed, Skipped };
    // The slot's update ended, retries included.
    void Ended(WatchResult result);
    // The counter line as the closing line.
    void WatchSummary();

  private:
    friend class PortSink;
    struct PortState {
        std::string line;
        int lastTenth = -1;
        std::chrono::steady_clock::time_point start;
        bool failed = false;
        std::string failure;  // the failure's last line, for the summary
        int updated = 0;      // updates that succeeded
        std::string last;     // watch mode: the last result, kept while the port is away
    };
    struct WatchCounts {
        bool on = false;
        int passed = 0, failed = 0, skipped = 0, running = 0;
        std::string since;  // "16:40:03 UTC"
    };

    void Progress(std::size_t index, int run, std::uint32_t position, std::uint32_t maximum);
    void Step(std::size_t index, int run, TUpdateStep step);
    void SetStatus(std::size_t index, const std::string& text);
    void ApplyColumns(int columns);
    void Redraw(bool force);
    int LineWidth() const;
    void WriteError(std::size_t index, const std::string& message, const std::string& hint,
                    bool partialImage);
    void WriteSummary();
    void WatchStatus(std::size_t index, const std::string& state);
    std::string CounterText() const;
    bool NamesPorts() const { return watch_.on || ports_.size() > 1; }

    OutputMode mode_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::string> ports_;  // as given, for JSON
    std::vector<std::string> names_;  // safe for a terminal
    std::vector<PortState> state_;
    std::mutex mutex_;
    struct DeferredError {
        std::size_t index;
        std::string message;
        std::string hint;
        bool partialImage;
    };
    std::vector<DeferredError> deferredErrors_;
    int columns_;
    int runsPerPort_;
    WatchCounts watch_;
    std::vector<std::string> slotJson_;  // watch mode: each slot's port-added members
    bool drawn_ = false;
    std::size_t drawnLines_ = 0;  // lines of the block on the terminal now
    int drawnWidth_ = 0;  // the widest line on the terminal now
    std::chrono::steady_clock::time_point lastDraw_;
};

std::string StepName(TUpdateStep step);

// True when a terminal `columns` wide (0: unknown) is wide enough for progress bars;
// narrower terminals get plain lines.
bool TerminalFitsBars(int columns);

}  // namespace kordel::cli

// What kordel-flash tells its user: a progress bar per port on a terminal, plain lines
// when the output is a file or pipe, or one JSON object per line for programs.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "ComIo.h"
#include "Update.h"

namespace kordel::cli {

enum class OutputMode { Terminal, Plain, Json, Quiet };

class Reporter {
  public:
    Reporter(OutputMode mode, std::ostream& out, std::ostream& err, std::vector<std::string> ports);

    // The progress sink of one update on port `index`.
    std::unique_ptr<TProgressSink> SinkFor(std::size_t index, int run);

    void Frame(std::size_t index, TFrameDirection direction, const std::uint8_t* data,
               std::size_t size);
    void Success(std::size_t index, int run);
    // `message` is the failure's exact text; `hint` a line on its likely cause, or empty.
    void Failure(std::size_t index, int run, const std::string& message, const std::string& hint);
    // A line of its own, e.g. the simulated module's confirmation.
    void Note(std::size_t index, const std::string& key, bool ok, const std::string& text);
    // Leaves the terminal below the progress bars.
    void Finish();

  private:
    friend class PortSink;
    struct PortState {
        std::string line;
        std::uint32_t maximum = 0;
        std::uint32_t position = 0;
        int lastTenth = -1;
        std::chrono::steady_clock::time_point start;
    };

    void Progress(std::size_t index, int run, std::uint32_t position, std::uint32_t maximum);
    void Step(std::size_t index, int run, TUpdateStep step);
    void SetLine(std::size_t index, const std::string& line);
    void Redraw(bool force);
    std::string Prefix(std::size_t index) const;
    void WriteError(std::size_t index, const std::string& message, const std::string& hint);

    OutputMode mode_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::string> ports_;
    std::vector<PortState> state_;
    std::mutex mutex_;
    struct DeferredError {
        std::size_t index;
        std::string message;
        std::string hint;
    };
    std::vector<DeferredError> deferredErrors_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_;
};

std::string JsonString(const std::string& text);
std::string StepName(TUpdateStep step);

}  // namespace kordel::cli

// Outside text (port names, module and system messages, image descriptions) made safe
// for a terminal or for JSON, and lines fitted to a terminal's width.
#pragma once

#include <cstdint>
#include <string>

namespace kordel::cli {

// The text as a JSON string literal, quotes included: always valid UTF-8 (a byte that
// is not part of a valid UTF-8 sequence becomes U+FFFD), every control character
// (C0, DEL, C1) escaped as \uXXXX or its short form.
std::string JsonString(const std::string& text);

// The text for a terminal: valid UTF-8 without control characters. Each byte of an
// invalid sequence or of a control character is shown as \xHH, so a hostile name can
// neither move the cursor nor change colours, and stays recognisable.
std::string TerminalText(const std::string& text);

// The columns the text takes on a terminal: one per character, two for the wide
// East Asian ranges. Expects TerminalText's output.
int DisplayWidth(const std::string& text);

// The text cut to `width` columns. KeepEnd keeps the end ("...ttyUSB0"), for names
// whose distinguishing part is at the end; otherwise the start is kept.
enum class Cut { KeepStart, KeepEnd };
std::string FitToWidth(const std::string& text, int width, Cut cut);

// One port's progress on a terminal.
struct ProgressFields {
    std::string port;  // TerminalText already applied
    std::uint32_t position = 0;
    std::uint32_t maximum = 0;
    std::uint32_t block = 0;
    std::uint32_t blocks = 0;
    double seconds = 0;
};

// The progress line in at most `width` columns: name, bar, percent, then blocks,
// bytes, rate and time as far as they fit. The figures go from the end first, then
// the bar narrows, and only then is the port name shortened (from the left).
std::string ProgressLine(const ProgressFields& fields, int width);

// "PORT  TEXT" in at most `width` columns, the port name shortened first.
std::string StatusLine(const std::string& port, const std::string& text, int width);

}  // namespace kordel::cli

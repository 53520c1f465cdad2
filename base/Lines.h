// Text split into lines: the one rule for settings files and for messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kordel {

// The text's lines, without their ends. CR LF, LF and a lone CR each end one line
// (settings files written by other editors use any of the three). The text after the
// last line end is the last line, empty when the text ends with a line end, so there
// is always at least one line and nothing but the line ends is dropped.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace kordel

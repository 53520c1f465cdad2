// UTF-8, decoded strictly and encoded: the one rule for every text the programs read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kordel {

// The length of the valid UTF-8 sequence at `pos` and its code point in `cp`, or 0
// when the byte there starts no valid sequence: a stray continuation byte, an overlong
// form (C0 AF for "/"), a surrogate (U+D800..U+DFFF), a value beyond U+10FFFF, or a
// sequence cut short by the end of the text or by a byte that does not continue it.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp);

// Appends the code point's UTF-8 form (1 to 4 bytes).
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace kordel

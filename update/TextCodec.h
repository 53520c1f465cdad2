// Small text conversions: UTF-8 in memory, Windows-1252 for single-byte texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "Utf8.h"

namespace kordel {

// Decodes UTF-8 by DecodeUtf8's strict rule; each byte that starts no valid sequence
// gives one U+FFFD.
std::u32string Utf8ToCodePoints(const std::string& s);
char32_t Cp1252ToCodePoint(std::uint8_t byte);
// The Windows-1252 byte of a code point, or -1 when the page has none.
int CodePointToCp1252(char32_t c);

// A file path from a UTF-8 text. A plain std::string would be read in the ANSI code
// page on Windows, which garbles every name beyond ASCII.
inline std::filesystem::path Utf8Path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path's name as UTF-8 text, the counterpart of Utf8Path.
inline std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace kordel

// Small text conversions: UTF-8 in memory, Windows-1252 for single-byte texts.
#pragma once

#include <cstdint>
#include <string>

namespace kordel {

void AppendUtf8(std::string& out, char32_t c);
// Decodes UTF-8; a malformed sequence gives U+FFFD for its first byte.
std::u32string Utf8ToCodePoints(const std::string& s);
char32_t Cp1252ToCodePoint(std::uint8_t byte);
// The Windows-1252 byte of a code point, or -1 when the page has none.
int CodePointToCp1252(char32_t c);

}  // namespace kordel

#include "DebugLog.h"

#include <algorithm>
#include <cstdio>

#include "HexDump.h"

namespace kordel {

std::string Hex8(std::int32_t n) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", static_cast<std::uint32_t>(n));
    return text;
}

void TDebugLog::C() {
    if (clear) clear();
}

void TDebugLog::S(const std::string& s1) {
    Append(s1);
}
void TDebugLog::D(std::int32_t n) {
    Append(std::to_string(n));
}
void TDebugLog::H(std::int32_t n) {
    Append(Hex8(n));
}
void TDebugLog::TH(const std::string& txt, std::int32_t n) {
    Append(txt + ": " + Hex8(n));
}

void TDebugLog::L(char16_t c) {
    std::string line;
    char utf8[4];
    int len = 0;
    if (c < 0x80) {
        utf8[len++] = static_cast<char>(c);
    } else if (c < 0x800) {
        utf8[len++] = static_cast<char>(0xC0 | (c >> 6));
        utf8[len++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        utf8[len++] = static_cast<char>(0xE0 | (c >> 12));
        utf8[len++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8[len++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    for (int i = 0; i < 60; ++i) line.append(utf8, static_cast<std::size_t>(len));
    Append(line);
}

// Counts outside the data are clamped to it: a negative count dumps nothing, a count
// past the end dumps what there is.
void TDebugLog::DUMP(const std::vector<std::uint8_t>& arr, std::int32_t anz) {
    const std::int32_t size = static_cast<std::int32_t>(arr.size());
    const std::int32_t count = anz == -1 ? size : std::clamp(anz, 0, size);
    Append(DumpHeader(anz == -1 ? size : anz));
    for (const auto& line : HexDumpLines(arr.data(), static_cast<std::size_t>(count))) Append(line);
}

void TDebugLog::BUFF(const std::uint8_t* buf, std::int32_t anz) {
    if (buf == nullptr || anz <= 0) return;
    for (const auto& line : HexDumpLines(buf, static_cast<std::size_t>(anz))) Append(line);
}

}  // namespace kordel

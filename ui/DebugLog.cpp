#include "DebugLog.h"

#include <algorithm>
#include <cstdio>

#include "HexDump.h"
#include "TextCodec.h"

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
    std::string one;
    AppendUtf8(one, c);
    std::string line;
    for (int i = 0; i < 60; ++i) line += one;
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

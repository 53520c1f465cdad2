#include "HexDump.h"

#include <cstdio>

namespace kordel {

std::vector<std::string> HexDumpLines(const std::uint8_t* data, std::size_t count) {
    std::vector<std::string> lines;
    for (std::size_t base = 0; base < count; base += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%04zX: ", base);
        std::string line = offset;
        std::string text;
        for (std::size_t j = 0; j < 16; ++j) {
            const std::size_t i = base + j;
            if (i < count) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X", data[i]);
                line += hex;
                text += data[i] >= 32 && data[i] <= 125 ? static_cast<char>(data[i]) : '.';
            } else {
                line += " ..";
            }
        }
        lines.push_back(line + "  " + text);
    }
    return lines;
}

std::string DumpHeader(long long count) {
    return "Anzahl: " + std::to_string(count);
}

}  // namespace kordel

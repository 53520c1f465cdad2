#include "TextCodec.h"

namespace kordel {

namespace {

// Windows-1252 code points of the bytes 80..9F; the rest of the page equals Latin-1.
constexpr char32_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::u32string Utf8ToCodePoints(const std::string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        char32_t c = 0;
        const std::size_t length = DecodeUtf8(s, i, c);
        out += length == 0 ? U'\uFFFD' : c;
        i += length == 0 ? 1 : length;
    }
    return out;
}

char32_t Cp1252ToCodePoint(std::uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? Cp1252High[byte - 0x80] : char32_t{byte};
}

int CodePointToCp1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return static_cast<int>(c);
    for (int k = 0; k < 32; ++k) {
        if (Cp1252High[k] == c) return 0x80 + k;
    }
    return -1;
}

}  // namespace kordel

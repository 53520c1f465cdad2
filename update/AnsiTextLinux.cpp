#include "AnsiText.h"

#include "TextCodec.h"

namespace kordel {

std::string AnsiToUtf8(const std::string& bytes) {
    std::string out;
    for (unsigned char b : bytes) AppendUtf8(out, Cp1252ToCodePoint(b));
    return out;
}

std::string Utf8ToAnsi(const std::string& utf8) {
    std::string out;
    for (char32_t c : Utf8ToCodePoints(utf8)) {
        const int byte = CodePointToCp1252(c);
        out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return out;
}

}  // namespace kordel

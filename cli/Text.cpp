#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Utf8.h"

namespace kordel::cli {

namespace {

bool IsControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

int CharWidth(char32_t cp) {
    // Hangul Jamo, CJK, Hangul syllables, compatibility forms, full-width forms and
    // the supplementary ideographic planes take two columns.
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
                      (cp >= 0x20000 && cp <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The text split into characters (valid UTF-8 sequences, or single bytes where the
// text is not valid), with their widths.
struct Glyph {
    std::size_t begin;
    std::size_t length;
    int width;
};

std::vector<Glyph> Glyphs(const std::string& text) {
    std::vector<Glyph> glyphs;
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        std::size_t length = DecodeUtf8(text, pos, cp);
        const int width = length == 0 ? 1 : CharWidth(cp);
        length = std::max<std::size_t>(length, 1);
        glyphs.push_back({pos, length, width});
        pos += length;
    }
    return glyphs;
}

std::string Hex(unsigned value, const char* format) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, pos, cp);
        if (length == 0) {
            out += "\\uFFFD";
            ++pos;
            continue;
        }
        switch (cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += IsControl(cp) ? Hex(static_cast<unsigned>(cp), "\\u%04X")
                                     : text.substr(pos, length);
        }
        pos += length;
    }
    return out + "\"";
}

std::string TerminalText(const std::string& text) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        std::size_t length = DecodeUtf8(text, pos, cp);
        if (length != 0 && !IsControl(cp)) {
            out.append(text, pos, length);
        } else {
            length = std::max<std::size_t>(length, 1);
            for (std::size_t i = 0; i < length; ++i) {
                out += Hex(static_cast<unsigned char>(text[pos + i]), "\\x%02X");
            }
        }
        pos += length;
    }
    return out;
}

int DisplayWidth(const std::string& text) {
    int width = 0;
    for (const Glyph& g : Glyphs(text)) width += g.width;
    return width;
}

std::string FitToWidth(const std::string& text, int width, Cut cut) {
    if (DisplayWidth(text) <= width) return text;
    if (width <= 0) return "";
    const std::string dots = width >= 6 ? "..." : "";
    int room = width - static_cast<int>(dots.size());
    const auto glyphs = Glyphs(text);
    std::string kept;
    if (cut == Cut::KeepStart) {
        for (const Glyph& g : glyphs) {
            if ((room -= g.width) < 0) break;
            kept.append(text, g.begin, g.length);
        }
        return kept + dots;
    }
    std::size_t begin = text.size();
    for (auto g = glyphs.rbegin(); g != glyphs.rend(); ++g) {
        if ((room -= g->width) < 0) break;
        begin = g->begin;
    }
    return dots + text.substr(begin);
}

namespace {

std::string Format(const char* format, auto... values) {
    char buf[96];
    std::snprintf(buf, sizeof buf, format, values...);
    return buf;
}

std::string Bar(std::uint32_t position, std::uint32_t maximum, int width) {
    const int filled = maximum == 0 ? width
                                    : static_cast<int>(std::min<std::uint64_t>(
                                          width, std::uint64_t{position} * width / maximum));
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    return bar + ']';
}

int Percent(std::uint32_t position, std::uint32_t maximum) {
    if (maximum == 0) return 100;
    return static_cast<int>(std::min<std::uint64_t>(100, std::uint64_t{position} * 100 / maximum));
}

int Digits(std::uint32_t value) {
    return static_cast<int>(std::to_string(value).size());
}

// The optional fields after the percentage, in the order they are given up last to
// first; numbers padded to their final width so the line does not jitter.
std::vector<std::string> OptionalFields(const ProgressFields& f) {
    const std::uint32_t bytes = std::min(f.position, f.maximum);
    const double rate = f.seconds > 0 ? bytes / 1024.0 / f.seconds : 0.0;
    return {Format("  %*u/%u blocks", Digits(f.blocks), f.block, f.blocks),
            Format("  %*u/%u bytes", Digits(f.maximum), bytes, f.maximum),
            Format("  %5.1f KiB/s", std::min(rate, 9999.9)),
            Format("  %5.1f s", std::min(f.seconds, 9999.9))};
}

}  // namespace

std::string ProgressLine(const ProgressFields& f, int width) {
    constexpr int FullBar = 24, NarrowBar = 10;
    constexpr int NameWanted = 16;  // columns of name kept before anything else gives way
    const std::string percent = Format(" %3d%%", Percent(f.position, f.maximum));
    auto fields = OptionalFields(f);
    const int nameFloor = std::min(DisplayWidth(f.port), NameWanted);
    auto tailWidth = [&](int bar) {
        int w = 2 + bar + 2 + static_cast<int>(percent.size());
        for (const auto& field : fields) w += static_cast<int>(field.size());
        return w;
    };
    // More figures first, then a wider bar.
    while (!fields.empty() && nameFloor + tailWidth(NarrowBar) > width) fields.pop_back();
    int bar = FullBar;
    while (bar > NarrowBar && nameFloor + tailWidth(bar) > width) --bar;
    std::string tail = "  ";
    tail += Bar(f.position, f.maximum, bar) + percent;
    for (const auto& field : fields) tail += field;
    const int nameRoom = std::max(width - DisplayWidth(tail), 0);
    return FitToWidth(FitToWidth(f.port, nameRoom, Cut::KeepEnd) + tail, width, Cut::KeepStart);
}

std::string StatusLine(const std::string& port, const std::string& text, int width) {
    const std::string tail = "  " + text;
    const int nameRoom = std::max(width - DisplayWidth(tail), std::min(DisplayWidth(port), 12));
    return FitToWidth(FitToWidth(port, nameRoom, Cut::KeepEnd) + tail, width, Cut::KeepStart);
}

}  // namespace kordel::cli

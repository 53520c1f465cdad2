// A strict check of one JSON text (RFC 8259): the grammar, string escapes, no raw
// control characters, and UTF-8 that a strict decoder accepts.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>

namespace kordel::testing {

class JsonCheck {
  public:
    // Empty when `text` is one valid JSON value with nothing after it; otherwise what
    // is wrong and where.
    static std::string Problem(const std::string& text) {
        JsonCheck c(text);
        c.Value();
        c.Space();
        if (c.problem_.empty() && c.pos_ != text.size()) c.Fail("text after the value");
        return c.problem_;
    }

  private:
    explicit JsonCheck(const std::string& text) : s_(text) {}

    void Fail(const std::string& what) {
        if (problem_.empty()) problem_ = what + " at byte " + std::to_string(pos_);
    }
    bool Ok() const { return problem_.empty(); }
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    void Space() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' ||
                                    s_[pos_] == '\r')) {
            ++pos_;
        }
    }
    void Expect(char c) {
        if (Peek() != c) return Fail(std::string("expected '") + c + "'");
        ++pos_;
    }
    void Literal(const std::string& word) {
        if (s_.compare(pos_, word.size(), word) != 0) return Fail("bad literal");
        pos_ += word.size();
    }

    void Value() {
        Space();
        switch (Peek()) {
            case '{':
                return Object();
            case '[':
                return Array();
            case '"':
                return String();
            case 't':
                return Literal("true");
            case 'f':
                return Literal("false");
            case 'n':
                return Literal("null");
            default:
                return Number();
        }
    }

    void Object() {
        Expect('{');
        Space();
        if (Peek() == '}') return Expect('}');
        while (Ok()) {
            Space();
            String();
            Space();
            Expect(':');
            Value();
            Space();
            if (Peek() != ',') break;
            ++pos_;
        }
        Expect('}');
    }

    void Array() {
        Expect('[');
        Space();
        if (Peek() == ']') return Expect(']');
        while (Ok()) {
            Value();
            Space();
            if (Peek() != ',') break;
            ++pos_;
        }
        Expect(']');
    }

    static bool Digit(char c) { return c >= '0' && c <= '9'; }

    void Number() {
        const std::size_t start = pos_;
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') {
            ++pos_;
        } else if (Digit(Peek())) {
            while (Digit(Peek())) ++pos_;
        } else {
            return Fail("bad value");
        }
        if (Peek() == '.') {
            ++pos_;
            if (!Digit(Peek())) return Fail("bad fraction");
            while (Digit(Peek())) ++pos_;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (!Digit(Peek())) return Fail("bad exponent");
            while (Digit(Peek())) ++pos_;
        }
        if (pos_ == start) Fail("bad number");
    }

    void String() {
        Expect('"');
        while (Ok()) {
            if (pos_ >= s_.size()) return Fail("unterminated string");
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return;
            }
            if (c < 0x20) return Fail("raw control character in a string");
            if (c == '\\') {
                Escape();
            } else if (c < 0x80) {
                ++pos_;
            } else {
                Utf8();
            }
        }
    }

    void Escape() {
        ++pos_;
        const char e = Peek();
        if (std::string("\"\\/bfnrt").find(e) != std::string::npos && e != '\0') {
            ++pos_;
            return;
        }
        if (e != 'u') return Fail("bad escape");
        ++pos_;
        for (int i = 0; i < 4; ++i, ++pos_) {
            if (!std::isxdigit(static_cast<unsigned char>(Peek()))) return Fail("bad \\u escape");
        }
    }

    void Utf8() {
        const auto b = [&](std::size_t i) {
            return i < s_.size() ? static_cast<unsigned char>(s_[i]) : 0u;
        };
        const unsigned b0 = b(pos_);
        std::size_t length = 0;
        unsigned cp = 0, min = 0;
        if ((b0 & 0xE0) == 0xC0) {
            length = 2, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            length = 3, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            length = 4, cp = b0 & 0x07, min = 0x10000;
        } else {
            return Fail("invalid UTF-8 lead byte");
        }
        for (std::size_t i = 1; i < length; ++i) {
            if ((b(pos_ + i) & 0xC0) != 0x80) return Fail("invalid UTF-8 continuation");
            cp = (cp << 6) | (b(pos_ + i) & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return Fail("invalid UTF-8 code point");
        }
        if (cp >= 0x80 && cp <= 0x9F) return Fail("raw C1 control character");
        pos_ += length;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
    std::string problem_;
};

}  // namespace kordel::testing

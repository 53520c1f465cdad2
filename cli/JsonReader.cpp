#include "JsonReader.h"

#include <cmath>
#include <cstdlib>

#include "Utf8.h"

namespace kordel::cli {

namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    std::optional<JsonValue> Document() {
        JsonValue value;
        if (!Value(value, 0)) return std::nullopt;
        Space();
        if (pos_ != s_.size()) return std::nullopt;
        return value;
    }

  private:
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c || pos_ >= s_.size()) return false;
        ++pos_;
        return true;
    }
    void Space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool Word(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool Value(JsonValue& v, int depth) {
        if (depth >= MaxJsonDepth) return false;
        Space();
        switch (Peek()) {
            case '{':
                return Object(v, depth);
            case '[':
                return Array(v, depth);
            case '"':
                v.type = JsonValue::Type::String;
                return String(v.text);
            case 't':
                v.type = JsonValue::Type::Bool;
                v.boolean = true;
                return Word("true");
            case 'f':
                v.type = JsonValue::Type::Bool;
                return Word("false");
            case 'n':
                return Word("null");
            default:
                v.type = JsonValue::Type::Number;
                return Number(v.number);
        }
    }

    bool Object(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Object;
        ++pos_;
        Space();
        if (Take('}')) return true;
        for (;;) {
            Space();
            std::string key;
            if (!String(key)) return false;
            Space();
            if (!Take(':')) return false;
            JsonValue member;
            if (!Value(member, depth + 1)) return false;
            v.members.push_back({std::move(key), std::move(member)});
            Space();
            if (Take('}')) return true;
            if (!Take(',')) return false;
        }
    }

    bool Array(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Array;
        ++pos_;
        Space();
        if (Take(']')) return true;
        for (;;) {
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            v.items.push_back(std::move(item));
            Space();
            if (Take(']')) return true;
            if (!Take(',')) return false;
        }
    }

    static bool Digit(char c) { return c >= '0' && c <= '9'; }

    bool Digits() {
        if (!Digit(Peek())) return false;
        while (Digit(Peek())) ++pos_;
        return true;
    }

    bool Number(double& out) {
        const std::size_t start = pos_;
        Take('-');
        if (!Take('0') && !Digits()) return false;
        if (Take('.') && !Digits()) return false;
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (!Take('+')) Take('-');
            if (!Digits()) return false;
        }
        const std::string digits(s_.substr(start, pos_ - start));
        out = std::strtod(digits.c_str(), nullptr);
        return std::isfinite(out);
    }

    bool Hex4(std::uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i, ++pos_) {
            const char c = Peek();
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) return false;
            out = out << 4 | static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    // \uXXXX, with a surrogate pair for characters beyond U+FFFF; a lone surrogate is
    // no character.
    bool UnicodeEscape(std::string& out) {
        std::uint32_t cp = 0;
        if (!Hex4(cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, static_cast<char32_t>(cp));
        return true;
    }

    bool String(std::string& out) {
        if (!Take('"')) return false;
        for (;;) {
            if (pos_ >= s_.size()) return false;
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Peek();
            ++pos_;
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    if (!UnicodeEscape(out)) return false;
                    break;
                default:
                    return false;
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
    if (type != Type::Object) return nullptr;
    for (const auto& [name, value] : members) {
        if (name == key) return &value;
    }
    return nullptr;
}

std::optional<std::string> JsonValue::StringAt(std::string_view key) const {
    const JsonValue* v = Find(key);
    if (v == nullptr || v->type != Type::String) return std::nullopt;
    return v->text;
}

std::optional<std::uint64_t> JsonValue::CountAt(std::string_view key) const {
    const JsonValue* v = Find(key);
    constexpr double Limit = 9007199254740992.0;  // 2^53: every whole number below is exact
    if (v == nullptr || v->type != Type::Number || v->number < 0 || v->number > Limit ||
        std::floor(v->number) != v->number) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(v->number);
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    return Parser(text).Document();
}

}  // namespace kordel::cli

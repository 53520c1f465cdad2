// A strict reader of one JSON text (RFC 8259), for lines of the audit log. It holds
// the whole value; nesting deeper than MaxJsonDepth is refused, so a hostile line
// cannot exhaust the stack.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kordel::cli {

inline constexpr int MaxJsonDepth = 32;

struct JsonMember;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // a string's value, escapes decoded to UTF-8
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;  // in the order of the text

    // The member named `key` of an object (the first one, if named twice), or nullptr.
    const JsonValue* Find(std::string_view key) const;
    // The member's text when it is a string.
    std::optional<std::string> StringAt(std::string_view key) const;
    // The member's value when it is a whole number from 0 to 2^53.
    std::optional<std::uint64_t> CountAt(std::string_view key) const;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

// The value of `text`: one JSON value with nothing but white space around it, or
// nullopt when the text is not that.
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace kordel::cli

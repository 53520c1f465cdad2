// Choosing ports from a listing by name, USB identity, location or glob. Everything
// here works on the entries it is given: a watcher can ask the same questions of the
// ports that appear.
#include <algorithm>

#include "PortList.h"

namespace kordel {

namespace {

constexpr std::string_view UsbPrefix = "usb:";
constexpr std::string_view SerialPrefix = "serial:";
constexpr std::string_view LocationPrefix = "location:";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsHexId(std::string_view text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// A '[' makes a glob only with a ']' after it: a path may hold a lone '['.
bool IsGlob(std::string_view text) {
    if (text.find_first_of("*?") != std::string_view::npos) return true;
    const std::size_t open = text.find('[');
    return open != std::string_view::npos && text.find(']', open + 2) != std::string_view::npos;
}

// The set [...] at the start of `pattern` (just past the '['); returns whether `c` is in
// it and moves `pattern` past the closing ']'. nullopt when there is no closing ']'.
std::optional<bool> MatchSet(std::string_view& pattern, char c) {
    const bool negated = !pattern.empty() && (pattern[0] == '!' || pattern[0] == '^');
    std::size_t i = negated ? 1 : 0;
    bool found = false;
    // A ']' right after the '[' (or "[!") belongs to the set.
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        const char low = pattern[i];
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = pattern[i + 2];
            i += 2;
        }
        if (c >= low && c <= high) found = true;
        ++i;
    }
    if (i >= pattern.size()) return std::nullopt;
    pattern.remove_prefix(i + 1);
    return found != negated;
}

std::string Described(const TPortEntry& entry) {
    std::string text = entry.Name;
    if (entry.Path != entry.Name) text += " (" + entry.Path + ")";
    return text;
}

std::string ListOfPorts(const std::vector<TPortEntry>& ports) {
    std::string text;
    for (const auto& p : ports) text += (text.empty() ? "" : ", ") + Described(p);
    return text;
}

std::string NoMatch(const TPortPattern& pattern) {
    if (pattern.Kind == TPortPattern::TKind::Name) {
        return "no serial port named '" + pattern.Text + "' (--list shows the ports present)";
    }
    return "no serial port matches '" + pattern.Text + "' (--list shows the ports present)";
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
    while (!pattern.empty()) {
        const char p = pattern[0];
        if (p == '*') {
            pattern.remove_prefix(1);
            // The star takes 0, 1, 2, ... characters, up to the next '/'.
            for (std::size_t taken = 0;; ++taken) {
                if (GlobMatch(pattern, text.substr(taken))) return true;
                if (taken == text.size() || text[taken] == '/') return false;
            }
        }
        if (text.empty()) return false;
        if (p == '?') {
            if (text[0] == '/') return false;
            pattern.remove_prefix(1);
        } else if (p == '[') {
            std::string_view rest = pattern.substr(1);
            const auto inSet = MatchSet(rest, text[0]);
            if (!inSet) {
                // No closing ']': the '[' is an ordinary character.
                if (text[0] != '[') return false;
                pattern.remove_prefix(1);
            } else {
                if (!*inSet || text[0] == '/') return false;
                pattern = rest;
            }
        } else {
            if (p != text[0]) return false;
            pattern.remove_prefix(1);
        }
        text.remove_prefix(1);
    }
    return text.empty();
}

std::optional<TPortPattern> ParsePortPattern(const std::string& argument, std::string& error) {
    TPortPattern pattern;
    pattern.Text = argument;
    const std::string_view text = argument;
    if (StartsWith(text, UsbPrefix)) {
        const std::string_view ids = text.substr(UsbPrefix.size());
        const std::size_t colon = ids.find(':');
        if (colon == std::string_view::npos || !IsHexId(ids.substr(0, colon)) ||
            !IsHexId(ids.substr(colon + 1))) {
            error =
                "usb: takes a vendor and a product id of four hex digits each, such as "
                "usb:0403:6001, not '" +
                argument + "'";
            return std::nullopt;
        }
        pattern.Kind = TPortPattern::TKind::Usb;
        pattern.VendorId = Upper(std::string(ids.substr(0, colon)));
        pattern.ProductId = Upper(std::string(ids.substr(colon + 1)));
        return pattern;
    }
    const auto valued = [&](std::string_view prefix, TPortPattern::TKind kind,
                            const char* what) -> std::optional<TPortPattern> {
        pattern.Kind = kind;
        pattern.Value = argument.substr(prefix.size());
        if (pattern.Value.empty()) {
            error = std::string(prefix) + " needs " + what;
            return std::nullopt;
        }
        return pattern;
    };
    if (StartsWith(text, SerialPrefix)) {
        return valued(SerialPrefix, TPortPattern::TKind::Serial, "a serial number");
    }
    if (StartsWith(text, LocationPrefix)) {
        return valued(LocationPrefix, TPortPattern::TKind::Location, "a location such as 1-1.4");
    }
    if (argument.empty()) {
        error = "--port needs a port name";
        return std::nullopt;
    }
    pattern.Kind = IsGlob(text) ? TPortPattern::TKind::Glob : TPortPattern::TKind::Name;
    pattern.Value = argument;
    return pattern;
}

bool PortMatches(const TPortPattern& pattern, const TPortEntry& entry) {
    const TPortIdentity& id = entry.Identity;
    switch (pattern.Kind) {
        case TPortPattern::TKind::Name:
            return NamesPort(entry, pattern.Value);
        case TPortPattern::TKind::Usb:
            return id.IsUsb() && EqualsIgnoreCase(id.VendorId, pattern.VendorId) &&
                   EqualsIgnoreCase(id.ProductId, pattern.ProductId);
        case TPortPattern::TKind::Serial:
            return !id.SerialNumber.empty() && EqualsIgnoreCase(id.SerialNumber, pattern.Value);
        case TPortPattern::TKind::Location:
            return (!id.Location.empty() && EqualsIgnoreCase(id.Location, pattern.Value)) ||
                   (!id.LocationPath.empty() && EqualsIgnoreCase(id.LocationPath, pattern.Value));
        case TPortPattern::TKind::Glob:
            return GlobMatch(pattern.Value, entry.Path) || GlobMatch(pattern.Value, entry.Name);
    }
    return false;
}

std::vector<TPortEntry> MatchingPorts(const TPortPattern& pattern,
                                      const std::vector<TPortEntry>& listing) {
    std::vector<TPortEntry> matches;
    const auto add = [&](const TPortEntry& entry) {
        const bool known = std::any_of(matches.begin(), matches.end(),
                                       [&](const TPortEntry& m) { return m.Path == entry.Path; });
        if (!known) matches.push_back(entry);
    };
    if (pattern.Kind == TPortPattern::TKind::Name) {
        for (const auto& entry : listing) {
            if (entry.Name == pattern.Value || entry.Path == pattern.Value) add(entry);
        }
        if (!matches.empty()) return matches;
    }
    for (const auto& entry : listing) {
        if (PortMatches(pattern, entry)) add(entry);
    }
    return matches;
}

TPortResolution ResolvePortArgument(const std::string& argument,
                                    const std::vector<TPortEntry>& listing, bool all,
                                    const TPortListSource& source) {
    TPortResolution resolution;
    std::string error;
    const auto pattern = ParsePortPattern(argument, error);
    if (!pattern) {
        resolution.Error = error;
        return resolution;
    }
    resolution.Ports = MatchingPorts(*pattern, listing);
    const bool name = pattern->Kind == TPortPattern::TKind::Name;
    if (resolution.Ports.empty() && name && NamesDeviceOutsideListing(argument)) {
        resolution.Ports.push_back(EntryForDevice(argument, source));
    }
    if (resolution.Ports.empty()) {
        resolution.Error = NoMatch(*pattern);
    } else if (resolution.Ports.size() > 1 && !all && pattern->Kind != TPortPattern::TKind::Glob) {
        resolution.Error = "'" + argument + "' matches " + std::to_string(resolution.Ports.size()) +
                           " ports: " + ListOfPorts(resolution.Ports) +
                           "; name one of them, or give --all to flash every match";
        resolution.Ports.clear();
    }
    return resolution;
}

}  // namespace kordel

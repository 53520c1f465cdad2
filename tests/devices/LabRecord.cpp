#include "LabRecord.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Update.h"

namespace kordel::lab {

namespace {

constexpr unsigned LinesMask = 0x0003;  // DTR, RTS
constexpr double BreakMinMs = 15;
constexpr double BreakMaxMs = 200;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

Bytes FromHex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) break;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

double Ms(long long fromUs, long long toUs) {
    return static_cast<double>(toUs - fromUs) / 1000.0;
}

std::string Fixed(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

unsigned ControlValue(const Event& e) {
    return static_cast<unsigned>(std::stoul(e.args, nullptr, 16));
}

// Where the first difference of two byte streams lies, as a frame-aware text.
std::string FirstDifference(const Bytes& sent, const Bytes& got) {
    const auto mismatch = std::mismatch(sent.begin(), sent.end(), got.begin(), got.end());
    const auto at = static_cast<std::size_t>(mismatch.first - sent.begin());
    return "the module got " + std::to_string(got.size()) + " bytes, the tool sent " +
           std::to_string(sent.size()) + "; they differ from byte " + std::to_string(at);
}

void CheckLineCoding(const std::vector<Event>& all, long long firstByte, UpdateCheck& out) {
    std::string coding;
    for (const Event& e : all) {
        if (e.kind == "line" && e.us <= firstByte) coding = e.args;
    }
    if (coding != "4407315 8 N 1") {
        out.problems.push_back("line coding in force: '" + coding + "', expected 4407315 8N1");
    }
}

void CheckControlLines(const std::vector<Event>& all, long long firstByte, long long lastByte,
                       UpdateCheck& out) {
    unsigned state = LinesMask;  // the kernel raises both at open unless told otherwise
    for (const Event& e : all) {
        if (e.kind != "control") continue;
        if (e.us <= firstByte) {
            state = ControlValue(e);
        } else if (e.us <= lastByte && (ControlValue(e) & LinesMask) != 0) {
            out.problems.push_back("DTR/RTS raised during the update (" + e.args + ")");
        }
    }
    if ((state & LinesMask) != 0) {
        out.problems.push_back("DTR/RTS not both off when the update started");
    }
}

void CheckBreak(const std::vector<Event>& run, long long firstByte, UpdateCheck& out) {
    long long setUp = -1, on = -1, off = -1;
    int pulses = 0;
    for (const Event& e : run) {
        if (e.us > firstByte) break;
        if ((e.kind == "line" || e.kind == "control") && on < 0) setUp = e.us;
        if (e.kind == "break" && e.args != "0x0000") {
            ++pulses;
            on = e.us;
        }
        if (e.kind == "break" && e.args == "0x0000" && on >= 0) off = e.us;
    }
    if (pulses != 1 || off < 0 || setUp < 0) {
        out.problems.push_back(
            "expected one break after the set-up and before the first byte, saw " +
            std::to_string(pulses) + (off < 0 ? " (never released)" : ""));
        return;
    }
    out.breakDelayMs = Ms(setUp, on);
    out.breakLengthMs = Ms(on, off);
    if (out.breakDelayMs < BreakMinMs || out.breakDelayMs > BreakMaxMs) {
        out.problems.push_back("break " + Fixed(out.breakDelayMs) + " ms after the set-up");
    }
    if (out.breakLengthMs < BreakMinMs || out.breakLengthMs > BreakMaxMs) {
        out.problems.push_back("break " + Fixed(out.breakLengthMs) + " ms long");
    }
}

std::optional<double> LinesHigh(const std::vector<Event>& run) {
    long long raised = -1;
    for (const Event& e : run) {
        if (e.kind != "control") continue;
        const bool high = (ControlValue(e) & LinesMask) != 0;
        if (high && raised < 0) raised = e.us;
        if (!high && raised >= 0) return Ms(raised, e.us);
    }
    return std::nullopt;
}

}  // namespace

std::vector<Event> ParseRecord(std::istream& in) {
    std::vector<Event> events;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Event e;
        std::string first;
        if (!(words >> first)) continue;
        if (first == "mark") {
            e.kind = "mark";
        } else {
            try {
                e.us = std::stoll(first);
            } catch (const std::exception&) {
                continue;
            }
            words >> e.kind;
        }
        std::getline(words >> std::ws, e.args);
        events.push_back(e);
    }
    return events;
}

std::vector<Event> After(const std::vector<Event>& events, const std::string& mark) {
    auto from = events.begin();
    for (auto it = events.begin(); it != events.end(); ++it) {
        if (it->kind == "mark" && it->args == mark) from = it + 1;
    }
    return {from, events.end()};
}

// "PORT request", "Anzahl: N", then dump lines "OOOO:  XX XX ..  text" with the bytes
// at fixed columns after the colon.
Bytes RequestBytes(std::istream& trace) {
    Bytes bytes;
    std::string line;
    bool inRequest = false;
    while (std::getline(trace, line)) {
        if (line.size() > 8 && line.compare(line.size() - 8, 8, " request") == 0) {
            inRequest = true;
            continue;
        }
        if (line.size() > 6 && line.compare(line.size() - 6, 6, " reply") == 0) {
            inRequest = false;
            continue;
        }
        const auto colon = line.find(':');
        if (!inRequest || colon == std::string::npos || line.rfind("Anzahl", 0) == 0) continue;
        for (std::size_t i = 0; i < 16; ++i) {
            const std::size_t at = colon + 3 + 3 * i;
            if (at + 1 >= line.size()) break;
            const int hi = HexDigit(line[at]), lo = HexDigit(line[at + 1]);
            if (hi < 0 || lo < 0) break;
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
    }
    return bytes;
}

UpdateCheck CheckUpdate(const std::vector<Event>& all, const std::vector<Event>& run,
                        const Bytes& sentByTool, const Bytes& flash, const Bytes& image) {
    UpdateCheck out;
    Bytes got;
    long long firstByte = -1, lastByte = -1;
    for (const Event& e : run) {
        if (e.kind != "rx") continue;
        const Bytes chunk = FromHex(e.args);
        got.insert(got.end(), chunk.begin(), chunk.end());
        if (firstByte < 0) firstByte = e.us;
        lastByte = e.us;
    }
    if (firstByte < 0) {
        out.problems.push_back("the module received nothing");
        return out;
    }
    if (got != sentByTool) out.problems.push_back(FirstDifference(sentByTool, got));
    CheckLineCoding(all, firstByte, out);
    CheckControlLines(all, firstByte, lastByte, out);
    CheckBreak(run, firstByte, out);
    out.linesHighMs = LinesHigh(run);
    const std::size_t blocks = BlockCount(image.size());
    if (flash.size() != blocks * BlockSize || !std::equal(image.begin(), image.end(), flash.begin())) {
        out.problems.push_back("the flash (" + std::to_string(flash.size()) +
                               " bytes) does not hold the image");
    }
    return out;
}

std::optional<double> MsFromUnplug(const std::vector<Event>& run, long long endUs) {
    for (const Event& e : run) {
        if (e.kind == "unplug") return Ms(e.us, endUs);
    }
    return std::nullopt;
}

std::vector<HighLines> HighLinesFromUsbmon(std::istream& capture) {
    std::vector<HighLines> found;
    std::string line;
    unsigned state = 0;
    long long raisedAt = -1;
    unsigned raisedBy = 0;
    while (std::getline(capture, line)) {
        std::istringstream words(line);
        std::string tag, event, address, s, type, request, value;
        long long us = 0;
        if (!(words >> tag >> us >> event >> address >> s >> type >> request >> value)) continue;
        if (event != "S" || address.rfind("Co:", 0) != 0 || s != "s") continue;
        const unsigned v = static_cast<unsigned>(std::stoul(value, nullptr, 16));
        unsigned next = state;
        if (type == "21" && request == "22") {  // SET_CONTROL_LINE_STATE
            next = v & LinesMask;
        } else if (type == "40" && request == "01") {  // FTDI MODEM_CTRL: values, then mask
            const unsigned mask = (v >> 8) & LinesMask;
            next = (state & ~mask) | (v & mask);
        } else {
            continue;
        }
        if (state == 0 && next != 0) {
            raisedAt = us;
            raisedBy = v;
        }
        if (state != 0 && next == 0 && raisedAt >= 0) {
            found.push_back({Ms(raisedAt, us), raisedBy});
            raisedAt = -1;
        }
        state = next;
    }
    if (raisedAt >= 0) found.push_back({-1, raisedBy});
    return found;
}

}  // namespace kordel::lab

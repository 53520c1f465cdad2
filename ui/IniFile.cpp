#include "IniFile.h"

#include "AnsiText.h"
#include "ByteOrder.h"
#include "IniFileDisk.h"
#include "Lines.h"
#include "PortList.h"
#include "TextCodec.h"

namespace kordel {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

}  // namespace

// ---------------------------------------------------------------- text helpers

std::optional<int> ParseIniInteger(const std::string& text) {
    const std::string t = Trim(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    if (i >= t.size()) return std::nullopt;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return std::nullopt;
        v = v * 10 + (t[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    v = negative ? -v : v;
    if (v > 2147483647LL) return std::nullopt;
    return static_cast<int>(v);
}

std::vector<int> ParseIntegerList(const std::string& text, const std::vector<int>& defaults) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : text) {
        if (c == ',') {
            if (!field.empty()) fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty()) fields.push_back(field);
    std::vector<int> values = defaults;
    for (std::size_t i = 0; i < values.size() && i < fields.size(); ++i) {
        if (auto v = ParseIniInteger(fields[i])) values[i] = *v;
    }
    return values;
}

std::string FormatIntegerList(const std::vector<int>& values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ',';
        text += std::to_string(values[i]);
    }
    return text;
}

std::string DecodeIniText(const std::string& bytes, TIniEncoding& encoding) {
    auto starts = [&](std::initializer_list<unsigned char> bom) {
        if (bytes.size() < bom.size()) return false;
        std::size_t i = 0;
        for (auto b : bom) {
            if (static_cast<unsigned char>(bytes[i++]) != b) return false;
        }
        return true;
    };
    std::string out;
    if (starts({0xEF, 0xBB, 0xBF})) {
        encoding = TIniEncoding::Utf8;
        return bytes.substr(3);
    }
    if (starts({0xFF, 0xFE}) || starts({0xFE, 0xFF})) {
        encoding = starts({0xFF, 0xFE}) ? TIniEncoding::Utf16LE : TIniEncoding::Utf16BE;
        const bool le = encoding == TIniEncoding::Utf16LE;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            auto unit = [&](std::size_t at) -> char32_t {
                const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
                return le ? Le16(p) : Be16(p);
            };
            char32_t c = unit(i);
            if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
                const char32_t low = unit(i + 2);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            AppendUtf8(out, c);
        }
        return out;
    }
    encoding = TIniEncoding::Ansi;
    return AnsiToUtf8(bytes);
}

std::string EncodeIniText(const std::string& utf8, TIniEncoding encoding) {
    std::string out;
    switch (encoding) {
        case TIniEncoding::Utf8:
            return "\xEF\xBB\xBF" + utf8;
        case TIniEncoding::Utf16LE:
        case TIniEncoding::Utf16BE: {
            const bool le = encoding == TIniEncoding::Utf16LE;
            auto put = [&](char16_t u) {
                const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
                out += le ? lo : hi;
                out += le ? hi : lo;
            };
            put(0xFEFF);
            for (char32_t c : Utf8ToCodePoints(utf8)) {
                if (c >= 0x10000) {
                    c -= 0x10000;
                    put(static_cast<char16_t>(0xD800 + (c >> 10)));
                    put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
                } else {
                    put(static_cast<char16_t>(c));
                }
            }
            return out;
        }
        case TIniEncoding::Ansi:
            return Utf8ToAnsi(utf8);
    }
    return out;
}

// ---------------------------------------------------------------- store

TIniFile::~TIniFile() {
    if (FlushOnDestroy) Flush();
}

void TIniFile::SetFileName(const std::string& name) {
    fileName_ = name;
    Reload();
}

void TIniFile::Reload() {
    loaded_ = true;
    std::error_code ec;
    const fs::path path = FilePath();
    lastWrite_.reset();
    if (!fileName_.empty() && fs::exists(path, ec)) {
        auto t = fs::last_write_time(path, ec);
        if (!ec) lastWrite_ = t;
    }
    std::string bytes, reason;
    // One byte more than the limit tells a file that is too large from one that fits.
    TSettingsRead read = fileName_.empty()
                             ? TSettingsRead::Missing
                             : ReadSettingsFile(path, MaxFileBytes + 1, bytes, reason);
    if (read == TSettingsRead::Read && bytes.size() > MaxFileBytes) {
        read = TSettingsRead::Refused;
        reason = "it is larger than " + std::to_string(MaxFileBytes / 1024 / 1024) + " MiB";
    }
    switch (read) {
        case TSettingsRead::Missing:
            sections_.clear();
            readOnly_ = false;
            unreadable_ = false;
            return;
        case TSettingsRead::Refused:
            // Keep what is in memory and never write over a file we could not read.
            unreadable_ = true;
            if (!readFailureReported_ && OnReadFailure) {
                readFailureReported_ = true;
                OnReadFailure("Cannot read the settings file " + fileName_ + ": " + reason +
                              ". Default settings are used, and the file is left as it is.");
            }
            return;
        case TSettingsRead::Read:
            break;
    }
    readOnly_ = IsReadOnlySettingsFile(path);
    unreadable_ = false;
    TIniEncoding found = TIniEncoding::Ansi;
    const std::string text = DecodeIniText(bytes, found);
    if (!encodingKnown_) {
        encoding_ = found;
        encodingKnown_ = true;
    }
    Parse(text);
}

void TIniFile::Parse(const std::string& text) {
    sections_.clear();
    for (const std::string& raw : SplitLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            sections_.push_back({Trim(line.substr(1, line.size() - 2)), {}});
            continue;
        }
        if (sections_.empty()) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            sections_.back().lines.push_back({false, line, {}});
        } else {
            sections_.back().lines.push_back(
                {true, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))});
        }
    }
}

std::string TIniFile::Serialize() const {
    std::string text;
    for (const auto& section : sections_) {
        text += "[" + section.name + "]\r\n";
        for (const auto& line : section.lines) {
            text += line.entry ? line.key + "=" + line.value : line.key;
            text += "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

void TIniFile::Flush() {
    if (fileName_.empty() || ReadOnly()) return;
    const std::string text = Serialize();
    // A store with nothing in it writes an empty file, without a byte-order mark. A failed
    // write is silent: the values stay in memory for the next write that succeeds.
    WriteSettingsFile(FilePath(), text.empty() ? text : EncodeIniText(text, encoding_));
}

void TIniFile::ApplyReloadRule() {
    if (loaded_ && !AutoReload) return;
    if (updateDepth_ > 0) return;
    std::error_code ec;
    const fs::path path = FilePath();
    // A file that disappeared empties the store; one that never existed (a folder we
    // cannot write to) leaves the values written so far in memory.
    if (!fs::exists(path, ec)) {
        if (!loaded_ || lastWrite_) Reload();
        return;
    }
    const auto t = fs::last_write_time(path, ec);
    if (!loaded_ || ec || !lastWrite_ || t != *lastWrite_) Reload();
}

void TIniFile::ApplyFlushRule() {
    if (AutoFlush && updateDepth_ == 0) Flush();
}

void TIniFile::BeginUpdate() {
    ApplyReloadRule();
    ++updateDepth_;
}

void TIniFile::EndUpdate() {
    if (updateDepth_ > 0) --updateDepth_;
    ApplyFlushRule();
}

void TIniFile::SplitPath(const std::string& path, std::string& section, std::string& key) const {
    const auto slash = path.rfind('\\');
    if (slash == std::string::npos) {
        section = DefaultSection;
        key = path;
    } else {
        section = path.substr(0, slash);
        key = path.substr(slash + 1);
    }
}

TIniFile::Section* TIniFile::FindSection(const std::string& name) {
    for (auto& s : sections_) {
        if (EqualsIgnoreCase(s.name, name)) return &s;
    }
    return nullptr;
}

TIniFile::Line* TIniFile::FindEntry(Section& section, const std::string& key) {
    for (auto& line : section.lines) {
        if (line.entry && EqualsIgnoreCase(line.key, key)) return &line;
    }
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& path, const std::string& def) {
    std::string section, key;
    SplitPath(path, section, key);
    ApplyReloadRule();
    Section* s = FindSection(section);
    Line* entry = s ? FindEntry(*s, key) : nullptr;
    return entry ? entry->value : def;
}

int TIniFile::ReadInteger(const std::string& path, int def) {
    std::string section, key;
    SplitPath(path, section, key);
    ApplyReloadRule();
    Section* s = FindSection(section);
    Line* entry = s ? FindEntry(*s, key) : nullptr;
    if (!entry) return def;
    if (Trim(entry->value).empty()) return 0;
    if (auto v = ParseIniInteger(entry->value)) return *v;
    throw EConvertError("'" + entry->value + "' is not a valid integer value");
}

bool TIniFile::ValueExists(const std::string& path) {
    std::string section, key;
    SplitPath(path, section, key);
    ApplyReloadRule();
    Section* s = FindSection(section);
    return s && FindEntry(*s, key);
}

void TIniFile::WriteString(const std::string& path, const std::string& value) {
    if (ReadOnly()) return;
    std::string section, key;
    SplitPath(path, section, key);
    ApplyReloadRule();
    if (ReadOnly()) return;
    Section* s = FindSection(section);
    if (!s) {
        sections_.push_back({section, {}});
        s = &sections_.back();
    }
    if (Line* entry = FindEntry(*s, key)) {
        entry->key = key;  // the entry takes the writer's spelling of its key
        entry->value = value;
    } else {
        s->lines.push_back({true, key, value});
    }
    ApplyFlushRule();
}

void TIniFile::WriteInteger(const std::string& path, int value) {
    WriteString(path, std::to_string(value));
}

}  // namespace kordel

// The settings store: an INI file held in memory as sections of key=value entries,
// addressed by "Section\Key" paths. It reads the file again when it changed on disk
// and writes the whole file back after every change (or at the end of the outermost
// BeginUpdate/EndUpdate group). Lines end in CR LF; a byte-order mark selects UTF-8 or
// UTF-16 and is kept on rewrite; a file without one is read and written in the
// platform's ANSI code page (AnsiText.h). Texts in memory are UTF-8.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TextCodec.h"

namespace kordel {

// A value that should be an integer and is not; the message names the value.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class TIniEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

class TIniFile {
  public:
    // A larger file is no settings file this program wrote: it is reported and left
    // alone rather than read into memory.
    static constexpr std::size_t MaxFileBytes = 1024 * 1024;

    TIniFile() = default;
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    // Setting the file name loads the file at once. A name without a folder is
    // resolved against the current directory at each access.
    void SetFileName(const std::string& name);
    const std::string& FileName() const { return fileName_; }

    std::string DefaultSection;
    bool AutoReload = true;
    bool AutoFlush = true;
    bool FlushOnDestroy = true;
    // Told once when the file exists but cannot be read (or may not be: a planted
    // link, a file over MaxFileBytes); the store then keeps its values in memory and
    // never writes over that file.
    std::function<void(const std::string& message)> OnReadFailure;

    std::string ReadString(const std::string& path, const std::string& def);
    // Raises EConvertError for a value that is neither empty (0) nor an integer.
    int ReadInteger(const std::string& path, int def);
    bool ValueExists(const std::string& path);
    void WriteString(const std::string& path, const std::string& value);
    void WriteInteger(const std::string& path, int value);

    void BeginUpdate();
    void EndUpdate();
    void Reload();
    void Flush();

    bool ReadOnly() const { return readOnly_ || unreadable_; }
    TIniEncoding Encoding() const { return encoding_; }

  private:
    struct Line {
        bool entry = false;
        std::string key;    // entry key, or the whole plain line
        std::string value;  // entry value
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    void SplitPath(const std::string& path, std::string& section, std::string& key) const;
    void ApplyReloadRule();
    void ApplyFlushRule();
    Section* FindSection(const std::string& name);
    Line* FindEntry(Section& section, const std::string& key);
    std::filesystem::path FilePath() const { return Utf8Path(fileName_); }
    void Parse(const std::string& utf8);
    std::string Serialize() const;

    std::string fileName_;
    std::vector<Section> sections_;
    bool loaded_ = false;
    bool readOnly_ = false;
    bool unreadable_ = false;
    bool readFailureReported_ = false;
    std::optional<std::filesystem::file_time_type> lastWrite_;
    int updateDepth_ = 0;
    TIniEncoding encoding_ = TIniEncoding::Ansi;
    bool encodingKnown_ = false;
};

// Integers as the store reads them: optional sign and decimal digits, blanks around
// allowed; nullopt for anything else.
std::optional<int> ParseIniInteger(const std::string& text);

// Splits "a,b,,c" at commas (runs of commas count as one) into integers; a missing or
// invalid field takes its default.
std::vector<int> ParseIntegerList(const std::string& text, const std::vector<int>& defaults);
std::string FormatIntegerList(const std::vector<int>& values);

// Text conversions of the file's encodings (UTF-8 in memory).
std::string DecodeIniText(const std::string& bytes, TIniEncoding& encoding);
std::string EncodeIniText(const std::string& utf8, TIniEncoding encoding);

}  // namespace kordel

// The audit log: a file of one JSON record per line, only ever appended to. Writers on
// the station (threads of one process, and other processes) take the file's record
// lock for each line, so lines never interleave; each line is on the disk before
// Append returns. A line torn by a power cut (the file's last line without its line
// break) is skipped by readers, and the next record starts on a line of its own.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "AuditFile.h"
#include "JsonReader.h"

namespace kordel::cli {

// The longest line a reader takes as a record; longer ones are skipped as malformed.
inline constexpr std::size_t MaxAuditLine = 64 * 1024;
// How long a writer or reader waits for another holder of the record lock.
inline constexpr std::chrono::milliseconds AuditLockLimit{10000};

class TAuditLog {
  public:
    // Opens the log for appending, creating the file (not its folder) when missing.
    // Raises EAuditLog.
    explicit TAuditLog(const std::string& path,
                       std::chrono::milliseconds lockLimit = AuditLockLimit);

    // Appends `line` (one JSON object, without a line break) and returns once it is on
    // the disk. Safe to call from several threads. Raises EAuditLog.
    void Append(const std::string& line);

    const std::string& Path() const { return file_->Path(); }

  private:
    std::unique_ptr<TAuditFile> file_;
    std::chrono::milliseconds lockLimit_;
    std::mutex mutex_;
};

// What a scan of the log found besides the records.
struct TAuditScan {
    std::uint64_t records = 0;
    std::uint64_t malformed = 0;  // not a record: not JSON, too long, or torn at the end
    std::uint64_t end = 0;        // the offset after the last whole line read
};

// True when the JSON value is a record a reader of schema 1 understands: an object with
// a schema from 1 on, a time and a result of "ok" or "error".
bool IsAuditRecord(const JsonValue& value);

// Reads the whole lines of the log from offset `from` up to the log's size at the
// start of the scan (taken under the shared record lock, so no record is half there),
// and calls `onRecord` for each record. Raises EAuditLog.
TAuditScan ScanAuditLog(TAuditFile& file, std::uint64_t from,
                        const std::function<void(const JsonValue&)>& onRecord,
                        std::chrono::milliseconds lockLimit = AuditLockLimit);

// Which modules already have an `ok` record: for skipping a module that was updated
// before. Each call reads only what was appended since the last one, by any process.
class TOkRecordIndex {
  public:
    explicit TOkRecordIndex(std::string path);

    // True when the log holds an `ok` record of the module with this CPU-ID. A log that
    // does not exist yet holds none. Raises EAuditLog when the log cannot be read.
    bool HasOk(const std::array<std::uint8_t, 12>& cpuId);

  private:
    void Refresh();

    std::string path_;
    std::uint64_t readUpTo_ = 0;
    std::set<std::string> ok_;  // CPU-IDs as 24 upper-case hex digits
};

}  // namespace kordel::cli

#include "AuditLog.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>
#include <vector>

#include "AuditRecord.h"

namespace kordel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Holds the file's record lock while it lives. The holder of a lock writes one line
// and flushes it, so the wait is short; the limit guards against a holder that hangs.
class RecordLock {
  public:
    RecordLock(TAuditFile& file, bool exclusive, std::chrono::milliseconds limit) : file_(file) {
        const auto deadline = Clock::now() + limit;
        auto pause = std::chrono::milliseconds(1);
        while (!file_.TryLock(exclusive)) {
            if (Clock::now() >= deadline) {
                throw EAuditLog("Cannot lock the log '" + file_.Path() + "': another program has " +
                                "held its lock for " + std::to_string(limit.count()) + " ms");
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }
    ~RecordLock() { file_.Unlock(); }
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

  private:
    TAuditFile& file_;
};

constexpr std::size_t ReadChunk = 64 * 1024;

}  // namespace

std::string AuditFileError(const std::string& what, const std::string& path, int error) {
    return what + " '" + path + "': " + SystemErrorText(error) +
           " (Error: " + std::to_string(error) + ")";
}

void TAuditFile::Fail(const std::string& what, int error) const {
    throw EAuditLog(AuditFileError(what, path_, error));
}

TAuditLog::TAuditLog(const std::string& path, std::chrono::milliseconds lockLimit)
    : file_(TAuditFile::Open(path, TAuditFile::Access::Append)), lockLimit_(lockLimit) {}

void TAuditLog::Append(const std::string& line) {
    if (line.find('\n') != std::string::npos) {
        throw EAuditLog("A record for the log '" + Path() + "' spans several lines");
    }
    // Threads of this process share the file and so its lock: the mutex keeps them apart.
    std::lock_guard guard(mutex_);
    RecordLock lock(*file_, true, lockLimit_);
    std::string text;
    const std::uint64_t size = file_->Size();
    char last = '\n';
    // A line torn by a power cut stays a line of its own, which readers skip.
    if (size > 0 && file_->ReadAt(size - 1, &last, 1) == 1 && last != '\n') text = "\n";
    text += line;
    text += '\n';
    file_->Append(text);
    file_->Sync();
}

bool IsAuditRecord(const JsonValue& value) {
    const auto schema = value.CountAt("schema");
    const auto result = value.StringAt("result");
    return schema && *schema >= 1 && value.StringAt("time") && result &&
           (*result == "ok" || *result == "error");
}

TAuditScan ScanAuditLog(TAuditFile& file, std::uint64_t from,
                        const std::function<void(const JsonValue&)>& onRecord,
                        std::chrono::milliseconds lockLimit) {
    std::uint64_t size = 0;
    {
        RecordLock lock(file, false, lockLimit);
        size = file.Size();
    }
    TAuditScan scan;
    scan.end = from;
    std::vector<char> chunk(ReadChunk);
    std::string line;
    bool overlong = false;
    const auto endLine = [&](std::uint64_t next) {
        if (!overlong && !line.empty()) {
            const auto value = ParseJson(line);
            if (value && IsAuditRecord(*value)) {
                ++scan.records;
                onRecord(*value);
            } else {
                ++scan.malformed;
            }
        } else if (overlong) {
            ++scan.malformed;
        }
        line.clear();
        overlong = false;
        scan.end = next;
    };
    for (std::uint64_t offset = from; offset < size;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(ReadChunk, size - offset));
        const std::size_t got = file.ReadAt(offset, chunk.data(), want);
        if (got == 0) break;  // the file was cut short meanwhile
        for (std::size_t i = 0; i < got; ++i) {
            if (chunk[i] == '\n') {
                endLine(offset + i + 1);
            } else if (line.size() < MaxAuditLine) {
                line += chunk[i];
            } else {
                overlong = true;
            }
        }
        offset += got;
    }
    // The last line without its line break: a record torn by a power cut.
    if (!line.empty() || overlong) ++scan.malformed;
    return scan;
}

TOkRecordIndex::TOkRecordIndex(std::string path) : path_(std::move(path)) {}

void TOkRecordIndex::Refresh() {
    std::error_code error;
    if (!std::filesystem::exists(path_, error) && !error) return;  // no log yet: no records
    const auto file = TAuditFile::Open(path_, TAuditFile::Access::Read);
    // A log is only ever appended to; one that shrank was replaced, and is read anew.
    if (file->Size() < readUpTo_) {
        readUpTo_ = 0;
        ok_.clear();
    }
    const TAuditScan scan = ScanAuditLog(*file, readUpTo_, [this](const JsonValue& record) {
        if (record.StringAt("result") != "ok") return;
        const JsonValue* module = record.Find("module");
        if (module == nullptr) return;
        if (auto id = module->StringAt("cpu_id")) {
            std::string upper = *id;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ok_.insert(upper);
        }
    });
    readUpTo_ = scan.end;
}

bool TOkRecordIndex::HasOk(const std::array<std::uint8_t, 12>& cpuId) {
    Refresh();
    return ok_.count(HexDigits(cpuId)) > 0;
}

}  // namespace kordel::cli

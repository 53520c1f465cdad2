// The file under the audit log, one backend per OS: opened safely, locked per record
// with an advisory lock that every kordel-flash process on the station takes, appended
// to and flushed to the disk.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kordel::cli {

// A failure of the log's file; the message names the file and what failed.
class EAuditLog : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TAuditFile {
  public:
    enum class Access { Append, Read };

    // Opens `path` (links in it are followed: the user named it). Append creates the
    // file when it is missing, never a folder. Refuses anything but a regular file
    // (a FIFO, a device, a folder) without blocking on it.
    static std::unique_ptr<TAuditFile> Open(const std::string& path, Access access);
    virtual ~TAuditFile() = default;

    // Takes the record lock (shared for readers, exclusive for a writer) if it is free;
    // false when another holder has it now.
    virtual bool TryLock(bool exclusive) = 0;
    virtual void Unlock() = 0;

    virtual std::uint64_t Size() = 0;
    // Reads up to `count` bytes at `offset`; fewer at the end of the file.
    virtual std::size_t ReadAt(std::uint64_t offset, char* buffer, std::size_t count) = 0;
    // Writes all of `bytes` at the end of the file.
    virtual void Append(std::string_view bytes) = 0;
    // Returns once what was appended is on the disk.
    virtual void Sync() = 0;

    // The name the file was opened by, for messages.
    const std::string& Path() const { return path_; }

  protected:
    explicit TAuditFile(std::string path) : path_(std::move(path)) {}
    [[noreturn]] void Fail(const std::string& what, int error) const;

  private:
    std::string path_;
};

// "Cannot write the log 'PATH': No space left on device (Error: 28)".
std::string AuditFileError(const std::string& what, const std::string& path, int error);
// The system's text for an error number of this OS.
std::string SystemErrorText(int error);

// This computer's name, for the station field; "unknown" when the system has none.
std::string HostName();

}  // namespace kordel::cli

// The audit log's file on POSIX: open(2) with O_APPEND, flock(2) per record, fsync(2).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "AuditFile.h"
#include "UniqueFd.h"

namespace kordel::cli {

namespace {

class PosixAuditFile : public TAuditFile {
  public:
    PosixAuditFile(std::string path, UniqueFd fd)
        : TAuditFile(std::move(path)), fd_(std::move(fd)) {}

    bool TryLock(bool exclusive) override {
        for (;;) {
            if (::flock(fd_.get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
            if (errno == EWOULDBLOCK) return false;
            if (errno != EINTR) Fail("Cannot lock the log", errno);
        }
    }

    void Unlock() override { ::flock(fd_.get(), LOCK_UN); }

    std::uint64_t Size() override {
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) Fail("Cannot read the log", errno);
        return static_cast<std::uint64_t>(st.st_size);
    }

    std::size_t ReadAt(std::uint64_t offset, char* buffer, std::size_t count) override {
        for (;;) {
            const ssize_t n = ::pread(fd_.get(), buffer, count, static_cast<off_t>(offset));
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) Fail("Cannot read the log", errno);
        }
    }

    void Append(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("Cannot write the log", n < 0 ? errno : ENOSPC);
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    void Sync() override {
        while (::fsync(fd_.get()) != 0) {
            if (errno != EINTR) Fail("Cannot flush the log to the disk", errno);
        }
    }

  private:
    UniqueFd fd_;
};

// A new file's name is on the disk only once its folder is flushed too.
void SyncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

}  // namespace

std::unique_ptr<TAuditFile> TAuditFile::Open(const std::string& path, Access access) {
    const char* what = access == Access::Append ? "Cannot open the log" : "Cannot read the log";
    // Opening a device can act on it (a serial port raises its modem lines), so the
    // kind of file is checked before the open, and again on what was opened.
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && (errno != ENOENT || access == Access::Read)) {
        throw EAuditLog(AuditFileError(what, path, errno));
    }
    if (exists && !S_ISREG(st.st_mode)) {
        throw EAuditLog(what + std::string(" '") + path + "': it is not a regular file");
    }
    const int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    UniqueFd fd;
    bool created = false;
    if (access == Access::Read) {
        fd.reset(::open(path.c_str(), O_RDONLY | common));
    } else {
        // Created only where nothing is, not through a dangling link.
        fd.reset(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | common, 0666));
        created = fd.valid();
        if (!fd && errno == EEXIST) fd.reset(::open(path.c_str(), O_RDWR | O_APPEND | common));
    }
    if (!fd) throw EAuditLog(AuditFileError(what, path, errno));
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw EAuditLog(what + std::string(" '") + path + "': it is not a regular file");
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw EAuditLog(AuditFileError(what, path, errno));
    }
    if (created) SyncFolderOf(path);
    return std::make_unique<PosixAuditFile>(path, std::move(fd));
}

std::string SystemErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
    return name;
}

}  // namespace kordel::cli

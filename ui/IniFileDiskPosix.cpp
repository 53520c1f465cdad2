#include "IniFileDisk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "UniqueFd.h"

namespace kordel {

namespace fs = std::filesystem;

namespace {

// The file a settings path finally names: symbolic links are followed (also a link
// whose target does not exist yet), so that writing keeps the link.
std::optional<fs::path> FollowLinks(fs::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) return std::nullopt;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return std::nullopt;  // a loop of links
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The folder's entry for a renamed file reaches the disk only with the folder itself.
void SyncFolder(const fs::path& folder) {
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

enum class Outcome { Written, Failed, FolderRefused };

// Writes a new file next to the old one and renames it over the old one. FolderRefused
// means the folder takes no new file, or the new file could not get the old one's
// owner: the caller may then rewrite the old file in place.
Outcome ReplaceByRename(const fs::path& path, const std::string& bytes,
                        const std::optional<struct stat>& old) {
    fs::path temp = path;
    temp += ".tmp~" + std::to_string(::getpid());
    // A new file gets the mode that the umask allows; a replacement starts private and
    // then takes the old file's owner and mode.
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, old ? 0600 : 0666));
    if (!fd) return errno == EACCES || errno == EPERM || errno == EROFS ? Outcome::FolderRefused
                                                                       : Outcome::Failed;
    auto discard = [&](Outcome outcome) {
        fd.reset();
        ::unlink(temp.c_str());
        return outcome;
    };
    if (old) {
        if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0) return discard(Outcome::FolderRefused);
        if (::fchmod(fd.get(), old->st_mode & 07777) != 0) return discard(Outcome::Failed);
    }
    if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) return discard(Outcome::Failed);
    fd.reset();
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return Outcome::Failed;
    }
    SyncFolder(path.parent_path());
    return Outcome::Written;
}

// Not atomic: used only where the folder refuses a new file. Reserving the space first
// keeps a full disk from leaving the file half rewritten.
bool RewriteInPlace(const fs::path& path, const std::string& bytes) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
    const auto size = static_cast<off_t>(bytes.size());
    if (size > 0 && ::posix_fallocate(fd.get(), 0, size) == ENOSPC) return false;
    return WriteAll(fd.get(), bytes) && ::ftruncate(fd.get(), size) == 0 && ::fsync(fd.get()) == 0;
}

}  // namespace

bool IsReadOnlySettingsFile(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

namespace {

int ReadAll(const fs::path& path, std::string& bytes) {
    // Not blocking: a FIFO in the file's place must not stop the window.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return errno;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

}  // namespace

std::string ReadSettingsFile(const fs::path& path, std::string& bytes) {
    const int err = ReadAll(path, bytes);
    return err == 0 ? std::string() : std::strerror(err);
}

bool WriteSettingsFile(const fs::path& link, const std::string& bytes) {
    const auto path = FollowLinks(link);
    if (!path) return false;
    std::error_code ec;
    if (path->has_parent_path() && !fs::exists(path->parent_path(), ec)) {
        fs::create_directories(path->parent_path(), ec);
        if (ec) return false;
    }
    std::optional<struct stat> old;
    struct stat st {};
    if (::stat(path->c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        old = st;
    }
    // A file with several names is rewritten in place, so that every name sees the change.
    if (old && old->st_nlink > 1) return RewriteInPlace(*path, bytes);
    switch (ReplaceByRename(*path, bytes, old)) {
        case Outcome::Written:
            return true;
        case Outcome::FolderRefused:
            return old && RewriteInPlace(*path, bytes);
        case Outcome::Failed:
            return false;
    }
    return false;
}

}  // namespace kordel

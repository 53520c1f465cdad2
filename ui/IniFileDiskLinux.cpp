#include "IniFileDisk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "UniqueFd.h"

namespace kordel {

namespace fs = std::filesystem;

namespace {

// The settings file's folder, held open so that every later step judges and works on
// the same folder, whatever happens to its path meanwhile.
struct Folder {
    UniqueFd fd;
    struct stat st {};
};

// Opens the folder of `path`; returns 0 or the errno. Opened for reading where this
// user may, so that a rename in it can be synced; otherwise for lookups only.
int OpenFolder(const fs::path& path, Folder& folder) {
    const fs::path parent = path.parent_path();
    const char* name = parent.empty() ? "." : parent.c_str();
    folder.fd.reset(::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.fd) folder.fd.reset(::open(name, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.fd || ::fstat(folder.fd.get(), &folder.st) != 0) return errno;
    return 0;
}

// A folder that every user may add names to, and where the sticky bit keeps each
// user's names to that user: /tmp and the like.
bool IsSharedFolder(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// The kernel's protected-symlinks rule: in a shared folder, a link is followed only
// when it belongs to the user who follows it or to the folder's owner. Anyone else's
// link there could point this user's writes at any file this user may write.
bool MayFollowLink(const struct stat& folder, const struct stat& link) {
    return !IsSharedFolder(folder) || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// The error of an open that met a link MayFollowLink refuses.
constexpr int LinkNotFollowed = -1;

std::string ErrorText(int error) {
    if (error == LinkNotFollowed) {
        return "it is a symbolic link that another user made in a folder that everyone may "
               "write to, so it is not followed";
    }
    return std::strerror(error);
}

struct Opened {
    UniqueFd fd;
    int error = 0;         // errno or LinkNotFollowed when fd is not valid
    bool viaLink = false;  // the name was a link, followed
};

// Opens the name in the folder. A name that is not a link is opened without following
// anything; a link is followed (by the kernel) only where MayFollowLink allows it.
Opened OpenInFolder(const Folder& folder, const std::string& name, int flags) {
    Opened opened;
    const int dir = folder.fd.get();
    opened.fd.reset(::openat(dir, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (opened.fd || errno != ELOOP) {
        opened.error = opened.fd ? 0 : errno;
        return opened;
    }
    struct stat link {};
    if (::fstatat(dir, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
        opened.error = errno;
        return opened;
    }
    if (!S_ISLNK(link.st_mode)) {
        opened.error = ELOOP;  // the name changed meanwhile: a failure like any other
        return opened;
    }
    if (!MayFollowLink(folder.st, link)) {
        opened.error = LinkNotFollowed;
        return opened;
    }
    opened.viaLink = true;
    opened.fd.reset(::openat(dir, name.c_str(), flags | O_CLOEXEC, 0666));
    opened.error = opened.fd ? 0 : errno;
    return opened;
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

enum class Outcome { Written, Failed, FolderRefused };

// Writes a new file next to the old one and renames it over the old one. FolderRefused
// means the folder takes no new file, or the new file could not get the old one's
// owner: the caller may then rewrite the old file in place.
Outcome ReplaceByRename(const Folder& folder, const std::string& name, const std::string& bytes,
                        const std::optional<struct stat>& old) {
    const int dir = folder.fd.get();
    const std::string temp = name + ".tmp~" + std::to_string(::getpid());
    // A new file gets the mode that the umask allows; a replacement starts private and
    // then takes the old file's owner and mode. O_EXCL never follows a link.
    UniqueFd fd(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         old ? 0600 : 0666));
    if (!fd) {
        return errno == EACCES || errno == EPERM || errno == EROFS ? Outcome::FolderRefused
                                                                   : Outcome::Failed;
    }
    auto discard = [&](Outcome outcome) {
        fd.reset();
        ::unlinkat(dir, temp.c_str(), 0);
        return outcome;
    };
    if (old) {
        if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0)
            return discard(Outcome::FolderRefused);
        if (::fchmod(fd.get(), old->st_mode & 07777) != 0) return discard(Outcome::Failed);
    }
    if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) return discard(Outcome::Failed);
    fd.reset();
    if (::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
        ::unlinkat(dir, temp.c_str(), 0);
        return Outcome::Failed;
    }
    // The folder's entry for the renamed file reaches the disk only with the folder.
    ::fsync(dir);
    return Outcome::Written;
}

// Rewrites the file in place: not atomic, so used only where a rename cannot or must
// not be used. `expected` is the file found under the name, which must still be there;
// without it the name is a link that may be followed, and the file it points at is
// written (made when it does not exist yet). Reserving the space first keeps a full
// disk from leaving the file half rewritten.
bool RewriteInPlace(const Folder& folder, const std::string& name, const std::string& bytes,
                    const std::optional<struct stat>& expected) {
    // Not blocking: a FIFO behind a link must not stop the window.
    const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | (expected ? 0 : O_CREAT);
    const Opened file = OpenInFolder(folder, name, flags);
    struct stat st {};
    if (!file.fd || ::fstat(file.fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (expected &&
        (file.viaLink || st.st_dev != expected->st_dev || st.st_ino != expected->st_ino)) {
        return false;
    }
    if (!file.viaLink && st.st_nlink > 1 && IsSharedFolder(folder.st)) return false;
    const int fd = file.fd.get();
    const auto size = static_cast<off_t>(bytes.size());
    if (size > 0 && ::posix_fallocate(fd, 0, size) == ENOSPC) return false;
    return WriteAll(fd, bytes) && ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
}

}  // namespace

bool IsReadOnlySettingsFile(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

TSettingsRead ReadSettingsFile(const fs::path& path, std::size_t limit, std::string& bytes,
                               std::string& reason) {
    auto refuse = [&](int error) {
        reason = ErrorText(error);
        return TSettingsRead::Refused;
    };
    Folder folder;
    if (const int error = OpenFolder(path, folder); error != 0) {
        return error == ENOENT || error == ENOTDIR ? TSettingsRead::Missing : refuse(error);
    }
    // Not blocking: a FIFO in the file's place must not stop the window.
    const Opened file = OpenInFolder(folder, path.filename(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file.fd) return file.error == ENOENT ? TSettingsRead::Missing : refuse(file.error);
    struct stat st {};
    if (::fstat(file.fd.get(), &st) != 0) return refuse(errno);
    if (!S_ISREG(st.st_mode)) return refuse(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    char buf[4096];
    while (bytes.size() < limit) {
        const ssize_t n = ::read(file.fd.get(), buf, std::min(sizeof buf, limit - bytes.size()));
        if (n > 0) {
            bytes.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return refuse(errno);
        }
    }
    return TSettingsRead::Read;
}

bool WriteSettingsFile(const fs::path& path, const std::string& bytes) {
    Folder folder;
    if (OpenFolder(path, folder) != 0) return false;  // a missing folder is not made
    const std::string name = path.filename();
    std::optional<struct stat> old;
    struct stat st {};
    if (::fstatat(folder.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // The file behind the link is not ours to replace; its folder need not even
            // be known. Rewriting it through the link keeps the link, the file's other
            // names, its owner and its mode.
            return MayFollowLink(folder.st, st) &&
                   RewriteInPlace(folder, name, bytes, std::nullopt);
        }
        if (!S_ISREG(st.st_mode)) return false;
        old = st;
    } else if (errno != ENOENT) {
        return false;
    }
    // A file with several names is rewritten in place, so that every name sees the
    // change; in a shared folder the other names may be someone else's plant.
    const bool keepNames = old && old->st_nlink > 1;
    if (keepNames && !IsSharedFolder(folder.st)) return RewriteInPlace(folder, name, bytes, old);
    switch (ReplaceByRename(folder, name, bytes, old)) {
        case Outcome::Written:
            return true;
        case Outcome::FolderRefused:
            return old && RewriteInPlace(folder, name, bytes, old);
        case Outcome::Failed:
            return false;
    }
    return false;
}

}  // namespace kordel

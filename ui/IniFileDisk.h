// The settings store's file access, one implementation per platform.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace kordel {

// A file that nobody may write, or that this user may not write, counts as read-only.
bool IsReadOnlySettingsFile(const std::filesystem::path& path);

enum class TSettingsRead {
    Missing,  // no file there (also a link that may be followed, to a file not made yet)
    Read,     // `bytes` holds the file's first bytes, at most `limit` of them
    Refused,  // the file cannot be read, or may not be: `reason` says why
};

// Reads the file without blocking (a FIFO in its place is refused) and without taking
// more than `limit` bytes of it. On POSIX a symbolic link is followed only where the
// kernel's protected-symlinks rule would follow it, whatever the system's own setting:
// its folder is not both sticky and world-writable, or the link belongs to this user
// or to the folder's owner. Any other link is refused, whatever it points at.
TSettingsRead ReadSettingsFile(const std::filesystem::path& path, std::size_t limit,
                               std::string& bytes, std::string& reason);

// Puts bytes into the file and returns false on any failure; never creates a folder.
// The file's content is replaced in one step where its folder allows it (a failed
// write then leaves the old content whole); where the folder does not, a writable file
// is rewritten in place. Owner, group and mode stay. A file with several names is
// rewritten in place so that every name sees the change, except in a folder that is
// both sticky and world-writable, where another user may have made the other names.
// A symbolic link that ReadSettingsFile would follow stays a link and the file it
// points at is rewritten in place through it (created there when it does not exist
// yet); any other link is left alone and nothing is written.
bool WriteSettingsFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kordel

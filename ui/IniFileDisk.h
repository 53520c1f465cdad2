// The settings store's file access, one implementation per platform.
#pragma once

#include <filesystem>
#include <string>

namespace kordel {

// A file that nobody may write, or that this user may not write, counts as read-only.
bool IsReadOnlySettingsFile(const std::filesystem::path& path);

// Reads all of a file; returns an empty text, or the platform's words for why it failed.
std::string ReadSettingsFile(const std::filesystem::path& path, std::string& bytes);

// Puts bytes into the file and returns false on any failure. The file's content is
// replaced in one step where its folder allows it (a failed write then leaves the old
// content whole); where the folder does not, a writable file is rewritten in place. A
// symbolic link stays a link and its target is written; owner, group and mode stay.
bool WriteSettingsFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kordel

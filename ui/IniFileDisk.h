// The settings store's file access and its 8-bit code page, one implementation per
// platform.
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

// A file without a byte-order mark is in the system's 8-bit (ANSI) code page: the one
// GetACP names on Windows, Windows-1252 elsewhere (the page such files come in from
// Windows machines). Texts in memory are UTF-8; a character the page lacks is written
// as '?'.
std::string AnsiToUtf8(const std::string& bytes);
std::string Utf8ToAnsi(const std::string& utf8);

}  // namespace kordel

// The developer's distribution copy: started with the one argument 5273946 while the
// development environment's window (class TAPPBUILDER) is open, the program copies its
// own executable into dist/ under a name carrying the image version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kordel {

inline constexpr const char* DistCopyArgument = "5273946";
inline constexpr const char* DevEnvironmentClass = "TAPPBUILDER";

// Exactly one argument (the program's own path not counted), equal to the code.
bool DistCopyRequested(const std::vector<std::string>& arguments);

// The file name part of `exePath` with its extension (from the last "." on) replaced
// by the version and ".exe"; without an extension on Linux: name + version.
// tool.exe, 1.3 -> tool13.exe; kordel-update, 1.3 -> kordel-update13.
std::string VersionedFileName(const std::string& exePath, std::uint8_t versHi, std::uint8_t versLo);

// Copies `exePath` to dist/<name> relative to the current directory, replacing an older
// file; into the directory when dist/<name> is one. Failures are silent; returns
// whether the copy was made.
bool CopyToDist(const std::string& exePath, const std::string& versionedName);

}  // namespace kordel

#include "DistCopy.h"

#include <filesystem>

#include "FileCopy.h"

namespace kordel {

namespace fs = std::filesystem;

bool DistCopyRequested(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments[0] == DistCopyArgument;
}

std::string VersionedFileName(const std::string& exePath, std::uint8_t versHi,
                              std::uint8_t versLo) {
    const std::string name = fs::path(exePath).filename().string();
    const std::string version = std::to_string(versHi) + std::to_string(versLo);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return name + version;
    return name.substr(0, dot) + version + ".exe";
}

bool CopyToDist(const std::string& exePath, const std::string& versionedName) {
    std::error_code ec;
    fs::path target = fs::path("dist") / versionedName;
    if (fs::is_directory(target, ec)) target /= fs::path(exePath).filename();
    return CopyFileReplacing(exePath, target);
}

}  // namespace kordel

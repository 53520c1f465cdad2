#include "DistCopy.h"

#include <filesystem>

#include "FileCopy.h"
#include "TextCodec.h"

namespace kordel {

namespace fs = std::filesystem;

bool DistCopyRequested(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments[0] == DistCopyArgument;
}

std::string VersionedFileName(const std::string& exePath, std::uint8_t versHi,
                              std::uint8_t versLo) {
    const std::string name = Utf8Text(Utf8Path(exePath).filename());
    const std::string version = std::to_string(versHi) + std::to_string(versLo);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return name + version;
    return name.substr(0, dot) + version + ".exe";
}

bool CopyToDist(const std::string& exePath, const std::string& versionedName) {
    std::error_code ec;
    fs::path target = fs::path("dist") / Utf8Path(versionedName);
    if (fs::is_directory(target, ec)) target /= Utf8Path(exePath).filename();
    return CopyFileReplacing(Utf8Path(exePath), target);
}

}  // namespace kordel

#include "Version.h"

#include "BiosInfo.h"

namespace kordel {

const char* ToolVersion() {
    return KORDEL_TOOL_VERSION;
}

std::string VersionLine(const std::string& program) {
    TFirmwareImage image;
    image.LoadBiosInfo();
    std::string line = program + " " + ToolVersion();
    if (!image.Loaded()) return line + " (no firmware image)";
    const TBiosInfo& info = image.BufBiosInfo;
    return line + " (firmware " + std::to_string(info.VersHi) + "." + std::to_string(info.VersLo) +
           ", " + std::to_string(image.rs.size()) + " bytes)";
}

}  // namespace kordel

// One version story for every program: the tool's own version (from the build) and
// the firmware image it carries.
#pragma once

#include <string>

namespace kordel {

// The tool's version, as the build names it ("1.1.0").
const char* ToolVersion();

// "kordel-flash 1.1.0 (firmware 1.3, 7900 bytes)"; "(no firmware image)" when the
// program carries none.
std::string VersionLine(const std::string& program);

}  // namespace kordel

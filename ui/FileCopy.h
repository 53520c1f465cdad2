// Copying a file over an older one, one implementation per platform.
#pragma once

#include <filesystem>

namespace kordel {

// Copies from onto to, replacing a file that is there; false on any failure.
bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace kordel

#include "FileCopy.h"

namespace kordel {

bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

}  // namespace kordel

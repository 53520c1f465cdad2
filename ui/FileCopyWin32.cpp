#include "FileCopy.h"

#include <windows.h>

namespace kordel {

// The C++ library's copy_file of mingw-w64 (GCC 12) refuses to replace a file even when
// asked to (error 17); the system's own copy does it.
bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

}  // namespace kordel

// Texts travel as UTF-8 inside the program and as UTF-16 at the Win32 API.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kordel {

std::wstring Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::wstring_view text);

// The process's command line split by the system's rule (CommandLineToArgvW), the
// program's own path first, as UTF-8; nullopt when the system cannot split it.
std::optional<std::vector<std::string>> CommandLineArguments();

}  // namespace kordel

// Texts travel as UTF-8 inside the program and as UTF-16 at the Win32 API.
#pragma once

#include <string>
#include <string_view>

namespace kordel {

std::wstring Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::wstring_view text);

}  // namespace kordel

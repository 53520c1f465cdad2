#include "AnsiText.h"

#include <windows.h>

#include "TextWin32.h"

namespace kordel {

std::string AnsiToUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int units = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), units);
    return Utf16ToUtf8(wide);
}

std::string Utf8ToAnsi(const std::string& utf8) {
    if (utf8.empty()) return {};
    // A system whose ANSI page is UTF-8 (its "Unicode UTF-8 for worldwide language
    // support" setting) keeps the text; that page takes neither the flag nor "?" below.
    if (::GetACP() == CP_UTF8) return utf8;
    // No "best fit": Ä must not come back as A, a different name (COMÄ is not COMA).
    const std::wstring wide = Utf8ToUtf16(utf8);
    const int units = static_cast<int>(wide.size());
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int size =
        ::WideCharToMultiByte(CP_ACP, flags, wide.data(), units, nullptr, 0, "?", nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, wide.data(), units, bytes.data(), size, "?", nullptr);
    return bytes;
}

}  // namespace kordel

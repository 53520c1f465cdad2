#include "TextWin32.h"

#include <windows.h>

#include <shellapi.h>

#include "UniqueHandleWin32.h"

namespace kordel {

std::wstring Utf8ToUtf16(std::string_view text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    }
    return out;
}

std::string Utf16ToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                              n, nullptr, nullptr);
    }
    return out;
}

std::optional<std::vector<std::string>> CommandLineArguments() {
    int count = 0;
    const UniqueHandle<THandleDeleter<LPWSTR*, &::LocalFree>> argv(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (!argv) return std::nullopt;
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Utf16ToUtf8(argv.get()[i]));
    return arguments;
}

}  // namespace kordel

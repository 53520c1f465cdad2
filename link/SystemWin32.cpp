#include "SystemWin32.h"

#include <string>

namespace kordel {

void RestrictDllSearchToSystem() {
    // Windows 7 has the call only with its update KB2533623: looked up, not imported.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDirectories =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                     reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : nullptr;
    if (setDirectories && setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it the current folder at least leaves the search.
    ::SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    std::wstring path(MAX_PATH, L'\0');
    UINT length = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length >= path.size()) {
        path.resize(length);
        length = ::GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    }
    if (length == 0 || length >= path.size()) return nullptr;
    path.resize(length);
    path += L'\\';
    path += fileName;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kordel

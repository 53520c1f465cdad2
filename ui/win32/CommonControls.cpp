#include "CommonControls.h"

#include <stdexcept>
#include <string>

namespace kordel::win32 {

namespace {

template <typename Call>
void Resolve(HMODULE library, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
    if (!call) {
        throw std::runtime_error(std::string("comctl32.dll has no ") + name +
                                 " (Error: " + std::to_string(::GetLastError()) + ")");
    }
}

TCommonControls Load() {
    // By name, so that the process's activation context (the manifest) redirects the
    // load to version 6; without that context the system folder's copy is taken, as the
    // program restricts the DLL search to it.
    const HMODULE library = ::LoadLibraryW(L"comctl32.dll");
    if (!library) {
        throw std::runtime_error(
            "Unable to load comctl32.dll (Error: " + std::to_string(::GetLastError()) + ")");
    }
    TCommonControls calls;
    Resolve(library, "InitCommonControlsEx", calls.InitCommonControlsEx);
    Resolve(library, "SetWindowSubclass", calls.SetWindowSubclass);
    Resolve(library, "RemoveWindowSubclass", calls.RemoveWindowSubclass);
    Resolve(library, "DefSubclassProc", calls.DefSubclassProc);
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    calls.InitCommonControlsEx(&classes);
    return calls;
}

}  // namespace

const TCommonControls& CommonControls() {
    static const TCommonControls calls = Load();
    return calls;
}

}  // namespace kordel::win32

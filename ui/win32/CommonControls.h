// The common controls (status bar, progress bar, tool tips, window subclassing) of
// comctl32.dll version 6. The program's manifest names that version as a side-by-side
// dependency; the library is loaded at run time through that dependency, not imported,
// since comctl32 is no KnownDLL and an imported copy could be planted beside the program.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace kordel::win32 {

struct TCommonControls {
    decltype(&::InitCommonControlsEx) InitCommonControlsEx = nullptr;
    decltype(&::SetWindowSubclass) SetWindowSubclass = nullptr;
    decltype(&::RemoveWindowSubclass) RemoveWindowSubclass = nullptr;
    decltype(&::DefSubclassProc) DefSubclassProc = nullptr;
};

// Loads the library and registers its window classes at the first call. Raises
// std::runtime_error, naming the library and the system's error number, when it
// cannot.
const TCommonControls& CommonControls();

}  // namespace kordel::win32

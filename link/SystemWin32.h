// What the Windows programs ask of the system before anything else, and where they load
// system libraries from: only the system folder, never the program's own folder or the
// current one, where someone may have planted a DLL of the same name (a downloads folder).
#pragma once

#include <windows.h>

namespace kordel {

// Limits the process's DLL search to the system folder (System32). Each program calls
// it first thing; it takes effect for every later load, including those the system's
// own libraries make.
void RestrictDllSearchToSystem();

// Loads a library of the system folder by its full path, its own dependencies searched
// there first. nullptr, with the reason in GetLastError, when it cannot.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// Whether the program runs under wine rather than Windows.
bool RunningUnderWine();

}  // namespace kordel

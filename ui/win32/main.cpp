// kordel-update.exe: the window that writes the built-in firmware image into the module.
#include "TMain.h"  // first: the core's headers before <windows.h>

#include <windows.h>

#include <exception>
#include <string>

#include "Globals.h"
#include "MessagePump.h"
#include "SystemWin32.h"
#include "TextWin32.h"
#include "UniqueHandleWin32.h"
#include "Version.h"

namespace {

const char* const Usage =
    "Usage: kordel-update [--help | --version]\r\n"
    "Opens the window that writes the firmware image this program carries into a Kordel\r\n"
    "module: pick the COM port the instrument is attached to and press START.\r\n"
    "\r\n"
    "  --help     show this help and exit\r\n"
    "  --version  show the program's and the firmware image's version and exit\r\n";

// A window program has no console of its own: the answer goes to where its output is
// redirected, else to the console it was started from, else into a message box.
void Answer(const std::string& text) {
    const std::wstring wide = kordel::Utf8ToUtf16(text);
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE) {
        if (::GetConsoleMode(out, &mode)) {
            ::WriteConsoleW(out, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
        } else {
            ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        }
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        const kordel::TKernelHandle console = kordel::OwnedOrEmpty(::CreateFileW(
            L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (console) {
            ::WriteConsoleW(console.get(), wide.c_str(), static_cast<DWORD>(wide.size()), &written,
                            nullptr);
            return;
        }
    }
    ::MessageBoxW(nullptr, wide.c_str(), L"kordel-update", MB_OK | MB_ICONINFORMATION);
}

// --help and --version answer without opening the window.
bool AnswersWithoutWindow() {
    const auto args = kordel::CommandLineArguments();
    if (!args) return false;
    for (std::size_t i = 1; i < args->size(); ++i) {
        if ((*args)[i] == "--help") {
            Answer(Usage);
            return true;
        }
        if ((*args)[i] == "--version") {
            Answer(kordel::VersionLine("kordel-update") + "\r\n");
            return true;
        }
    }
    return false;
}

}  // namespace

// The window's first show follows the saved placement alone: the show state a shortcut
// gives the process (nCmdShow) is not used.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kordel::RestrictDllSearchToSystem();
    if (AnswersWithoutWindow()) return 0;
    try {
        kordel::win32::TApplicationObjects objects;
        kordel::win32::Main->Show();
        return kordel::win32::RunMessageLoop();
    } catch (const std::exception& e) {
        ::MessageBoxW(nullptr, kordel::Utf8ToUtf16(e.what()).c_str(), L"kordel-update",
                      MB_OK | MB_ICONERROR);
        return 1;
    }
}

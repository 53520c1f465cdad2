#include "Process.h"

#include <windows.h>

#include <shellapi.h>

#include "SystemWin32.h"
#include "TextWin32.h"

namespace kordel::cli {

void PrepareProcess() {
    RestrictDllSearchToSystem();
}

TArguments::TArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i) texts_.push_back(Utf16ToUtf8(wide[i]));
        ::LocalFree(wide);
    } else {
        texts_.assign(argv, argv + argc);  // the C runtime's reading, in the 8-bit page
    }
    for (auto& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

}  // namespace kordel::cli

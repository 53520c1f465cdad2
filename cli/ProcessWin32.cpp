#include "Process.h"

#include <utility>

#include "SystemWin32.h"
#include "TextWin32.h"

namespace kordel::cli {

void PrepareProcess() {
    RestrictDllSearchToSystem();
}

TArguments::TArguments(int argc, char** argv) {
    if (auto arguments = CommandLineArguments()) {
        texts_ = std::move(*arguments);
    } else {
        texts_.assign(argv, argv + argc);  // the C runtime's reading, in the 8-bit page
    }
    for (auto& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

}  // namespace kordel::cli

#include "Process.h"

namespace kordel::cli {

void PrepareProcess() {}

TArguments::TArguments(int argc, char** argv) : texts_(argv, argv + argc) {
    for (auto& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

}  // namespace kordel::cli

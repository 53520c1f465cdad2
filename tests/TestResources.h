// Taking a registered resource back, so that a test can see a program without one or
// return to the built-in one.
#pragma once

#include <string_view>

namespace kordel {

// Removes the registration of that name and type; the program's own resource of that
// name, if any (Windows), is found again.
void UnregisterResource(std::string_view name, std::string_view type);

}  // namespace kordel

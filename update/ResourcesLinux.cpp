// On Linux the build links each resource in as data and registers it (see
// resources/EmbeddedImage.cpp): the program has no other resources to look in.
#include <optional>

#include "Resources.h"

namespace kordel {

std::optional<std::span<const std::uint8_t>> PlatformFindResource(std::string_view,
                                                                   std::string_view) {
    return std::nullopt;
}

}  // namespace kordel

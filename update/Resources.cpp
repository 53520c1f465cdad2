#include "Resources.h"

#include <optional>

#include "ResourceRegistry.h"

namespace kordel {

// The running program's own resource of that name and type, viewed in place; nullopt
// when it has none (one file per OS).
std::optional<std::span<const std::uint8_t>> PlatformFindResource(std::string_view name,
                                                                   std::string_view type);

// Function-local so that registrations from static initializers in other translation
// units find it constructed.
TResourceRegistry& ResourceRegistry() {
    static TResourceRegistry registry;
    return registry;
}

EResNotFound::EResNotFound(std::string_view name, std::string_view type)
    : std::runtime_error("Resource " + std::string(name) + " (" + std::string(type) +
                         ") not found") {}

void RegisterResource(std::string_view name, std::string_view type,
                      std::span<const std::uint8_t> bytes) {
    auto& registry = ResourceRegistry();
    std::lock_guard lock(registry.mutex);
    registry.entries[{std::string(name), std::string(type)}] = bytes;
}

std::span<const std::uint8_t> FindResource(std::string_view name, std::string_view type) {
    auto& registry = ResourceRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.entries.find({std::string(name), std::string(type)});
    if (it != registry.entries.end()) return it->second;
    if (auto bytes = PlatformFindResource(name, type)) return *bytes;
    throw EResNotFound(name, type);
}

}  // namespace kordel

#include "Resources.h"

#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace kordel {

// The running program's own resource of that name and type, viewed in place; nullopt
// when it has none (one file per OS).
std::optional<std::span<const std::uint8_t>> PlatformFindResource(std::string_view name,
                                                                   std::string_view type);

namespace {

using Key = std::pair<std::string, std::string>;

// Function-local so that registrations from static initializers in other translation
// units find it constructed.
std::map<Key, std::span<const std::uint8_t>>& Registry() {
    static std::map<Key, std::span<const std::uint8_t>> registry;
    return registry;
}

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

EResNotFound::EResNotFound(std::string_view name, std::string_view type)
    : std::runtime_error("Resource " + std::string(name) + " (" + std::string(type) +
                         ") not found") {}

void RegisterResource(std::string_view name, std::string_view type,
                      std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(RegistryMutex());
    Registry()[{std::string(name), std::string(type)}] = bytes;
}

void UnregisterResource(std::string_view name, std::string_view type) {
    std::lock_guard lock(RegistryMutex());
    Registry().erase({std::string(name), std::string(type)});
}

std::span<const std::uint8_t> FindResource(std::string_view name, std::string_view type) {
    std::lock_guard lock(RegistryMutex());
    auto it = Registry().find({std::string(name), std::string(type)});
    if (it != Registry().end()) return it->second;
    if (auto bytes = PlatformFindResource(name, type)) return *bytes;
    throw EResNotFound(name, type);
}

}  // namespace kordel

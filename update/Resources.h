// Named binary resources carried inside the running executable, viewed in place.
// On Linux the build links each resource into the program as data and registers it
// under its name and type before main() runs; on Windows they are the executable's own
// resources (compiled from resources/kordel.rc). A registered resource comes first, so
// tests can stand in for the built-in one.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kordel {

class EResNotFound : public std::runtime_error {
  public:
    EResNotFound(std::string_view name, std::string_view type);
};

// Registers a resource; a later registration under the same name and type wins.
void RegisterResource(std::string_view name, std::string_view type,
                      std::span<const std::uint8_t> bytes);

// The resource's bytes, in place; raises EResNotFound when there is none.
std::span<const std::uint8_t> FindResource(std::string_view name, std::string_view type);

// Registers a resource from a static initializer.
struct TResourceRegistration {
    TResourceRegistration(std::string_view name, std::string_view type, const std::uint8_t* begin,
                          const std::uint8_t* end) {
        RegisterResource(name, type, {begin, end});
    }
};

}  // namespace kordel

// The resources registered by name and type, which come before the program's own. For
// Resources.cpp, and for the tests' helper that takes a registration back.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <utility>

namespace kordel {

struct TResourceRegistry {
    std::mutex mutex;  // guards entries
    std::map<std::pair<std::string, std::string>, std::span<const std::uint8_t>> entries;
};

// The one registry, constructed on first use (static initializers in other
// translation units register into it).
TResourceRegistry& ResourceRegistry();

}  // namespace kordel

#include "TestResources.h"

#include "ResourceRegistry.h"

namespace kordel {

void UnregisterResource(std::string_view name, std::string_view type) {
    auto& registry = ResourceRegistry();
    std::lock_guard lock(registry.mutex);
    registry.entries.erase({std::string(name), std::string(type)});
}

}  // namespace kordel

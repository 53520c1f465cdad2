// Runs the updates of kordel-flash: one link object and one thread per port.
#pragma once

#include <string>
#include <vector>

#include "Reporter.h"
#include "Update.h"

namespace kordel::cli {

struct FlashPlan {
    std::vector<std::string> ports;
    int repeat = 1;
    bool trace = false;
    std::span<const std::uint8_t> image;
    TBiosInfo info;
};

enum class Outcome { Ok, Failed, Cancelled };

// Flashes every port of the plan in parallel, `repeat` times each on the same link
// object; a port stops at its first failure. Each port's link watches a cancel token
// of its own whose parent is `cancelAll`: cancelling that ends every update, with the
// port closed first, and gives Outcome::Cancelled.
Outcome FlashAll(const FlashPlan& plan, Reporter& reporter, const TCancelToken& cancelAll);

}  // namespace kordel::cli

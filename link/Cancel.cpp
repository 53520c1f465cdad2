#include "Cancel.h"

#include <atomic>

namespace kordel {

namespace {
std::atomic<int> cancelSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from signal handlers");
}  // namespace

ECancelled::ECancelled(int signal)
    : std::runtime_error("Interrupted: the module now holds a partial image and needs a new update"),
      signal_(signal) {}

void RequestCancel(int signal) noexcept {
    int none = 0;
    if (cancelSignal.compare_exchange_strong(none, signal)) PlatformWakeCancelWaiters();
}

int CancelRequested() noexcept {
    return cancelSignal.load();
}

void ThrowIfCancelled() {
    if (int signal = CancelRequested()) throw ECancelled(signal);
}

}  // namespace kordel

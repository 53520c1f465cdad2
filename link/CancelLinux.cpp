#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "Cancel.h"
#include "CancelLinux.h"

namespace kordel {

namespace {
// Made before main() runs, so that a signal handler never has to create it.
const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}  // namespace

int CancelWakeFd() noexcept {
    return wakeFd;
}

void PlatformWakeCancelWaiters() noexcept {
    std::uint64_t one = 1;
    // write() is async-signal-safe; the counter only needs to become non-zero once.
    [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
}

}  // namespace kordel

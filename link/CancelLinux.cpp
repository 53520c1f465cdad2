#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "Cancel.h"
#include "CancelLinux.h"

namespace kordel {

namespace {

int NewWakeFd() noexcept {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void Wake(int fd) noexcept {
    std::uint64_t one = 1;
    // write() is async-signal-safe; the counter only needs to become non-zero once.
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

// Made before main() runs, so that a signal handler never has to create it.
const int wakeFd = NewWakeFd();

// A forked child would share the parent's counter: a cancellation in either process
// would wake the other's waits. The child gets a counter of its own under the same
// number, signalled when the parent had already asked.
extern "C" void GiveChildItsOwnWakeFd() {
    const int fresh = NewWakeFd();
    if (fresh < 0) return;
    ::dup3(fresh, wakeFd, O_CLOEXEC);
    ::close(fresh);
    if (CancelRequested() != 0) Wake(wakeFd);
}

const bool forkHandled = wakeFd >= 0 && ::pthread_atfork(nullptr, nullptr, GiveChildItsOwnWakeFd) == 0;

}  // namespace

int CancelWakeFd() noexcept {
    (void)forkHandled;
    return wakeFd;
}

void PlatformWakeCancelWaiters() noexcept {
    Wake(wakeFd);
}

}  // namespace kordel

#include <poll.h>
#include <sys/prctl.h>

#include <cerrno>
#include <chrono>

#include "Cancel.h"
#include "CancelLinux.h"
#include "Pause.h"

namespace kordel {

void PauseMs(int ms) {
    thread_local const bool tightTimers = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
    (void)tightTimers;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int cancelFd = CancelWakeFd();
    for (;;) {
        ThrowIfCancelled();
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec ts{static_cast<time_t>(ns / 1'000'000'000),
                          static_cast<long>(ns % 1'000'000'000)};
        // The cancel descriptor turns readable once cancellation was requested.
        pollfd cancel{cancelFd, POLLIN, 0};
        // Readable without a request it would only end the sleep early again and again.
        if (::ppoll(&cancel, 1, &ts, nullptr) > 0 && CancelRequested() == 0) cancelFd = -1;
    }
}

}  // namespace kordel

#include <sys/prctl.h>

#include <chrono>

#include "CancelTokenLinux.h"
#include "Pause.h"

namespace kordel {

bool PauseMs(int ms, const TCancelToken* cancel) noexcept {
    thread_local const bool tightTimers = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
    (void)tightTimers;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const TPollResult r = PollCancellable(-1, 0, deadline, cancel);
        if (r.cancelled) return false;
        // ppoll() over no descriptor fails only for an invalid time, which the
        // deadline rules out; the deadline decides either way.
        if (r.error == 0 || std::chrono::steady_clock::now() >= deadline) return true;
    }
}

}  // namespace kordel

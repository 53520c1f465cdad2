// A cancel token's wake-up object on Linux: an eventfd whose counter becomes non-zero
// on Cancel, so that it turns readable in every poll() set it is in.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "CancelTokenLinux.h"

namespace kordel {

void TCancelToken::PlatformCreate() {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        throw std::runtime_error(std::string("Cannot create a cancel token's eventfd: ") +
                                 std::strerror(errno));
    }
}

void TCancelToken::PlatformDestroy() noexcept {
    ::close(wake_);
}

void TCancelToken::PlatformWake() noexcept {
    const std::uint64_t one = 1;
    // write() is async-signal-safe; the counter only needs to become non-zero once.
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
}

void TCancelToken::PlatformUnwake() noexcept {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(wake_, &count, sizeof count);
}

namespace {

using Clock = std::chrono::steady_clock;

// Time left until `deadline` for ppoll(); nullptr waits without limit.
const timespec* TimeLeft(const std::optional<Clock::time_point>& deadline, timespec& ts) {
    if (!deadline) return nullptr;
    const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return &ts;
}

}  // namespace

TPollResult PollCancellable(int fd, short events, const std::optional<Clock::time_point>& deadline,
                            const TCancelToken* cancel) {
    TCancelWakeHandle wakes[TCancelToken::MaxChain];
    const std::size_t nWakes = CancelWakeHandles(cancel, wakes);
    pollfd p[1 + TCancelToken::MaxChain] = {{fd, events, 0}};
    for (std::size_t i = 0; i < nWakes; ++i) p[1 + i] = {wakes[i], POLLIN, 0};
    TPollResult result;
    for (;;) {
        if (CancelReason(cancel) != 0) {
            result.cancelled = true;
            return result;
        }
        timespec ts{};
        const int n = ::ppoll(p, 1 + nWakes, TimeLeft(deadline, ts), nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = errno;
            return result;
        }
        if (n == 0) {
            if (!deadline || Clock::now() >= *deadline) return result;
            continue;  // woke a little early: the deadline rules
        }
        bool woken = false;
        for (std::size_t i = 1; i <= nWakes; ++i) woken = woken || p[i].revents != 0;
        // Readable without a reason, an eventfd could only wake this wait again and
        // again (a token that a forked process shares and cancelled): it is left out
        // from here on.
        if (woken && CancelReason(cancel) == 0) {
            for (std::size_t i = 1; i <= nWakes; ++i) {
                if (p[i].revents != 0) p[i].fd = -1;
            }
        }
        if (!woken) {
            result.revents = p[0].revents;
            return result;
        }
        // Cancelled: said at the top. Otherwise the deadline still rules.
        if (deadline && Clock::now() >= *deadline && CancelReason(cancel) == 0) return result;
    }
}

}  // namespace kordel

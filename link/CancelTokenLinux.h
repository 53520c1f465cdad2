// Waiting on Linux while a cancel token is watched: one ppoll() over a descriptor and the
// eventfds of the token and its parents, against a steady_clock deadline.
#pragma once

#include <chrono>
#include <optional>

#include "CancelToken.h"

namespace kordel {

struct TPollResult {
    short revents = 0;       // of the descriptor; 0 when the deadline passed
    int error = 0;           // errno of a failed poll
    bool cancelled = false;  // the token (or a parent) was cancelled, before or during
};

// Waits for `events` on `fd` (-1: on nothing, a pause) until `deadline` (nullopt:
// without limit) or until `cancel` (nullptr: never) is cancelled. Restarted after
// signals with the time that is left; a cancellation wins over a ready descriptor.
TPollResult PollCancellable(int fd, short events,
                            const std::optional<std::chrono::steady_clock::time_point>& deadline,
                            const TCancelToken* cancel);

}  // namespace kordel

// Cancelling the port work of the whole process. A signal handler (or a console
// control handler) asks once; every port read, write and pause that is running then,
// or starts later, ends at once by raising ECancelled. The update is then broken off
// wherever it is, and the caller closes the port.
#pragma once

#include <stdexcept>

namespace kordel {

class ECancelled : public std::runtime_error {
  public:
    explicit ECancelled(int signal);
    // The signal that asked for the cancellation (SIGINT, SIGTERM, ...).
    int Signal() const { return signal_; }

  private:
    int signal_;
};

// Async-signal-safe: may be called from a signal handler. The first request wins.
void RequestCancel(int signal) noexcept;
// 0 while nobody asked, otherwise the signal that asked.
int CancelRequested() noexcept;
// Raises ECancelled once a cancellation was requested.
void ThrowIfCancelled();

// Wakes every wait on the platform's cancel object (implemented per OS). Must be
// async-signal-safe.
void PlatformWakeCancelWaiters() noexcept;

}  // namespace kordel

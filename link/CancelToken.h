// Cancelling the port work of one link. Whoever runs an update owns a token and hands
// it to its link (TComIo::SetCancelToken); every read, write and pause of that link
// watches it. Cancel ends what is running at once and keeps anything new from starting:
// the operation raises ECancelled, the update is broken off wherever it is, and the
// owner closes the port.
//
// A token may have a parent: cancelling the parent cancels the waits on the token too.
// The command line gives each port a token of its own under one parent that its signal
// handlers cancel; a port's own token stops that port alone. A token belongs to one
// process.
#pragma once

#include <atomic>
#include <cstddef>
#include <stdexcept>

namespace kordel {

// Why a token was cancelled: a signal number (SIGINT, SIGTERM, SIGHUP), or this.
inline constexpr int CancelUnplugged = 0x100;  // above every signal number

// What a waiting platform call watches for a token: an eventfd on Linux, a
// manual-reset event (a HANDLE) on Windows.
#ifdef _WIN32
using TCancelWakeHandle = void*;
#else
using TCancelWakeHandle = int;
#endif

class TCancelToken {
  public:
    // The longest chain of a token and its parents that a wait watches.
    static constexpr std::size_t MaxChain = 4;

    // Raises std::runtime_error when the system cannot make the wake-up object, and
    // std::invalid_argument for a chain longer than MaxChain.
    explicit TCancelToken(const TCancelToken* parent = nullptr);
    ~TCancelToken();
    TCancelToken(const TCancelToken&) = delete;
    TCancelToken& operator=(const TCancelToken&) = delete;

    // Cancels with `reason` (non-zero). The first reason wins; later calls change
    // nothing. Async-signal-safe on Linux; on Windows callable from a console control
    // handler's thread.
    void Cancel(int reason) noexcept;
    // Takes a cancellation back, so that the token can serve the next run. Call it only
    // while no operation watches the token; a parent's cancellation stays.
    void Reset() noexcept;
    // 0 while neither this token nor a parent is cancelled; otherwise the reason of the
    // nearest cancelled one.
    int Reason() const noexcept;
    // Raises ECancelled once Reason() is not 0.
    void ThrowIfCancelled() const;

    const TCancelToken* Parent() const noexcept { return parent_; }
    // Becomes signalled by Cancel of this token (not of its parent) until Reset.
    TCancelWakeHandle WakeHandle() const noexcept { return wake_; }

  private:
    void PlatformCreate();
    void PlatformDestroy() noexcept;
    void PlatformWake() noexcept;
    void PlatformUnwake() noexcept;

    const TCancelToken* parent_;
    std::atomic<int> reason_{0};
    TCancelWakeHandle wake_{};
    static_assert(std::atomic<int>::is_always_lock_free, "set from signal handlers");
};

// The wake handles of `token` and its parents, nearest first; returns how many (0 for
// nullptr). `out` has room for TCancelToken::MaxChain.
std::size_t CancelWakeHandles(const TCancelToken* token, TCancelWakeHandle* out) noexcept;

// The reason of `token`, 0 for nullptr (a link that is never cancelled).
inline int CancelReason(const TCancelToken* token) noexcept {
    return token ? token->Reason() : 0;
}

class ECancelled : public std::runtime_error {
  public:
    // The message says what the module holds now: "Interrupted: ..." for a signal,
    // "Unplugged: ..." for CancelUnplugged.
    explicit ECancelled(int reason);
    // The token's reason: a signal number or CancelUnplugged.
    int Reason() const { return reason_; }
    int Signal() const { return reason_; }

  private:
    int reason_;
};

}  // namespace kordel

// Blocking pauses of the calling thread: the break pulse and the fixed pauses of the
// update. The link pauses through a TPause, so that tests can record what it asks for.
#pragma once

namespace kordel {

class TCancelToken;

// Sleeps `ms` milliseconds, as close to that as the system allows: the protocol's
// pauses add up over an update, so the usual timer slack per pause is asked away.
// Ends early once `cancel` (nullptr: never) is cancelled, before or during the pause,
// and then returns false. Never raises.
bool PauseMs(int ms, const TCancelToken* cancel = nullptr) noexcept;

class TPause {
  public:
    virtual ~TPause() = default;
    // Blocks for `ms` milliseconds, or less once `cancel` (may be nullptr) is cancelled.
    virtual void Sleep(int ms, const TCancelToken* cancel) = 0;
};

// The system's pause, PauseMs.
class TSystemPause final : public TPause {
  public:
    void Sleep(int ms, const TCancelToken* cancel) override { PauseMs(ms, cancel); }
};

}  // namespace kordel

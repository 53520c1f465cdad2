// Pauses on Windows. Sleep() rounds up to the system timer tick (15.6 ms by default),
// which turns the 25 ms pause after every flash block into up to 31 ms. A waitable
// timer created with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION expires within about a
// millisecond of its due time without raising the timer rate of the whole system, as
// timeBeginPeriod(1) would; where the system lacks it (before Windows 10 1803) an
// ordinary waitable timer under timeBeginPeriod(1) for the pause's length does. Either
// way the wait also ends at once when its cancel token is cancelled.
#include <windows.h>

#include <timeapi.h>

#include "CancelTokenWin32.h"
#include "Pause.h"
#include "SystemWin32.h"
#include "UniqueHandleWin32.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace kordel {

namespace {

// A high-resolution waitable timer where the system has one, else an ordinary one.
struct TimerHandle {
    TKernelHandle handle;
    bool highResolution = false;
    TimerHandle()
        : handle(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS)) {
        highResolution = handle != nullptr;
        if (!handle) handle.reset(::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
    }
};

// The system timer's rate, set through winmm. Only systems without high-resolution
// timers need it, so the library is loaded (from the system folder) when first needed
// rather than imported.
struct TimerPeriodCalls {
    using Call = MMRESULT(WINAPI*)(UINT);
    Call begin = nullptr;
    Call end = nullptr;
    TimerPeriodCalls() {
        const HMODULE winmm = LoadSystemLibrary(L"winmm.dll");
        if (!winmm) return;
        begin = reinterpret_cast<Call>(
            reinterpret_cast<void*>(::GetProcAddress(winmm, "timeBeginPeriod")));
        end = reinterpret_cast<Call>(
            reinterpret_cast<void*>(::GetProcAddress(winmm, "timeEndPeriod")));
        if (!begin || !end) begin = end = nullptr;
    }
};

const TimerPeriodCalls& TimerPeriod() {
    static const TimerPeriodCalls calls;
    return calls;
}

// Raises the system timer rate to 1 ms for as long as it lives. Without winmm the
// pause only runs longer, up to the next tick.
class FineTimerPeriod {
  public:
    explicit FineTimerPeriod(bool wanted) {
        if (!wanted) return;
        const TimerPeriodCalls& calls = TimerPeriod();
        active_ = calls.begin && calls.begin(1) == TIMERR_NOERROR;
    }
    ~FineTimerPeriod() {
        if (active_) TimerPeriod().end(1);
    }
    FineTimerPeriod(const FineTimerPeriod&) = delete;
    FineTimerPeriod& operator=(const FineTimerPeriod&) = delete;

  private:
    bool active_ = false;
};

}  // namespace

bool PauseMs(int ms, const TCancelToken* cancel) noexcept {
    if (CancelReason(cancel) != 0) return false;
    if (ms <= 0) return true;
    thread_local TimerHandle timer;
    if (timer.handle) {
        FineTimerPeriod period(!timer.highResolution);
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, in 100 ns units
        if (::SetWaitableTimer(timer.handle.get(), &due, 0, nullptr, nullptr, FALSE)) {
            const TWaitEnd end = WaitCancellable(timer.handle.get(), INFINITE, cancel);
            ::CancelWaitableTimer(timer.handle.get());
            return end != TWaitEnd::Cancelled;
        }
    }
    FineTimerPeriod period(true);
    return WaitCancellable(nullptr, static_cast<DWORD>(ms), cancel) != TWaitEnd::Cancelled;
}

}  // namespace kordel

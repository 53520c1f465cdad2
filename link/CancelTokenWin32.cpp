// A cancel token's wake-up object on Windows: a manual-reset event, signalled on Cancel,
// that every wait of the port layer includes.
#include <windows.h>

#include <string>

#include "CancelTokenWin32.h"

namespace kordel {

void TCancelToken::PlatformCreate() {
    wake_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wake_ == nullptr) {
        throw std::runtime_error("Cannot create a cancel token's event (Error: " +
                                 std::to_string(::GetLastError()) + ")");
    }
}

void TCancelToken::PlatformDestroy() noexcept {
    ::CloseHandle(wake_);
}

void TCancelToken::PlatformWake() noexcept {
    ::SetEvent(wake_);
}

void TCancelToken::PlatformUnwake() noexcept {
    ::ResetEvent(wake_);
}

TWaitEnd WaitCancellable(HANDLE object, DWORD ms, const TCancelToken* cancel) {
    if (CancelReason(cancel) != 0) return TWaitEnd::Cancelled;
    HANDLE waits[TCancelToken::MaxChain + 1];
    const DWORD nWakes = static_cast<DWORD>(CancelWakeHandles(cancel, waits));
    DWORD count = nWakes;
    if (object != nullptr) waits[count++] = object;
    if (count == 0) {
        ::Sleep(ms);
        return TWaitEnd::TimedOut;
    }
    const DWORD w = ::WaitForMultipleObjects(count, waits, FALSE, ms);
    if (w == WAIT_TIMEOUT) return TWaitEnd::TimedOut;
    if (w == WAIT_FAILED) return TWaitEnd::Failed;
    // An event of the chain is signalled only between Cancel and Reset.
    if (w < WAIT_OBJECT_0 + nWakes) return TWaitEnd::Cancelled;
    return TWaitEnd::Signalled;
}

}  // namespace kordel

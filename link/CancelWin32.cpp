#include "CancelWin32.h"

#include "Cancel.h"

namespace kordel {

namespace {
// Made before main() runs, so that a console control handler never has to create it.
const HANDLE cancelEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}  // namespace

HANDLE CancelEvent() noexcept {
    return cancelEvent;
}

void PlatformWakeCancelWaiters() noexcept {
    ::SetEvent(cancelEvent);
}

}  // namespace kordel

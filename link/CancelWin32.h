// The Win32 side of the process-wide cancellation: a manual-reset event that becomes
// signalled once cancellation was requested, to put into every wait of the port layer.
#pragma once

#include <windows.h>

namespace kordel {

// Valid for the life of the process; never closed.
HANDLE CancelEvent() noexcept;

}  // namespace kordel

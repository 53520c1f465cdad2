// Waiting on Windows while a cancel token is watched: one WaitForMultipleObjects over the
// events of the token and its parents, plus the object waited for.
#pragma once

#include <windows.h>

#include "CancelToken.h"

namespace kordel {

enum class TWaitEnd { Signalled, TimedOut, Cancelled, Failed };

// Waits up to `ms` milliseconds (INFINITE: without limit) for `object` (nullptr: for
// nothing, a pause) or until `cancel` (nullptr: never) is cancelled, before or during
// the wait. After Failed, GetLastError() tells why.
TWaitEnd WaitCancellable(HANDLE object, DWORD ms, const TCancelToken* cancel);

}  // namespace kordel

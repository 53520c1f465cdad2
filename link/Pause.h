// A blocking pause of the calling thread.
#pragma once

namespace kordel {

// Sleeps `ms` milliseconds, as close to that as the system allows: the protocol's
// pauses add up over an update, so the usual 50 us timer slack per pause is asked away.
// Raises ECancelled (Cancel.h) at once when cancellation is requested before or during
// the pause.
void PauseMs(int ms);

}  // namespace kordel

// The Linux side of the process-wide cancellation: a descriptor that turns readable
// once cancellation was requested, to put into every poll() set of the port layer.
#pragma once

namespace kordel {

// Valid for the life of the process; never closed.
int CancelWakeFd() noexcept;

}  // namespace kordel

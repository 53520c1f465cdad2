// Watch mode of kordel-flash: waits for serial ports to appear and gives each port that
// matches one update per plug, every port in a thread of its own, until the user stops
// it. A port that goes away in the middle of its update has that update cancelled, and
// the others go on.
#pragma once

#include <string>
#include <vector>

#include "Flasher.h"
#include "PortList.h"

namespace kordel::cli {

struct WatchPlan {
    FlashPlan flash;  // what every update sends, records and retries; its ports are unused
    // The ports to update; none: every USB serial port that appears after the start.
    std::vector<TPortPattern> patterns;
    // Leaves a module alone whose CPU-ID already has an `ok` record in the log at
    // `logPath` (which flash.log appends to).
    bool once = false;
    std::string logPath;
};

// The folders besides the device folder where the patterns' ports appear: the folder
// of each pattern that is a path (a simulator's link, "/tmp/station/ttySIM*"). Empty
// `error` on success; a folder that is itself a glob cannot be watched.
std::vector<std::string> PatternFolders(const std::vector<TPortPattern>& patterns,
                                        std::string& error);

// Watches until `cancelAll` is cancelled (by a signal), then cancels the updates that
// still run and waits for them. Ok when every update it ran succeeded or skipped,
// Failed when any failed (an unplugged one too), Cancelled when the signal cut an
// update short. Raises std::runtime_error when the ports cannot be watched.
Outcome RunWatch(const WatchPlan& plan, Reporter& reporter, TCancelToken& cancelAll);

}  // namespace kordel::cli

// Runs the updates of kordel-flash: one link object and one thread per port.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "AuditLog.h"
#include "AuditRecord.h"
#include "Reporter.h"
#include "Update.h"

namespace kordel::cli {

struct FlashPlan {
    std::vector<std::string> ports;
    // What the listing knows of ports[i], for the records; shorter than `ports` where
    // the last ports are not listed (simulated modules).
    std::vector<TPortIdentity> identities;
    int repeat = 1;
    bool trace = false;
    std::span<const std::uint8_t> image;
    TBiosInfo info;
    // A failed update is run again from the port's opening, this many times at most,
    // `retryDelayMs` after the failure; each attempt is its own record.
    int retries = 0;
    int retryDelayMs = 500;
    TAuditLog* log = nullptr;  // where each attempt is recorded; none when null
    TAuditStation station;     // for the records
};

// Skipped: the module answered and was left as it was (watch mode's --once).
enum class Outcome { Ok, Failed, Cancelled, Skipped };

// Asked once the module's CPU-ID is known, before anything is written: the text to show
// when the module is to be left as it is, nullopt to go on. May raise (the attempt then
// fails with the exception's text).
using TSkipCheck = std::function<std::optional<std::string>(const std::array<std::uint8_t, 12>&)>;

// Flashes every port of the plan in parallel, `repeat` times each on the same link
// object; a port stops at an update that failed every attempt. Each port's link
// watches a cancel token of its own whose parent is `cancelAll`: cancelling that ends
// every update, with the port closed first, and gives Outcome::Cancelled.
Outcome FlashAll(const FlashPlan& plan, Reporter& reporter, const TCancelToken& cancelAll);

// What one attempt on a port needs besides the link.
struct AttemptSetup {
    const FlashPlan& plan;
    std::size_t index;  // the port's place in the reporter's list
    int run;
    int attempt;
    const TAuditRecord& context;  // the record's fields that do not change per attempt
    const TSkipCheck* skip;       // null: every module is written
};

struct AttemptEnd {
    Outcome outcome;
    bool recorded;  // false: the plan has a log and the record could not be written
};

// One update on `io`: its record is appended to the plan's log (and on the disk)
// before the reporter shows the result.
AttemptEnd RunAttempt(TComIo& io, TBootInfo& bootInfo, const AttemptSetup& setup,
                      Reporter& reporter);

// One update on `io` with the retries the plan allows, starting at setup.attempt.
Outcome RunWithRetries(TComIo& io, TBootInfo& bootInfo, const AttemptSetup& setup,
                       Reporter& reporter);

// The fields of a record that stay the same for every attempt on the plan's port `index`.
TAuditRecord RecordContext(const FlashPlan& plan, std::size_t index);

}  // namespace kordel::cli

// The audit record of one update attempt: what it is made of, how it is written as
// one line of JSON, and the observer that collects from a running update what the
// record needs (the module's identification, its CPU-ID, the step and block reached).
//
// The line's schema is 1. Fields are only ever added, never renamed, retyped or
// removed; a reader takes any schema from 1 on and ignores fields it does not know.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "BiosInfo.h"
#include "PortList.h"
#include "Update.h"

namespace kordel::cli {

inline constexpr int AuditSchema = 1;

// The identity the record keeps of a port: the listing's, for a USB port only.
std::optional<TPortIdentity> UsbIdentityOf(const TPortIdentity& identity);

// The image an update sends.
struct TAuditImage {
    std::string version;     // "1.3": VersHi.VersLo in decimal
    std::uint32_t size = 0;  // FileSize's low 20 bits
    std::string sha256;      // of every block the update sends, filler included
};
TAuditImage DescribeImage(std::span<const std::uint8_t> image, const TBiosInfo& info);

// Who and what runs the updates.
struct TAuditStation {
    std::string station;
    std::optional<std::string> op;  // the operator, when named
    std::string tool;               // the program's version line
};

// The step as the record names it: "connect", "identify", "cpu-id", "write", "close".
const char* AuditStepName(TUpdateStep step);

struct TAuditModule {
    std::vector<std::uint8_t> bootInfo;  // the identification reply's data, at most 48 bytes
    std::optional<std::array<std::uint8_t, 12>> cpuId;
};

struct TAuditRecord {
    std::chrono::system_clock::time_point time;  // the attempt's start
    std::int64_t durationMs = 0;
    TAuditStation station;
    TAuditImage image;
    std::string port;
    std::optional<TPortIdentity> usb;
    std::optional<TAuditModule> module;  // nullopt: the module never answered
    bool ok = false;
    std::string message;                         // the exact text shown for the result
    TUpdateStep step = TUpdateStep::Connecting;  // the last one begun
    std::uint32_t blocks = 0;                    // written and acknowledged
    int attempt = 1;                             // 2 and on: the retries of the same update
    // The module was left as it was (--once: its CPU-ID already had an `ok` record);
    // written as "skipped":true, and left out otherwise.
    bool skipped = false;
};

// The record as one JSON object without a line break.
std::string AuditLine(const TAuditRecord& record);

// "2026-12-10T14:03:07.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);
// Bytes as upper-case hex digits, two per byte.
std::string HexDigits(std::span<const std::uint8_t> bytes);
// A text field of the identification record: its bytes up to the first NUL, when every
// one of them is a printable ASCII character; nullopt otherwise, or when the reply
// ended before the field did.
std::optional<std::string> PrintableField(std::span<const std::uint8_t> record, std::size_t offset,
                                          std::size_t size);

// Collects the record of one attempt while passing every report on to `inner` (the
// terminal's or JSON's sink; may be null). Made just before RunUpdate, which the clock
// of the record starts with.
class TAttemptRecorder : public TForwardingSink {
  public:
    TAttemptRecorder(TAuditRecord context, TProgressSink* inner);

    void StepStarted(TUpdateStep step) override;
    void Identified(std::span<const std::uint8_t> reply) override;
    void CpuIdRead(const std::array<std::uint8_t, 12>& cpuId) override;
    void BlockWritten(std::uint32_t block) override;

    // The record of the attempt as it ended now, with `message` shown for it.
    TAuditRecord Finish(bool ok, const std::string& message) const;

  private:
    TAuditRecord record_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace kordel::cli

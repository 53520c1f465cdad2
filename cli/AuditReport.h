// The audit log as a person or a spreadsheet reads it.
#pragma once

#include <ostream>
#include <string>

namespace kordel::cli {

enum class ReportFormat { Table, Csv };

// Writes the records of the log at `path` to `out`: one row per attempt, then the
// passed and failed attempts per station and day (UTC). A table is made safe for a
// terminal; CSV follows RFC 4180. Lines that are no record are skipped and counted on
// `err`. Returns 0, or 1 when the log cannot be read (said on `err`).
int WriteAuditReport(const std::string& path, ReportFormat format, std::ostream& out,
                     std::ostream& err);

}  // namespace kordel::cli

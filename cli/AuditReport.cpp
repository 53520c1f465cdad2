#include "AuditReport.h"

#include <algorithm>
#include <map>
#include <vector>

#include "AuditLog.h"
#include "Text.h"

namespace kordel::cli {

namespace {

// A field of a record as text: strings as they are, whole numbers in decimal, anything
// else (null, missing, another type) empty.
std::string Field(const JsonValue* object, std::string_view key) {
    if (object == nullptr) return "";
    const JsonValue* v = object->Find(key);
    if (v == nullptr) return "";
    if (v->type == JsonValue::Type::String) return v->text;
    if (auto n = object->CountAt(key)) return std::to_string(*n);
    return "";
}

struct Column {
    const char* tableHeading;  // nullptr: CSV only
    const char* csvHeading;    // nullptr: table only
    bool numeric;
    std::string (*get)(const JsonValue& record);
};

const JsonValue* Member(const JsonValue& record, std::string_view key) {
    return record.Find(key);
}

std::string StepText(const JsonValue& r, bool withBlock) {
    std::string step = Field(&r, "step");
    const std::string block = Field(&r, "block");
    if (withBlock && !block.empty()) step += " " + block;
    return step;
}

const Column Columns[] = {
    {"TIME", "time", false, [](const JsonValue& r) { return Field(&r, "time"); }},
    {"STATION", "station", false, [](const JsonValue& r) { return Field(&r, "station"); }},
    {"OPERATOR", "operator", false, [](const JsonValue& r) { return Field(&r, "operator"); }},
    {"PORT", "port", false, [](const JsonValue& r) { return Field(&r, "port"); }},
    {"RESULT", "result", false, [](const JsonValue& r) { return Field(&r, "result"); }},
    {"STEP", nullptr, false, [](const JsonValue& r) { return StepText(r, true); }},
    {nullptr, "step", false, [](const JsonValue& r) { return StepText(r, false); }},
    {nullptr, "block", true, [](const JsonValue& r) { return Field(&r, "block"); }},
    {"BLOCKS", "blocks", true, [](const JsonValue& r) { return Field(&r, "blocks"); }},
    {"MS", "duration_ms", true, [](const JsonValue& r) { return Field(&r, "duration_ms"); }},
    {nullptr, "attempt", true, [](const JsonValue& r) { return Field(&r, "attempt"); }},
    {"CPU-ID", "cpu_id", false,
     [](const JsonValue& r) { return Field(Member(r, "module"), "cpu_id"); }},
    {nullptr, "boot_date", false,
     [](const JsonValue& r) {
         const JsonValue* m = Member(r, "module");
         return Field(m ? m->Find("boot_info") : nullptr, "date");
     }},
    {nullptr, "boot_snr", false,
     [](const JsonValue& r) {
         const JsonValue* m = Member(r, "module");
         return Field(m ? m->Find("boot_info") : nullptr, "snr");
     }},
    {nullptr, "image_version", false,
     [](const JsonValue& r) { return Field(Member(r, "image"), "version"); }},
    {nullptr, "image_size", true,
     [](const JsonValue& r) { return Field(Member(r, "image"), "size"); }},
    {nullptr, "image_sha256", false,
     [](const JsonValue& r) { return Field(Member(r, "image"), "sha256"); }},
    {nullptr, "usb_vendor_id", false,
     [](const JsonValue& r) { return Field(Member(r, "usb"), "vendor_id"); }},
    {nullptr, "usb_product_id", false,
     [](const JsonValue& r) { return Field(Member(r, "usb"), "product_id"); }},
    {nullptr, "usb_serial_number", false,
     [](const JsonValue& r) { return Field(Member(r, "usb"), "serial_number"); }},
    {nullptr, "usb_location", false,
     [](const JsonValue& r) { return Field(Member(r, "usb"), "location"); }},
    {nullptr, "tool", false, [](const JsonValue& r) { return Field(&r, "tool"); }},
    {"MESSAGE", "message", false, [](const JsonValue& r) { return Field(&r, "message"); }},
};

// The passed and failed attempts of one station on one day.
using DayKey = std::pair<std::string, std::string>;
struct DayCounts {
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
};

void Count(std::map<DayKey, DayCounts>& days, const JsonValue& record) {
    const std::string time = Field(&record, "time");
    // The time is UTC, "2026-12-10T...": the day is its date.
    const std::string day =
        time.size() >= 10 && time[4] == '-' && time[7] == '-' ? time.substr(0, 10) : "?";
    auto& counts = days[{Field(&record, "station"), day}];
    (record.StringAt("result") == "ok" ? counts.passed : counts.failed) += 1;
}

// A multi-line message on one table row.
std::string OneLine(const std::string& text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += text[i] == '\n' ? std::string(" / ") : std::string(1, text[i]);
    }
    return line;
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t shown = static_cast<std::size_t>(DisplayWidth(text));
    const std::string fill(width > shown ? width - shown : 0, ' ');
    return right ? fill + text : text + fill;
}

// RFC 4180, and a cell a spreadsheet would take for a formula starts with an apostrophe.
std::string CsvCell(const std::string& text, bool numeric) {
    std::string cell = text;
    if (!numeric && !cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos) {
        cell = "'" + cell;
    }
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

class Report {
  public:
    Report(ReportFormat format, std::ostream& out) : format_(format), out_(out) {
        for (const Column& c : Columns) {
            if ((format_ == ReportFormat::Csv ? c.csvHeading : c.tableHeading) != nullptr) {
                columns_.push_back(&c);
            }
        }
        widths_.assign(columns_.size(), 0);
    }

    // The table's columns are as wide as their widest cell: a first pass measures.
    void Measure(const JsonValue& record) {
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            widths_[i] =
                std::max(widths_[i], static_cast<std::size_t>(DisplayWidth(Cell(i, record))));
        }
    }

    void Heading() {
        std::vector<std::string> cells;
        for (const Column* c : columns_) {
            cells.push_back(format_ == ReportFormat::Csv ? c->csvHeading : c->tableHeading);
        }
        if (format_ == ReportFormat::Table) {
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                widths_[i] = std::max(widths_[i], cells[i].size());
            }
        }
        Row(cells, false);
    }

    void Record(const JsonValue& record) {
        std::vector<std::string> cells;
        for (std::size_t i = 0; i < columns_.size(); ++i) cells.push_back(Cell(i, record));
        Row(cells, true);
        Count(days_, record);
    }

    void Days() {
        if (days_.empty()) return;
        out_ << (format_ == ReportFormat::Csv ? "\r\n" : "\n");
        std::size_t stationWidth = 7;
        for (const auto& [key, counts] : days_) {
            stationWidth =
                std::max(stationWidth, static_cast<std::size_t>(DisplayWidth(Safe(key.first))));
        }
        if (format_ == ReportFormat::Csv) {
            out_ << "station,day,passed,failed\r\n";
        } else {
            out_ << Pad("STATION", stationWidth, false) << "  DAY         PASSED  FAILED\n";
        }
        for (const auto& [key, counts] : days_) {
            if (format_ == ReportFormat::Csv) {
                out_ << CsvCell(key.first, false) << ',' << CsvCell(key.second, false) << ','
                     << counts.passed << ',' << counts.failed << "\r\n";
            } else {
                out_ << Pad(Safe(key.first), stationWidth, false) << "  "
                     << Pad(Safe(key.second), 10, false) << "  "
                     << Pad(std::to_string(counts.passed), 6, true) << "  "
                     << Pad(std::to_string(counts.failed), 6, true) << '\n';
            }
        }
    }

  private:
    std::string Safe(const std::string& text) const {
        return format_ == ReportFormat::Csv ? text : TerminalText(OneLine(text));
    }

    std::string Cell(std::size_t i, const JsonValue& record) const {
        std::string text = columns_[i]->get(record);
        if (format_ == ReportFormat::Table && text.empty()) return "-";
        return Safe(text);
    }

    void Row(const std::vector<std::string>& cells, bool values) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (format_ == ReportFormat::Csv) {
                out_ << (i ? "," : "")
                     << (values ? CsvCell(cells[i], columns_[i]->numeric) : cells[i]);
                continue;
            }
            const bool last = i + 1 == cells.size();
            out_ << (i ? "  " : "")
                 << (last ? cells[i] : Pad(cells[i], widths_[i], values && columns_[i]->numeric));
        }
        out_ << (format_ == ReportFormat::Csv ? "\r\n" : "\n");
    }

    ReportFormat format_;
    std::ostream& out_;
    std::vector<const Column*> columns_;
    std::vector<std::size_t> widths_;
    std::map<DayKey, DayCounts> days_;
};

}  // namespace

int WriteAuditReport(const std::string& path, ReportFormat format, std::ostream& out,
                     std::ostream& err) {
    try {
        const auto file = TAuditFile::Open(path, TAuditFile::Access::Read);
        Report report(format, out);
        // Both passes read the same lines: the second stops where the first did.
        TAuditScan measured;
        if (format == ReportFormat::Table) {
            measured = ScanAuditLog(*file, 0, [&](const JsonValue& r) { report.Measure(r); });
        }
        report.Heading();
        std::uint64_t shown = 0;
        const std::uint64_t limit = format == ReportFormat::Table ? measured.records : UINT64_MAX;
        const TAuditScan scan = ScanAuditLog(*file, 0, [&](const JsonValue& r) {
            if (shown++ < limit) report.Record(r);
        });
        report.Days();
        if (scan.malformed > 0) {
            err << "kordel-flash: " << scan.malformed << " line" << (scan.malformed == 1 ? "" : "s")
                << " of '" << TerminalText(path)
                << "' skipped: not a record (not JSON, too long, or torn at the end)\n";
        }
        return 0;
    } catch (const EAuditLog& e) {
        err << "kordel-flash: " << TerminalText(e.what()) << '\n';
        return 1;
    }
}

}  // namespace kordel::cli

#include "AuditRecord.h"

#include <cstdio>

#include "PortListing.h"
#include "Sha256.h"
#include "Text.h"

namespace kordel::cli {

namespace {

std::string JsonOrNull(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

std::string UsbJson(const TPortIdentity& usb) {
    return "{" + IdentityJsonFields(usb) + "}";
}

// Where the identification record keeps its texts.
constexpr std::size_t DateOffset = 16, SnrOffset = 32, TextFieldSize = 16;

std::string ModuleJson(const TAuditModule& module) {
    const std::span<const std::uint8_t> boot(module.bootInfo);
    return "{\"cpu_id\":" +
           (module.cpuId ? "\"" + HexDigits(*module.cpuId) + "\"" : std::string("null")) +
           ",\"boot_info\":{\"hex\":\"" + HexDigits(boot) +
           "\",\"date\":" + JsonOrNull(PrintableField(boot, DateOffset, TextFieldSize)) +
           ",\"snr\":" + JsonOrNull(PrintableField(boot, SnrOffset, TextFieldSize)) + "}}";
}

}  // namespace

std::optional<TPortIdentity> UsbIdentityOf(const TPortIdentity& identity) {
    if (!identity.IsUsb()) return std::nullopt;
    return identity;
}

TAuditImage DescribeImage(std::span<const std::uint8_t> image, const TBiosInfo& info) {
    TAuditImage described;
    described.version = std::to_string(info.VersHi) + "." + std::to_string(info.VersLo);
    described.size = info.UpdateLength();
    Sha256 hash;
    for (std::uint32_t offset = 0; offset < described.size; offset += BlockSize) {
        hash.Update(ImageBlock(image, offset));
    }
    described.sha256 = HexDigits(hash.Final());
    return described;
}

const char* AuditStepName(TUpdateStep step) {
    switch (step) {
        case TUpdateStep::Connecting:
            return "connect";
        case TUpdateStep::Identifying:
            return "identify";
        case TUpdateStep::ReadingCpuId:
            return "cpu-id";
        case TUpdateStep::Writing:
            return "write";
        case TUpdateStep::Closing:
            return "close";
    }
    return "connect";
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date(day);
    const hh_mm_ss clock(ms - day);
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string HexDigits(std::span<const std::uint8_t> bytes) {
    static const char* const Digits = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        hex += Digits[b >> 4];
        hex += Digits[b & 0x0F];
    }
    return hex;
}

std::optional<std::string> PrintableField(std::span<const std::uint8_t> record, std::size_t offset,
                                          std::size_t size) {
    if (record.size() < offset + size) return std::nullopt;
    std::string text;
    for (std::size_t i = offset; i < offset + size && record[i] != 0; ++i) {
        if (record[i] < 0x20 || record[i] > 0x7E) return std::nullopt;
        text += static_cast<char>(record[i]);
    }
    return text;
}

std::string AuditLine(const TAuditRecord& r) {
    const bool writing = r.step == TUpdateStep::Writing && !r.ok;
    std::string line = "{\"schema\":" + std::to_string(AuditSchema);
    line += ",\"time\":\"" + UtcTimeText(r.time) + "\"";
    line += ",\"duration_ms\":" + std::to_string(r.durationMs);
    line += ",\"station\":" + JsonString(r.station.station);
    line += ",\"operator\":" + JsonOrNull(r.station.op);
    line += ",\"tool\":" + JsonString(r.station.tool);
    line += ",\"image\":{\"version\":" + JsonString(r.image.version) +
            ",\"size\":" + std::to_string(r.image.size) +
            ",\"sha256\":" + JsonString(r.image.sha256) + "}";
    line += ",\"port\":" + JsonString(r.port);
    line += ",\"usb\":" + (r.usb ? UsbJson(*r.usb) : std::string("null"));
    line += ",\"module\":" + (r.module ? ModuleJson(*r.module) : std::string("null"));
    line += std::string(",\"result\":\"") + (r.ok ? "ok" : "error") + "\"";
    line += ",\"message\":" + JsonString(r.message);
    line += std::string(",\"step\":\"") + AuditStepName(r.step) + "\"";
    // The block it was writing when it stopped, counted from 1 as the progress does.
    line += ",\"block\":" + (writing ? std::to_string(r.blocks + 1) : std::string("null"));
    line += ",\"blocks\":" + std::to_string(r.blocks);
    line += ",\"attempt\":" + std::to_string(r.attempt);
    if (r.skipped) line += ",\"skipped\":true";
    return line + "}";
}

TAttemptRecorder::TAttemptRecorder(TAuditRecord context, TProgressSink* inner)
    : TForwardingSink(inner), record_(std::move(context)), start_(std::chrono::steady_clock::now()) {
    record_.time = std::chrono::system_clock::now();
}

void TAttemptRecorder::StepStarted(TUpdateStep step) {
    record_.step = step;
    TForwardingSink::StepStarted(step);
}

void TAttemptRecorder::Identified(std::span<const std::uint8_t> reply) {
    record_.module.emplace();
    record_.module->bootInfo.assign(reply.begin(), reply.end());
    TForwardingSink::Identified(reply);
}

void TAttemptRecorder::CpuIdRead(const std::array<std::uint8_t, 12>& cpuId) {
    if (record_.module) record_.module->cpuId = cpuId;
    TForwardingSink::CpuIdRead(cpuId);
}

void TAttemptRecorder::BlockWritten(std::uint32_t block) {
    record_.blocks = block + 1;
    TForwardingSink::BlockWritten(block);
}

TAuditRecord TAttemptRecorder::Finish(bool ok, const std::string& message) const {
    TAuditRecord record = record_;
    record.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start_)
                            .count();
    record.ok = ok;
    record.message = message;
    return record;
}

}  // namespace kordel::cli

// Records for the audit log's tests.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>

#include "AuditRecord.h"

namespace kordel::cli {

// A failed attempt with every field filled.
inline TAuditRecord SampleRecord() {
    TAuditRecord r;
    r.time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 10} + std::chrono::hours(14) +
             std::chrono::minutes(3) + std::chrono::seconds(7) + std::chrono::milliseconds(123);
    r.durationMs = 1234;
    r.station = {"bench-3", "anna", "kordel-flash 1.1.0 (firmware 1.3, 7900 bytes)"};
    r.image = {"1.3", 7900, std::string(64, 'A')};
    r.port = "/dev/ttyUSB0";
    r.usb.emplace();
    r.usb->Kind = "usb";
    r.usb->VendorId = "0403";
    r.usb->ProductId = "6001";
    r.usb->SerialNumber = "A10K3Z";
    r.usb->Manufacturer = "FTDI";
    r.usb->Location = "1-1.4";
    r.usb->Driver = "ftdi_sio";
    r.module.emplace();
    r.module->bootInfo = std::vector<std::uint8_t>(48, 0);
    const char date[] = "2026-01-15", snr[] = "SNR\x01";
    std::copy(date, date + 10, r.module->bootInfo.begin() + 16);
    std::copy(snr, snr + 4, r.module->bootInfo.begin() + 32);
    r.module->cpuId = std::array<std::uint8_t, 12>{0x31, 0x00, 0x2B, 0x00, 0x0F, 0x51,
                                                   0x36, 0x37, 0x39, 0x38, 0x37, 0xAB};
    r.ok = false;
    r.message = "Error writing Flash\r\nCRYPT ERROR";
    r.step = TUpdateStep::Writing;
    r.blocks = 4;
    r.attempt = 2;
    return r;
}

// The sample's line on `port`, as a success unless `ok` is false.
inline std::string RecordFor(const std::string& port, bool ok = true) {
    TAuditRecord r = SampleRecord();
    r.port = port;
    r.ok = ok;
    return AuditLine(r);
}

}  // namespace kordel::cli

// What the device lab checks, over what it recorded: the USB module's record of class
// requests and data (kordel-usb-module), kordel-flash's --trace, the module's flash and
// usbmon's text capture. Pure functions over text and bytes, so that the rules are tested
// on the build machine too (tests/devices/LabRecordTest.cpp).
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace kordel::lab {

using Bytes = std::vector<std::uint8_t>;

// One line of the module's record: "<microseconds> <kind> <args...>". A line "mark NAME"
// (written by the lab script) has no time; it separates the runs.
struct Event {
    long long us = 0;
    std::string kind;
    std::string args;
};
std::vector<Event> ParseRecord(std::istream& in);
// The events after the last "mark NAME"; all of them when there is no such mark.
std::vector<Event> After(const std::vector<Event>& events, const std::string& mark);

// The request frames of a --trace, one after another.
Bytes RequestBytes(std::istream& trace);

struct UpdateCheck {
    std::vector<std::string> problems;  // empty: the update looked as it must on the line
    double breakDelayMs = 0;            // from the last set-up request to break on
    double breakLengthMs = 0;
    std::optional<double> linesHighMs;  // how long DTR or RTS were up after the open
};

// The rules of one update seen from the module: 4407315 bit/s 8N1 in force, DTR and RTS
// off from the first byte to the last, one break 15 to 200 ms after the last set-up
// request and 15 to 200 ms long before the first byte, every byte the tool sent arrived
// as sent, and the flash holds the image. `all` is the whole record (the line coding may
// have been set before the run), `run` the events of this run.
UpdateCheck CheckUpdate(const std::vector<Event>& all, const std::vector<Event>& run,
                        const Bytes& sentByTool, const Bytes& flash, const Bytes& image);

// The time from the module's unplug to `endUs`, in ms; nullopt when it did not unplug.
std::optional<double> MsFromUnplug(const std::vector<Event>& run, long long endUs);

// Intervals in which DTR or RTS were up, from a usbmon text capture: cdc_acm's
// SET_CONTROL_LINE_STATE and ftdi_sio's MODEM_CTRL requests, by their submission times.
struct HighLines {
    double ms = 0;          // until both were low again; -1 when they stayed up
    unsigned raisedBy = 0;  // wValue of the request that raised them
};
std::vector<HighLines> HighLinesFromUsbmon(std::istream& capture);

}  // namespace kordel::lab

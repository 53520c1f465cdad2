// The command line's side of the port list: --list as text or JSON, and the --port
// arguments turned into the ports to flash.
#pragma once

#include <string>
#include <vector>

#include "PortList.h"

namespace kordel::cli {

// What the --port arguments name: for each port found, what its link opens
// (PortToOpen) and its entry (name, path, identity for a record of the attempt), in the
// order of the arguments, each device once; or a usage error that says what was looked
// for.
struct PortChoice {
    std::vector<std::string> ports;
    std::vector<TPortEntry> entries;  // entries[i] is the port ports[i] opens
    std::string error;                // empty on success
};
PortChoice ChoosePorts(const std::vector<std::string>& arguments, bool all,
                       const std::vector<TPortEntry>& listing);

// The --port arguments that would pick this port by what the system knows of it:
// "usb:0403:6001 serial:A1B2C3 location:1-1.4"; for a port not on USB its kind.
std::string IdentityText(const TPortIdentity& identity);

// One line per port, in the order given: name, path, IdentityText, description, in
// columns; "No serial ports found." for none. Outside text is made safe for a terminal.
std::string PortListText(const std::vector<TPortEntry>& ports);

// The identity's fields as JSON members ("kind":...,"vendorId":..., null where the
// system says nothing), without braces, for the listing and any other record of a port.
std::string IdentityJsonFields(const TPortIdentity& identity);

// The list as one JSON object on one line: {"event":"ports","ports":[...]}.
std::string PortListJson(const std::vector<TPortEntry>& ports);

}  // namespace kordel::cli

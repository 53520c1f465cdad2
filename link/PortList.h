// The serial ports present, in natural order (COM2 before COM10, ttyUSB2 before
// ttyUSB10), and the refresh that keeps a remembered port selected.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kordel {

// Natural-order comparison: -1, 0 or +1. Digit runs compare as numbers (right-aligned)
// unless one starts with 0, then as fractions (left-aligned); white space is skipped.
int NatCompare(std::string_view a, std::string_view b, bool CaseSensitive);
int CompareRight(std::string_view a, std::string_view b);
int CompareLeft(std::string_view a, std::string_view b);
int NatSortCompare(const std::vector<std::string>& List, std::size_t Index1, std::size_t Index2);

// Sorts the texts into ascending natural order, case-insensitive (not stable).
void SortPortList(std::vector<std::string>& items);

// What a person needs to recognise a port; empty where the system does not say.
struct TPortInfo {
    std::string Name;  // what Connect opens: a device path on Linux
    std::string Driver;
    std::string UsbVendorId;   // four hex digits
    std::string UsbProductId;  // four hex digits
    std::string Manufacturer;
    std::string Product;
    std::string SerialNumber;
    std::string Description() const;  // one line for a port list, empty when nothing is known
};

// Where the platform listing looks. Tests point it at a fake tree.
struct TPortListSource {
    std::string sysfsTtyRoot = "/sys/class/tty";
    std::string devDir = "/dev";
    // Extra names, colon-separated (for virtual ports such as the simulator's).
    std::optional<std::string> extraPorts;  // nullopt: the KORDEL_EXTRA_PORTS variable
};

// The longest port name a listing takes, in characters (UTF-16 code units on Windows,
// bytes elsewhere): the 256-byte value buffer of the Windows listing, terminator included.
inline constexpr std::size_t MaxPortNameLength = 127;

// Ends a listing, given in enumeration order, at its first name longer than
// MaxPortNameLength: that entry and all after it are dropped. Every platform's listing
// goes through this, so they all stop at the same place.
void EndListingAtOverlongName(std::vector<TPortInfo>& enumerated);

// The ports present, sorted alphabetically without regard to letter case; nullopt when
// the platform's list cannot be read. The platform's enumeration and the extra names
// are each ended at their first overlong name (EndListingAtOverlongName). Nothing here
// opens a device.
std::optional<std::vector<TPortInfo>> ListPortInfos(const TPortListSource& source = {});

// Replaces Ports with the names of the ports present (alphabetical, case-insensitive);
// leaves Ports as it was when the platform's list cannot be read.
void ListComPorts(std::vector<std::string>& Ports, const TPortListSource& source = {});

// A pick-only selector: its items and the selected position (-1: none).
struct TPortSelector {
    std::vector<std::string> Items;
    int ItemIndex = -1;
    std::string Text() const;
};

// List, sort, then select the first item equal to `remembered` ignoring case, else the
// first item. An empty list selects nothing.
void RefreshPortList(TPortSelector& selector, const std::string& remembered,
                     const TPortListSource& source = {});

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace kordel

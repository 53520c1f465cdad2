// The serial ports present, in natural order (COM2 before COM10, ttyUSB2 before
// ttyUSB10), the refresh that keeps a remembered port selected, and the choice of
// ports by name, USB identity, location or glob.
#pragma once

#include <cstdint>
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

// What the system knows about the hardware behind a port; empty where it does not say.
struct TPortIdentity {
    // "usb"; "pty" for a pseudo-terminal; otherwise the bus the system found the port
    // on ("platform", "pnp", "pci" on Linux; "acpi", "root" and so on on Windows), or
    // "serial" for a port the system lists without saying more.
    std::string Kind;
    std::string VendorId;   // four upper-case hex digits, "0403"
    std::string ProductId;  // four upper-case hex digits, "6001"
    std::string SerialNumber;
    std::string Manufacturer;
    std::string Product;
    // Where the device is plugged in, stable across plugging: on Linux the USB device's
    // path of hub ports ("1-1.4": bus 1, port 1, then port 4 of the hub there); on
    // Windows the location information ("Port_#0004.Hub_#0003").
    std::string Location;
    // Windows: the first location path ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)").
    std::string LocationPath;
    std::string Driver;  // the driver that serves the port (Linux), where known
    bool IsUsb() const { return Kind == "usb"; }
};

// One port of a listing.
struct TPortEntry {
    std::string Name;         // what the window shows and the user types: COM3, ttyUSB0
    std::string Path;         // the device that is opened: \\.\COM3, /dev/ttyUSB0
    std::string Description;  // one line for a person, empty when nothing is known
    TPortIdentity Identity;
};

// Where the platform listing looks. Tests point it at a fake tree.
struct TPortListSource {
    std::string sysfsTtyRoot = "/sys/class/tty";
    std::string devDir = "/dev";
    // Extra ports, colon-separated (virtual ports such as the simulator's): device paths
    // on Linux, port names on Windows.
    std::optional<std::string> extraPorts;  // nullopt: the KORDEL_EXTRA_PORTS variable
};

// The longest port name a listing takes, in characters (UTF-16 code units on Windows,
// bytes elsewhere): the 256-byte value buffer of the Windows listing, terminator included.
inline constexpr std::size_t MaxPortNameLength = 127;

// Ends a listing, given in enumeration order, at its first name longer than
// MaxPortNameLength: that entry and all after it are dropped. Every platform's listing
// goes through this, so they all stop at the same place.
void EndListingAtOverlongName(std::vector<TPortEntry>& enumerated);

// The ports present, the platform's and the extra ones, sorted alphabetically by name
// without regard to letter case; nullopt when neither the platform's list can be read
// nor extra ports are given. The platform's enumeration and the extra ports are each
// ended at their first overlong name (EndListingAtOverlongName). Nothing here opens a
// device.
std::optional<std::vector<TPortEntry>> ListPortEntries(const TPortListSource& source = {});

// The entry for a device named outside the platform's list (an extra port, a path on
// the command line), from the text alone: on Linux the text is the device path, and the
// name is that path inside the device folder ("/dev/pts/3" is "pts/3") or the whole path
// elsewhere ("/tmp/ttySIM"); on Windows the text is the name (a leading "\\.\" dropped)
// and the path "\\.\" + name.
TPortEntry EntryForDevice(const std::string& text, const TPortListSource& source = {});

// Whether a --port text that names no listed port still names a device to open: on
// Linux a path (it holds a '/'); on Windows every name, since "\\.\" + name is a device.
bool NamesDeviceOutsideListing(const std::string& text);

// The text the port layer's Port setting takes to open the entry: on Linux its path; on
// Windows its name, to which the port layer puts "\\.\" in front (the entry's Path).
std::string PortToOpen(const TPortEntry& entry);

// Replaces Ports with the names of the ports present (alphabetical, case-insensitive);
// leaves Ports as it was when the platform's list cannot be read.
void ListComPorts(std::vector<std::string>& Ports, const TPortListSource& source = {});

// Sorts the entries into ascending natural order of their names, case-insensitive, by
// the same sort as the texts (not stable).
void SortPortList(std::vector<TPortEntry>& items);

// A pick-only selector: its entries and the selected position (-1: none).
struct TPortSelector {
    std::vector<TPortEntry> Items;
    int ItemIndex = -1;
    const TPortEntry* Selected() const;
    std::string Text() const;  // the selected entry's name, empty when none
};

// Whether a remembered or typed text names the entry: its name, or its path as earlier
// versions saved it, without regard to letter case.
bool NamesPort(const TPortEntry& entry, std::string_view text);

// Selects the first item that `remembered` names (NamesPort), else the first item. An
// empty list selects nothing.
void SelectRemembered(TPortSelector& selector, const std::string& remembered);

// List, sort, then select the remembered port (SelectRemembered). A list that cannot be
// read leaves the selector's entries as they were.
void RefreshPortList(TPortSelector& selector, const std::string& remembered,
                     const TPortListSource& source = {});

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// --------------------------------------------------------------- choosing ports

// What one --port argument looks for:
//   usb:VID:PID     vendor and product id, four hex digits each, any letter case
//   serial:TEXT     the USB serial number, without regard to letter case
//   location:PATH   the location (Linux "1-1.4"; Windows location information or path)
//   a glob          a text with *, ? or a set [...]: matched against each path and each
//                   name; * and ? never match a '/'
//   anything else   a port's name or path (NamesPort); an exact match, letter case
//                   included, wins over the others
struct TPortPattern {
    enum class TKind { Name, Usb, Serial, Location, Glob };
    TKind Kind = TKind::Name;
    std::string Text;                 // the argument as given
    std::string Value;                // the name, serial number, location or glob
    std::string VendorId, ProductId;  // for usb:, upper case
};

// nullopt, with what is wrong in `error`, for a malformed argument.
std::optional<TPortPattern> ParsePortPattern(const std::string& argument, std::string& error);

// Whether the entry matches the pattern; looks at nothing but the two.
bool PortMatches(const TPortPattern& pattern, const TPortEntry& entry);

// The entries of the listing that match, in listing order, each device (path) once; for
// a name, the exact matches alone when there are any.
std::vector<TPortEntry> MatchingPorts(const TPortPattern& pattern,
                                      const std::vector<TPortEntry>& listing);

// Shell-style matching of the whole text: * any run of characters, ? one character
// (neither matches '/'), [abc], [a-z] and [!abc] one character of a set.
bool GlobMatch(std::string_view pattern, std::string_view text);

// What one --port argument turns into on a normal run: one port, every match of a glob
// (or of any pattern when `all`), or, for a name that no listed port has but that names
// a device itself (NamesDeviceOutsideListing), that device. Otherwise Error says what
// was looked for: nothing matched, or several ports did (and lists them).
struct TPortResolution {
    std::vector<TPortEntry> Ports;
    std::string Error;  // empty on success
};
TPortResolution ResolvePortArgument(const std::string& argument,
                                    const std::vector<TPortEntry>& listing, bool all,
                                    const TPortListSource& source = {});

}  // namespace kordel

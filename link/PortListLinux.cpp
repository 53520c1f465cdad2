// The Linux list of serial ports: the ttys under /sys/class/tty that have a device
// behind them (USB serial, CDC-ACM, platform UARTs). A tty's name is its name in sysfs
// (ttyUSB0), its path that name in the device folder (/dev/ttyUSB0); everything else
// comes from sysfs too, so listing never opens a device.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "PortList.h"
#include "UniqueFd.h"

namespace kordel {

namespace fs = std::filesystem;

namespace {

// Attributes are short texts; anything longer is cut here, so that a strange file in
// the tree cannot make the listing read without end.
constexpr std::size_t MaxAttributeBytes = 256;
// How far up from a tty's device its USB device or bus may sit (ttyUSB0, its USB
// interface, the USB device; or the serial core's port and controller devices).
constexpr int MaxLevels = 5;
// The kernel's device numbers of pseudo-terminal slaves (UNIX98_PTY_SLAVE_MAJOR and the
// seven majors after it).
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;

// The attribute's first line, without trailing white space.
std::string ReadAttribute(const fs::path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) return {};
    std::array<char, MaxAttributeBytes> buffer{};
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got <= 0) return {};
    std::string line(buffer.data(), static_cast<std::size_t>(got));
    line.resize(std::min(line.size(), line.find('\n')));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The name of the bus a sysfs device sits on: where its "subsystem" link points.
std::string SubsystemOf(const fs::path& deviceDir) {
    std::error_code ec;
    const fs::path link = fs::read_symlink(deviceDir / "subsystem", ec);
    return ec ? std::string() : link.filename().string();
}

// Fills the USB fields from the first ancestor of the tty's device that is a USB device
// (the one with idVendor); its folder's name is its path of hub ports ("1-1.4").
bool AddUsbIdentity(const fs::path& device, TPortIdentity& id) {
    std::error_code ec;
    fs::path dir = device;
    for (int level = 0; level < MaxLevels && !dir.empty() && dir != dir.root_path();
         ++level, dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        id.Kind = "usb";
        id.VendorId = Upper(ReadAttribute(dir / "idVendor"));
        id.ProductId = Upper(ReadAttribute(dir / "idProduct"));
        id.Manufacturer = ReadAttribute(dir / "manufacturer");
        id.Product = ReadAttribute(dir / "product");
        id.SerialNumber = ReadAttribute(dir / "serial");
        id.Location = dir.filename().string();
        return true;
    }
    return false;
}

// The bus of a port that is not on USB: that of the device that found the hardware,
// past the serial core's own "port" and "ctrl" devices of newer kernels.
std::string BusKind(const fs::path& device) {
    fs::path dir = device;
    for (int level = 0; level < MaxLevels && !dir.empty(); ++level, dir = dir.parent_path()) {
        const std::string bus = SubsystemOf(dir);
        if (!bus.empty() && bus != "serial-base") return bus;
    }
    return "serial";
}

// The driver that stands for the port, past the serial core's own devices likewise.
std::string DriverName(const fs::path& device) {
    std::error_code ec;
    fs::path dir = device;
    for (int level = 0; level < 4 && !dir.empty(); ++level, dir = dir.parent_path()) {
        const fs::path driver = fs::read_symlink(dir / "driver", ec);
        if (!ec && driver.string().find("/serial-base/") == std::string::npos) {
            return driver.filename().string();
        }
        ec.clear();
    }
    return {};
}

std::string DescriptionOf(const TPortIdentity& id) {
    std::string text = id.Manufacturer;
    if (!id.Product.empty()) text += (text.empty() ? "" : " ") + id.Product;
    if (text.empty() && !id.Driver.empty()) text = "(" + id.Driver + ")";
    return text;
}

TPortEntry EntryOfTty(const fs::path& tty, const fs::path& deviceLink,
                      const TPortListSource& source) {
    TPortEntry entry;
    entry.Name = tty.filename().string();
    entry.Path = (fs::path(source.devDir) / entry.Name).string();
    std::error_code ec;
    const fs::path device = fs::canonical(deviceLink, ec);
    if (!ec) {
        entry.Identity.Driver = DriverName(device);
        if (!AddUsbIdentity(device, entry.Identity)) entry.Identity.Kind = BusKind(device);
    } else {
        entry.Identity.Kind = "serial";
    }
    entry.Description = DescriptionOf(entry.Identity);
    return entry;
}

}  // namespace

// Whether a tty of the serial core has a UART behind it, from sysfs alone: opening the
// device to ask would raise DTR and RTS, which resets some attached boards. The serial
// core's "type" attribute is the UART type the driver found, 0 (PORT_UNKNOWN) for the
// placeholders that the 8250 driver registers for every possible legacy port. A tty
// without the attribute (not a serial-core port, or a kernel before it existed) is
// listed: nothing here can tell, and opening it is Connect's business.
bool HasUart(const fs::path& ttyDir) {
    std::error_code ec;
    const fs::path type = ttyDir / "type";
    if (!fs::exists(type, ec)) return true;
    return ReadAttribute(type) != "0";
}

std::optional<std::vector<TPortEntry>> PlatformPortEntries(const TPortListSource& source) {
    std::error_code ec;
    fs::directory_iterator it(source.sysfsTtyRoot, ec);
    if (ec) return std::nullopt;
    // The enumeration goes by name, so that where a listing ends does not depend on the
    // order in which the directory happens to list its entries.
    std::vector<fs::path> ttys;
    for (const auto& entry : it) ttys.push_back(entry.path());
    std::sort(ttys.begin(), ttys.end());
    std::vector<TPortEntry> ports;
    for (const auto& tty : ttys) {
        const fs::path device = tty / "device";
        if (!fs::exists(device, ec)) continue;  // virtual consoles, ptys and the like
        if (!HasUart(tty)) continue;
        ports.push_back(EntryOfTty(tty, device, source));
    }
    return ports;
}

// A pseudo-terminal (the simulator's) is told by its device number; stat asks the file
// system, not the device.
TPortIdentity IdentityOfExtraPort(const std::string& path) {
    TPortIdentity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
        ::major(st.st_rdev) >= PtySlaveMajorFirst && ::major(st.st_rdev) <= PtySlaveMajorLast) {
        id.Kind = "pty";
    }
    return id;
}

TPortEntry EntryForDevice(const std::string& text, const TPortListSource& source) {
    TPortEntry entry;
    entry.Path = text;
    std::string folder = source.devDir;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    const bool inFolder = !folder.empty() && text.size() > folder.size() &&
                          text.compare(0, folder.size(), folder) == 0;
    entry.Name = inFolder ? text.substr(folder.size()) : text;
    return entry;
}

bool NamesDeviceOutsideListing(const std::string& text) {
    return text.find('/') != std::string::npos;
}

std::string PortToOpen(const TPortEntry& entry) {
    return entry.Path;
}

}  // namespace kordel

// The Linux list of serial ports: the ttys under /sys/class/tty that have a device
// behind them (USB serial, CDC-ACM, platform UARTs), named /dev/NAME.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "PortList.h"

namespace kordel {

namespace fs = std::filesystem;

namespace {

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

// Fills the USB fields from the first ancestor of the tty's device that is a USB device.
void AddUsbDetails(const fs::path& deviceDir, TPortInfo& info) {
    std::error_code ec;
    fs::path dir = fs::canonical(deviceDir, ec);
    if (ec) return;
    for (int level = 0; level < 5 && !dir.empty() && dir != dir.root_path(); ++level) {
        if (fs::exists(dir / "idVendor", ec)) {
            info.UsbVendorId = ReadAttribute(dir / "idVendor");
            info.UsbProductId = ReadAttribute(dir / "idProduct");
            info.Manufacturer = ReadAttribute(dir / "manufacturer");
            info.Product = ReadAttribute(dir / "product");
            info.SerialNumber = ReadAttribute(dir / "serial");
            return;
        }
        dir = dir.parent_path();
    }
}

// The driver that stands for the port: the serial core's own "port" and "ctrl" devices
// (newer kernels) sit between the tty and the driver that found the hardware.
std::string DriverName(const fs::path& deviceDir) {
    std::error_code ec;
    fs::path dir = fs::canonical(deviceDir, ec);
    for (int level = 0; level < 4 && !ec && !dir.empty(); ++level) {
        const fs::path driver = fs::read_symlink(dir / "driver", ec);
        if (!ec && driver.string().find("/serial-base/") == std::string::npos) {
            return driver.filename().string();
        }
        ec.clear();
        dir = dir.parent_path();
    }
    return {};
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

std::optional<std::vector<TPortInfo>> PlatformPortInfos(const TPortListSource& source) {
    std::error_code ec;
    fs::directory_iterator it(source.sysfsTtyRoot, ec);
    if (ec) return std::nullopt;
    // The enumeration goes by name, so that where a listing ends does not depend on the
    // order in which the directory happens to list its entries.
    std::vector<fs::path> ttys;
    for (const auto& entry : it) ttys.push_back(entry.path());
    std::sort(ttys.begin(), ttys.end());
    std::vector<TPortInfo> ports;
    for (const auto& tty : ttys) {
        const fs::path device = tty / "device";
        if (!fs::exists(device, ec)) continue;  // virtual consoles, ptys and the like
        if (!HasUart(tty)) continue;
        TPortInfo info;
        info.Name = (fs::path(source.devDir) / tty.filename()).string();
        info.Driver = DriverName(device);
        AddUsbDetails(device, info);
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace kordel

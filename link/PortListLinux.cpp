// The Linux list of serial ports: the ttys under /sys/class/tty that have a device
// behind them (USB serial, CDC-ACM, platform UARTs), named /dev/NAME.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>

#include "PortList.h"
#include "UniqueFd.h"

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

// The 8250 driver registers a tty for every possible legacy port; only those where
// the driver found a UART are real.
bool UartPresent(const std::string& devPath) {
    UniqueFd fd(::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return false;
    serial_struct ss{};
    return ::ioctl(fd.get(), TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
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

std::optional<std::vector<TPortInfo>> PlatformPortInfos(const TPortListSource& source) {
    std::error_code ec;
    fs::directory_iterator it(source.sysfsTtyRoot, ec);
    if (ec) return std::nullopt;
    std::vector<TPortInfo> ports;
    for (const auto& entry : it) {
        const fs::path device = entry.path() / "device";
        if (!fs::exists(device, ec)) continue;  // virtual consoles, ptys and the like
        TPortInfo info;
        const std::string name = entry.path().filename().string();
        info.Name = (fs::path(source.devDir) / name).string();
        info.Driver = DriverName(device);
        // Serial-core ports tell their UART type; 0 means no UART was found there.
        const fs::path type = entry.path() / "type";
        if (fs::exists(type, ec)) {
            if (ReadAttribute(type) == "0") continue;
        } else if (info.Driver == "serial8250") {
            const auto& present = source.uartPresent ? source.uartPresent : UartPresent;
            if (!present(info.Name)) continue;
        }
        AddUsbDetails(device, info);
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace kordel

// The Windows list of serial ports: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
// whose data are the port names (COM3, ...); a port's path is "\\.\" + its name. What
// the system knows of the hardware behind each port comes from SetupAPI: the devices
// of the Ports class, matched to the names by their PortName value, and the USB device
// above each.
#include <windows.h>
// After <windows.h>:
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>

#include "PortList.h"
#include "TextWin32.h"
#include "UniqueHandleWin32.h"

namespace kordel {

namespace {

// A value name of up to 255 UTF-16 code units, value data of up to 256 bytes with the
// terminator: a port name of at most 127 code units. A value that does not fit ends
// the listing (ERROR_MORE_DATA) like the end of the values does.
constexpr DWORD ValueNameUnits = 256;
constexpr DWORD ValueDataBytes = 256;
// Device properties are short texts; a longer one is left out.
constexpr DWORD MaxPropertyBytes = 4096;
// How far up from a port's device its USB device may sit (an interface of a composite
// device, or a driver's own bus such as FTDIBUS, between the two).
constexpr int MaxLevels = 4;

const wchar_t* const DevicePrefix = L"\\\\.\\";

// The key at `path` under `root`, opened for reading; empty when it cannot be opened.
TRegKeyHandle OpenKeyForReading(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return TRegKeyHandle(key);
}

// The value's data as text, up to its first NUL.
std::wstring DataText(const BYTE* data, DWORD bytes) {
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    std::copy_n(data, text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(text.data()));
    text.resize(std::min(text.size(), text.find(L'\0')));
    return text;
}

std::wstring UpperCase(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// ---------------------------------------------------------------- SetupAPI

// setupapi.dll is loaded when first needed, from the system folder only, so that a DLL
// of that name beside the program or in the current folder is never loaded instead.
// The library stays loaded for the rest of the process.
struct TSetupApi {
    decltype(&::SetupDiGetClassDevsW) GetClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInfo) EnumDeviceInfo = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) DestroyList = nullptr;
    decltype(&::SetupDiCreateDeviceInfoList) CreateList = nullptr;
    decltype(&::SetupDiOpenDeviceInfoW) OpenDeviceInfo = nullptr;
    decltype(&::SetupDiOpenDevRegKey) OpenDevRegKey = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) GetRegistryProperty = nullptr;
    decltype(&::SetupDiGetDevicePropertyW) GetProperty = nullptr;
    decltype(&::CM_Get_Parent) GetParent = nullptr;
    decltype(&::CM_Get_Device_IDW) GetDeviceId = nullptr;

    // nullptr when the library or one of its functions is not there.
    static const TSetupApi* Get() {
        static const std::unique_ptr<TSetupApi> api = Load();
        return api.get();
    }

  private:
    template <typename Function>
    static bool Find(HMODULE library, const char* name, Function& function) {
        // FARPROC stands for every kind of function; the name says which it is.
        function =
            reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
        return function != nullptr;
    }

    static std::unique_ptr<TSetupApi> Load() {
        const HMODULE library =
            ::LoadLibraryExW(L"setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!library) return nullptr;
        auto api = std::make_unique<TSetupApi>();
        const bool all =
            Find(library, "SetupDiGetClassDevsW", api->GetClassDevs) &&
            Find(library, "SetupDiEnumDeviceInfo", api->EnumDeviceInfo) &&
            Find(library, "SetupDiDestroyDeviceInfoList", api->DestroyList) &&
            Find(library, "SetupDiCreateDeviceInfoList", api->CreateList) &&
            Find(library, "SetupDiOpenDeviceInfoW", api->OpenDeviceInfo) &&
            Find(library, "SetupDiOpenDevRegKey", api->OpenDevRegKey) &&
            Find(library, "SetupDiGetDeviceRegistryPropertyW", api->GetRegistryProperty) &&
            Find(library, "SetupDiGetDevicePropertyW", api->GetProperty) &&
            Find(library, "CM_Get_Parent", api->GetParent) &&
            Find(library, "CM_Get_Device_IDW", api->GetDeviceId);
        if (!all) return nullptr;
        return api;
    }
};

// {4D36E978-E325-11CE-BFC1-08002BE10318}: the setup class of serial and parallel ports.
constexpr GUID PortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// The product text the device itself reports (its USB product string).
constexpr DEVPROPKEY BusReportedDeviceDesc = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// Destroys a device information set through setupapi, which is loaded at run time.
struct TDeviceSetDeleter {
    using pointer = HDEVINFO;
    const TSetupApi* api;
    void operator()(HDEVINFO set) const noexcept { api->DestroyList(set); }
};
using TDeviceSet = UniqueHandle<TDeviceSetDeleter>;

TDeviceSet OwnedDeviceSet(const TSetupApi& api, HDEVINFO set) {
    return OwnedOrEmpty<TDeviceSet>(set, TDeviceSetDeleter{&api});
}

// One device of a set, with the questions the listing asks of it.
class TDevice {
  public:
    TDevice(const TSetupApi& api, HDEVINFO set, SP_DEVINFO_DATA data)
        : api_(api), set_(set), data_(data) {}

    DEVINST Node() const { return data_.DevInst; }

    // A text property (the first text of a list of them); empty when there is none.
    std::wstring RegistryText(DWORD property) const {
        std::array<BYTE, MaxPropertyBytes> buffer{};
        DWORD type = 0;
        DWORD size = 0;
        if (!api_.GetRegistryProperty(set_, const_cast<SP_DEVINFO_DATA*>(&data_), property, &type,
                                      buffer.data(), buffer.size() - sizeof(wchar_t), &size) ||
            (type != REG_SZ && type != REG_MULTI_SZ)) {
            return {};
        }
        return DataText(buffer.data(), size);
    }

    std::wstring PropertyText(const DEVPROPKEY& key) const {
        std::array<BYTE, MaxPropertyBytes> buffer{};
        DEVPROPTYPE type = 0;
        DWORD size = 0;
        if (!api_.GetProperty(set_, const_cast<SP_DEVINFO_DATA*>(&data_), &key, &type,
                              buffer.data(), buffer.size() - sizeof(wchar_t), &size, 0) ||
            type != DEVPROP_TYPE_STRING) {
            return {};
        }
        return DataText(buffer.data(), size);
    }

    // The port name that the device's own registry key gives it.
    std::wstring PortName() const {
        const auto key = OwnedOrEmpty<TRegKeyHandle>(
            api_.OpenDevRegKey(set_, const_cast<SP_DEVINFO_DATA*>(&data_), DICS_FLAG_GLOBAL, 0,
                               DIREG_DEV, KEY_READ));
        if (!key) return {};
        std::array<BYTE, ValueDataBytes> data{};
        DWORD type = 0;
        DWORD bytes = data.size() - sizeof(wchar_t);
        if (::RegQueryValueExW(key.get(), L"PortName", nullptr, &type, data.data(), &bytes) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            return {};
        }
        return DataText(data.data(), bytes);
    }

  private:
    const TSetupApi& api_;
    HDEVINFO set_;
    SP_DEVINFO_DATA data_;
};

std::wstring DeviceId(const TSetupApi& api, DEVINST node) {
    std::array<wchar_t, MAX_DEVICE_ID_LEN + 1> id{};
    if (api.GetDeviceId(node, id.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    return id.data();
}

// The four hex digits after "VID_" or "PID_" in a device id, upper case.
std::string IdField(const std::wstring& deviceId, const wchar_t* field) {
    const std::wstring upper = UpperCase(deviceId);
    const std::size_t at = upper.find(field);
    if (at == std::wstring::npos || upper.size() < at + 8) return {};
    return Utf16ToUtf8(upper.substr(at + 4, 4));
}

bool StartsWithUsb(const std::wstring& deviceId) {
    return UpperCase(deviceId.substr(0, 4)) == L"USB\\";
}

// What a USB device's own node says: its ids, its serial number (the last part of its
// id, unless Windows made that part up, which it writes with a '&'), its product text
// and where it is plugged in.
void AddUsbDevice(const TSetupApi& api, const std::wstring& deviceId, TPortIdentity& id) {
    id.Kind = "usb";
    id.VendorId = IdField(deviceId, L"VID_");
    id.ProductId = IdField(deviceId, L"PID_");
    const std::wstring last = deviceId.substr(deviceId.rfind(L'\\') + 1);
    if (last.find(L'&') == std::wstring::npos) id.SerialNumber = Utf16ToUtf8(last);
    const TDeviceSet set = OwnedDeviceSet(api, api.CreateList(nullptr, nullptr));
    if (!set) return;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (!api.OpenDeviceInfo(set.get(), deviceId.c_str(), nullptr, 0, &data)) return;
    const TDevice device(api, set.get(), data);
    id.Product = Utf16ToUtf8(device.PropertyText(BusReportedDeviceDesc));
    id.Location = Utf16ToUtf8(device.RegistryText(SPDRP_LOCATION_INFORMATION));
    id.LocationPath = Utf16ToUtf8(device.RegistryText(SPDRP_LOCATION_PATHS));
}

// Walks up from the port's node to the USB device, past the interface node of a
// composite device (its id holds "&MI_") and a driver's own bus node (FTDIBUS\...). A
// port without a USB device above it is of the kind its enumerator names (ACPI, PCI,
// ROOT for a virtual port...).
TPortIdentity IdentityOf(const TSetupApi& api, const TDevice& port) {
    TPortIdentity id;
    id.Manufacturer = Utf16ToUtf8(port.RegistryText(SPDRP_MFG));
    DEVINST node = port.Node();
    for (int level = 0; level < MaxLevels; ++level) {
        const std::wstring deviceId = DeviceId(api, node);
        if (level == 0) id.Kind = LowerCase(Utf16ToUtf8(deviceId.substr(0, deviceId.find(L'\\'))));
        if (StartsWithUsb(deviceId)) {
            const bool composite = UpperCase(deviceId).find(L"&MI_") != std::wstring::npos;
            if (!composite) {
                AddUsbDevice(api, deviceId, id);
                break;
            }
            // The interface's ids stand until its device is found.
            id.Kind = "usb";
            id.VendorId = IdField(deviceId, L"VID_");
            id.ProductId = IdField(deviceId, L"PID_");
        }
        DEVINST parent = 0;
        if (api.GetParent(&parent, node, 0) != CR_SUCCESS) break;
        node = parent;
    }
    if (id.Kind.empty()) id.Kind = "serial";
    return id;
}

struct TKnownPort {
    TPortIdentity identity;
    std::string description;
};

// What SetupAPI knows of each present port, by upper-case port name.
std::map<std::wstring, TKnownPort> KnownPorts() {
    std::map<std::wstring, TKnownPort> known;
    const TSetupApi* api = TSetupApi::Get();
    if (!api) return known;
    const TDeviceSet set =
        OwnedDeviceSet(*api, api->GetClassDevs(&PortsClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) return known;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        if (!api->EnumDeviceInfo(set.get(), index, &data)) break;
        const TDevice device(*api, set.get(), data);
        const std::wstring name = device.PortName();
        if (name.empty()) continue;
        TKnownPort port{IdentityOf(*api, device), {}};
        std::wstring description = device.RegistryText(SPDRP_FRIENDLYNAME);
        if (description.empty()) description = device.RegistryText(SPDRP_DEVICEDESC);
        port.description = Utf16ToUtf8(description);
        known.emplace(UpperCase(name), std::move(port));
    }
    return known;
}

// ---------------------------------------------------------------- the registry list

std::optional<std::vector<std::wstring>> RegisteredNames() {
    const TRegKeyHandle key = OpenKeyForReading(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
    if (!key) return std::nullopt;
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        std::array<wchar_t, ValueNameUnits> valueName{};
        std::array<BYTE, ValueDataBytes> data{};
        DWORD nameUnits = ValueNameUnits;
        DWORD dataBytes = ValueDataBytes;
        if (::RegEnumValueW(key.get(), index, valueName.data(), &nameUnits, nullptr, nullptr,
                            data.data(), &dataBytes) != ERROR_SUCCESS) {
            break;  // normally ERROR_NO_MORE_ITEMS; any failure keeps the names so far
        }
        names.push_back(DataText(data.data(), dataBytes));
    }
    // The platform's own alphabetical order, ignoring case; duplicates stay.
    std::stable_sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::lstrcmpiW(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

}  // namespace

std::optional<std::vector<TPortEntry>> PlatformPortEntries(const TPortListSource& source) {
    const auto names = RegisteredNames();
    if (!names) return std::nullopt;
    const auto known = names->empty() ? std::map<std::wstring, TKnownPort>() : KnownPorts();
    std::vector<TPortEntry> ports;
    for (const auto& name : *names) {
        TPortEntry entry = EntryForDevice(Utf16ToUtf8(name), source);
        const auto found = known.find(UpperCase(name));
        if (found != known.end()) {
            entry.Identity = found->second.identity;
            entry.Description = found->second.description;
        } else {
            entry.Identity.Kind = "serial";
        }
        ports.push_back(std::move(entry));
    }
    return ports;
}

// An extra port is a name the system may not know: nothing to add.
TPortIdentity IdentityOfExtraPort(const std::string&) {
    return {};
}

TPortEntry EntryForDevice(const std::string& text, const TPortListSource&) {
    const std::string prefix = Utf16ToUtf8(DevicePrefix);
    TPortEntry entry;
    const bool hasPrefix =
        text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
    entry.Name = hasPrefix ? text.substr(prefix.size()) : text;
    entry.Path = prefix + entry.Name;
    return entry;
}

bool NamesDeviceOutsideListing(const std::string&) {
    return true;
}

std::string PortToOpen(const TPortEntry& entry) {
    return entry.Name;
}

}  // namespace kordel

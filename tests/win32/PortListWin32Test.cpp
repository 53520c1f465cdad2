// The Windows port listing under wine: the registry's names with "\\.\" + name as
// their path, and the identity that SetupAPI gives a port of the Ports class. Wine has
// no real USB serial devices, so the test makes one in SetupAPI's device tree (as an
// installer would) and removes it again.
// The core's headers come before <windows.h>: its macros (MAXDWORD) would change them.
#include "PortList.h"

#include <windows.h>
// After <windows.h>:
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kordel {
namespace {

const wchar_t* const SerialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr GUID PortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The registry's list of ports replaced by the test's for as long as it lives; the
// values that were there come back afterwards.
class RegisteredPorts {
  public:
    explicit RegisteredPorts(const std::vector<std::wstring>& names) {
        HKEY key = nullptr;
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr);
        key_ = key;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            BYTE data[256];
            DWORD nameUnits = 256, bytes = sizeof data, type = 0;
            if (::RegEnumValueW(key_, index, name, &nameUnits, nullptr, &type, data, &bytes) !=
                ERROR_SUCCESS) {
                break;
            }
            saved_.push_back({name, std::wstring(reinterpret_cast<wchar_t*>(data), bytes / 2)});
        }
        for (const auto& v : saved_) ::RegDeleteValueW(key_, v.first.c_str());
        int i = 0;
        for (const auto& name : names) Set(L"\\Device\\KordelTest" + std::to_wstring(++i), name);
    }
    ~RegisteredPorts() {
        for (DWORD index = 0;;) {
            wchar_t name[256];
            DWORD nameUnits = 256;
            if (::RegEnumValueW(key_, index, name, &nameUnits, nullptr, nullptr, nullptr,
                                nullptr) != ERROR_SUCCESS) {
                break;
            }
            ::RegDeleteValueW(key_, name);
        }
        for (const auto& v : saved_) Set(v.first, v.second.c_str());
        ::RegCloseKey(key_);
    }

  private:
    void Set(const std::wstring& value, const std::wstring& data) {
        ::RegSetValueExW(key_, value.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }

    HKEY key_ = nullptr;
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

// A device of the Ports class in SetupAPI's tree, under the given instance id, with its
// port name and the properties an installed driver would give it.
class PortsDevice {
  public:
    PortsDevice(const std::wstring& instanceId, const std::wstring& portName) {
        set_ = ::SetupDiCreateDeviceInfoList(&PortsClass, nullptr);
        data_.cbSize = sizeof data_;
        created_ = ::SetupDiCreateDeviceInfoW(set_, instanceId.c_str(), &PortsClass, nullptr,
                                              nullptr, 0, &data_) &&
                   ::SetupDiRegisterDeviceInfo(set_, &data_, 0, nullptr, nullptr, nullptr);
        if (!created_) return;
        HKEY key = ::SetupDiCreateDevRegKeyW(set_, &data_, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr,
                                             nullptr);
        if (key != INVALID_HANDLE_VALUE) {
            ::RegSetValueExW(key, L"PortName", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(portName.c_str()),
                             static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t)));
            ::RegCloseKey(key);
        }
    }
    ~PortsDevice() {
        if (created_) ::SetupDiRemoveDevice(set_, &data_);
        ::SetupDiDestroyDeviceInfoList(set_);
    }
    bool Created() const { return created_; }
    void SetText(DWORD property, const std::wstring& text) {
        ::SetupDiSetDeviceRegistryPropertyW(
            set_, &data_, property, reinterpret_cast<const BYTE*>(text.c_str()),
            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

  private:
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA data_{};
    bool created_ = false;
};

const TPortEntry* Find(const std::vector<TPortEntry>& entries, const std::string& name) {
    for (const auto& e : entries) {
        if (e.Name == name) return &e;
    }
    return nullptr;
}

TPortListSource NoExtras() {
    TPortListSource source;
    source.extraPorts = "";
    return source;
}

TEST(PortListWin32Test, RegisteredNamesOpenInTheDeviceNamespace) {
    RegisteredPorts ports({L"COM12", L"COM3", L"com3", L"CNCA0"});
    const auto entries = ListPortEntries(NoExtras());
    ASSERT_TRUE(entries);
    std::vector<std::string> names;
    for (const auto& e : *entries) {
        names.push_back(e.Name);
        EXPECT_EQ(e.Path, "\\\\.\\" + e.Name);
        EXPECT_EQ(PortToOpen(e), e.Name) << "the port layer puts \\\\.\\ in front itself";
        EXPECT_EQ(e.Identity.Kind, "serial") << e.Name << ": SetupAPI does not know it";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"CNCA0", "COM12", "COM3", "com3"}));
}

TEST(PortListWin32Test, SetupApiDeviceGivesTheUsbIdentity) {
    RegisteredPorts ports({L"COM21", L"COM22", L"COM23"});
    PortsDevice usb(L"USB\\VID_0403&PID_6001\\KORDEL0001", L"COM21");
    ASSERT_TRUE(usb.Created()) << "SetupAPI made no device: error " << ::GetLastError();
    usb.SetText(SPDRP_FRIENDLYNAME, L"USB Serial Port (COM21)");
    usb.SetText(SPDRP_MFG, L"FTDI");
    usb.SetText(SPDRP_LOCATION_INFORMATION, L"Port_#0004.Hub_#0003");
    // A composite device's interface: ids, but no serial number in the id.
    PortsDevice acm(L"USB\\VID_2341&PID_0043&MI_00\\6&1A2B3C4D&0&0000", L"COM22");
    ASSERT_TRUE(acm.Created());
    // A device without a serial number: Windows makes up the last part of its id.
    PortsDevice plain(L"USB\\VID_067B&PID_23A3\\5&2F1C3E&0&2", L"COM23");
    ASSERT_TRUE(plain.Created());

    const auto entries = ListPortEntries(NoExtras());
    ASSERT_TRUE(entries);
    const TPortEntry* ftdi = Find(*entries, "COM21");
    ASSERT_NE(ftdi, nullptr);
    EXPECT_EQ(ftdi->Path, "\\\\.\\COM21");
    EXPECT_EQ(ftdi->Description, "USB Serial Port (COM21)");
    EXPECT_EQ(ftdi->Identity.Kind, "usb");
    EXPECT_EQ(ftdi->Identity.VendorId, "0403");
    EXPECT_EQ(ftdi->Identity.ProductId, "6001");
    EXPECT_EQ(ftdi->Identity.SerialNumber, "KORDEL0001");
    EXPECT_EQ(ftdi->Identity.Manufacturer, "FTDI");
    EXPECT_EQ(ftdi->Identity.Location, "Port_#0004.Hub_#0003");

    const TPortEntry* composite = Find(*entries, "COM22");
    ASSERT_NE(composite, nullptr);
    EXPECT_EQ(composite->Identity.VendorId, "2341");
    EXPECT_EQ(composite->Identity.SerialNumber, "");
    const TPortEntry* noSerial = Find(*entries, "COM23");
    ASSERT_NE(noSerial, nullptr);
    EXPECT_EQ(noSerial->Identity.VendorId, "067B");
    EXPECT_EQ(noSerial->Identity.ProductId, "23A3");
    EXPECT_EQ(noSerial->Identity.SerialNumber, "") << "Windows made that part of the id up";

    std::string error;
    const auto pattern = ParsePortPattern("location:port_#0004.hub_#0003", error);
    ASSERT_TRUE(pattern);
    const auto chosen = MatchingPorts(*pattern, *entries);
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].Name, "COM21");
}

}  // namespace
}  // namespace kordel

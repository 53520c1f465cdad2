// The Windows list of serial ports: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
// whose data are the port names (COM3, ...).
#include <windows.h>

#include <algorithm>
#include <array>

#include "PortList.h"
#include "TextWin32.h"

namespace kordel {

namespace {

// A value name of up to 255 UTF-16 code units, value data of up to 256 bytes with the
// terminator: a port name of at most 127 code units. A value that does not fit ends
// the listing (ERROR_MORE_DATA) like the end of the values does.
constexpr DWORD ValueNameUnits = 256;
constexpr DWORD ValueDataBytes = 256;

class TRegKey {
  public:
    ~TRegKey() {
        if (key_) ::RegCloseKey(key_);
    }
    bool Open(HKEY root, const wchar_t* path) {
        return ::RegOpenKeyExW(root, path, 0, KEY_READ, &key_) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// The value's data as text, up to its first NUL.
std::wstring DataText(const std::array<BYTE, ValueDataBytes>& data, DWORD bytes) {
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    std::copy_n(data.begin(), text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(text.data()));
    text.resize(std::min(text.size(), text.find(L'\0')));
    return text;
}

}  // namespace

std::optional<std::vector<TPortInfo>> PlatformPortInfos(const TPortListSource&) {
    TRegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM")) return std::nullopt;
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
        names.push_back(DataText(data, dataBytes));
    }
    // The platform's own alphabetical order, ignoring case; duplicates stay.
    std::stable_sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::lstrcmpiW(a.c_str(), b.c_str()) < 0;
    });
    std::vector<TPortInfo> ports;
    for (const auto& name : names) {
        TPortInfo info;
        info.Name = Utf16ToUtf8(name);
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace kordel

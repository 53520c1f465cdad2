// On Windows the resources are those of the running executable, compiled in from
// resources/kordel.rc, and viewed in place where the loader mapped them.
#include <windows.h>

#include <optional>

#include "Resources.h"
#include "TextWin32.h"

namespace kordel {

std::optional<std::span<const std::uint8_t>> PlatformFindResource(std::string_view name,
                                                                   std::string_view type) {
    const std::wstring wideName = Utf8ToUtf16(name);
    const std::wstring wideType = Utf8ToUtf16(type);
    HRSRC info = ::FindResourceW(nullptr, wideName.c_str(), wideType.c_str());
    if (!info) return std::nullopt;
    HGLOBAL loaded = ::LoadResource(nullptr, info);
    if (!loaded) return std::nullopt;
    const void* bytes = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(nullptr, info);
    if (!bytes) return std::nullopt;
    // Resources stay mapped until the process ends; nothing is ever freed.
    return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size);
}

}  // namespace kordel

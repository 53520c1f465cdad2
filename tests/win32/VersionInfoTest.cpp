// The version record of each Windows program names the tool's version and the version
// of the firmware image it carries, where Explorer and installers look for them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ImageVersion.h"
#include "TextWin32.h"

namespace kordel {
namespace {

class VersionRecord {
  public:
    explicit VersionRecord(const std::wstring& path) {
        DWORD ignored = 0;
        data_.resize(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
        if (data_.empty() ||
            !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data())) {
            data_.clear();
        }
    }
    bool Present() const { return !data_.empty(); }

    std::string Text(const wchar_t* name) const {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data_.data(), key.c_str(), &value, &length) || length == 0) return "<none>";
        return Utf16ToUtf8(std::wstring(static_cast<const wchar_t*>(value), length - 1));
    }

    std::string FixedFileVersion() const {
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data_.data(), L"\\", &value, &length)) return "<none>";
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
               std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
               std::to_string(HIWORD(fixed->dwFileVersionLS));
    }

  private:
    std::vector<char> data_;
};

class VersionInfoTest : public ::testing::TestWithParam<const char*> {};

TEST_P(VersionInfoTest, NamesTheToolAndTheFirmware) {
    const VersionRecord record(Utf8ToUtf16(GetParam()));
    ASSERT_TRUE(record.Present()) << GetParam() << " has no version record";
    EXPECT_EQ(record.FixedFileVersion(), KORDEL_VERSION);
    EXPECT_EQ(record.Text(L"FileVersion"), KORDEL_VERSION);
    EXPECT_EQ(record.Text(L"ProductVersion"), KORDEL_VERSION);
    EXPECT_EQ(record.Text(L"FirmwareVersion"), KORDEL_IMAGE_VERSION);
    EXPECT_EQ(record.Text(L"FileDescription"),
              std::string("Kordel firmware updater, firmware ") + KORDEL_IMAGE_VERSION);
}

INSTANTIATE_TEST_SUITE_P(Programs, VersionInfoTest, ::testing::Values(KORDEL_PROGRAMS));

}  // namespace
}  // namespace kordel

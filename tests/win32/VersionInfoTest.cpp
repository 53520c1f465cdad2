// The resources Windows itself reads from each program: the version record (the tool's
// and the firmware's version, the file's own name and the licence, where Explorer and
// installers look for them), the manifest's supported Windows versions and the sizes of
// the application icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
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
        if (data_.empty() || !::GetFileVersionInfoW(
                                 path.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data())) {
            data_.clear();
        }
    }
    bool Present() const { return !data_.empty(); }

    std::string Text(const wchar_t* name) const {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data_.data(), key.c_str(), &value, &length) || length == 0)
            return "<none>";
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

// The program's file loaded as data: its resources, none of its code.
class ProgramResources {
  public:
    explicit ProgramResources(const std::wstring& path)
        : module_(::LoadLibraryExW(path.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ProgramResources() {
        if (module_) ::FreeLibrary(module_);
    }
    ProgramResources(const ProgramResources&) = delete;
    ProgramResources& operator=(const ProgramResources&) = delete;
    bool Loaded() const { return module_ != nullptr; }

    // The bytes of one resource; empty when there is none.
    std::string Bytes(const wchar_t* type, const wchar_t* name) const {
        HRSRC found = ::FindResourceW(module_, name, type);
        HGLOBAL loaded = found ? ::LoadResource(module_, found) : nullptr;
        const void* data = loaded ? ::LockResource(loaded) : nullptr;
        if (!data) return {};
        return std::string(static_cast<const char*>(data), ::SizeofResource(module_, found));
    }

  private:
    HMODULE module_;
};

// The pixel sizes of the images in an icon group resource (GRPICONDIR: three words,
// then one 14-byte entry per image whose first byte is the width, 0 meaning 256).
std::set<int> IconGroupSizes(const std::string& group) {
    std::set<int> sizes;
    if (group.size() < 6) return sizes;
    const int count = static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5])
                                                                 << 8;
    for (int i = 0; i < count && 6 + 14 * (i + 1) <= static_cast<int>(group.size()); ++i) {
        const int width = static_cast<unsigned char>(group[6 + 14 * i]);
        sizes.insert(width == 0 ? 256 : width);
    }
    return sizes;
}

std::string FileName(const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
}

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

TEST_P(VersionInfoTest, NamesTheProgramsOwnFileAndItsLicence) {
    const VersionRecord record(Utf8ToUtf16(GetParam()));
    ASSERT_TRUE(record.Present()) << GetParam() << " has no version record";
    const std::string file = FileName(GetParam());
    EXPECT_EQ(record.Text(L"OriginalFilename"), file);
    EXPECT_EQ(record.Text(L"InternalName"), file.substr(0, file.size() - 4));
    EXPECT_EQ(record.Text(L"LegalCopyright"), KORDEL_LEGAL_COPYRIGHT);
}

TEST_P(VersionInfoTest, ManifestNamesWindows7To11) {
    const ProgramResources program(Utf8ToUtf16(GetParam()));
    ASSERT_TRUE(program.Loaded()) << GetParam();
    const std::string manifest = program.Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty()) << GetParam() << " has no manifest";
    for (const char* id :
         {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos)
            << "no supportedOS " << id;
    }
}

TEST_P(VersionInfoTest, ApplicationIconHasAnImageForEachSizeWindowsShows) {
    const ProgramResources program(Utf8ToUtf16(GetParam()));
    ASSERT_TRUE(program.Loaded()) << GetParam();
    EXPECT_EQ(IconGroupSizes(program.Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(1))),
              (std::set<int>{16, 24, 32, 48, 256}));
}

INSTANTIATE_TEST_SUITE_P(Programs, VersionInfoTest, ::testing::Values(KORDEL_PROGRAMS));

}  // namespace
}  // namespace kordel

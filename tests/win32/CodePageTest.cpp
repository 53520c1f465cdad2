// Texts in the system's ANSI code page: a settings file without a byte-order mark, and
// the description of the image. The test runs under wine once per locale (LC_ALL picks
// wine's code page), takes its expectations from the page the system reports, and
// carries the programs' resources, manifest included, so that it runs with the code
// page the programs get.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "BiosInfo.h"
#include "IniFile.h"
#include "TempDir.h"
// After the core's headers, whose names windows.h would turn into macros.
#include <windows.h>

namespace kordel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct PageCase {
    std::string fileValue;  // the value's bytes in the file
    std::string text;       // the same value in UTF-8
};

// "Ä€" in the western page, "Д€" in the Cyrillic one, "あ" in the Japanese double-byte one.
const std::map<UINT, PageCase> Pages = {
    {1252, {"\xC4\x80", "\xC3\x84\xE2\x82\xAC"}},
    {1251, {"\xC4\x88", "\xD0\x94\xE2\x82\xAC"}},
    {932, {"\x82\xA0", "\xE3\x81\x82"}},
};

constexpr const char* Name = "Kordel_Update.ini";

TEST(CodePageTest, SettingsFileWithoutMarkIsInTheSystemsAnsiPage) {
    const auto page = Pages.find(::GetACP());
    ASSERT_NE(page, Pages.end()) << "no case for code page " << ::GetACP();
    TempDir dir;
    const std::string file = "[S]\r\nK=" + page->second.fileValue + "\r\n\r\n";
    WriteFile(Name, file);
    TIniFile ini;
    ini.SetFileName(Name);
    EXPECT_EQ(ini.Encoding(), TIniEncoding::Ansi);
    EXPECT_EQ(ini.ReadString("S\\K", ""), page->second.text);

    // Written back in the same page; a character the page lacks becomes '?'.
    ini.WriteString("S\\New", page->second.text + "\xE2\x98\x83");  // U+2603, in none of them
    EXPECT_EQ(ReadFile(Name), "[S]\r\nK=" + page->second.fileValue + "\r\nNew=" +
                                  page->second.fileValue + "?\r\n\r\n");
}

// The description's bytes are single-byte characters of the same page (two bytes make
// one character in the Japanese page).
TEST(CodePageTest, DescriptionIsInTheSystemsAnsiPage) {
    const auto page = Pages.find(::GetACP());
    ASSERT_NE(page, Pages.end()) << "no case for code page " << ::GetACP();
    TBiosInfo info;
    const std::string description = "FW " + page->second.fileValue;
    std::memcpy(info.ProgInfo.data(), description.data(), description.size());
    EXPECT_EQ(BiosInfoStr(info), "FW " + page->second.text);
}

}  // namespace
}  // namespace kordel

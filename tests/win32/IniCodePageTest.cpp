// A settings file without a byte-order mark is in the system's ANSI code page. The test
// runs under wine once per locale (LC_ALL picks wine's code page) and takes its
// expectations from the page the system reports.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include "IniFile.h"
#include "TempDir.h"

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

TEST(IniCodePageTest, FileWithoutMarkIsInTheSystemsAnsiPage) {
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

}  // namespace
}  // namespace kordel

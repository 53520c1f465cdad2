// A settings file without a byte-order mark is read and written in the code page of
// GetACP. Run under wine with a Cyrillic locale (code page 1251), where the byte C4h is
// "Д", not the "Ä" of Windows-1252.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "IniFile.h"

namespace kordel {
namespace {

std::string ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(AnsiCodePageTest, FileWithoutMarkUsesTheProcessCodePage) {
    ASSERT_EQ(::GetACP(), 1251u) << "run with LC_ALL=ru_RU.UTF-8";
    const std::string name = "ansi-" + std::to_string(::GetCurrentProcessId()) + ".ini";
    std::ofstream(name, std::ios::binary) << "[S]\r\nK=\xC4\r\n";
    {
        TIniFile ini;
        ini.SetFileName(name);
        EXPECT_EQ(ini.ReadString("S\\K", ""), "\xD0\x94");  // Д
        ini.WriteString("S\\L", "\xD0\x96\xC3\x84");        // "ЖÄ": Ä is not in 1251
    }
    EXPECT_EQ(ReadBytes(name), "[S]\r\nK=\xC4\r\nL=\xC6?\r\n\r\n");
    std::filesystem::remove(name);
}

}  // namespace
}  // namespace kordel

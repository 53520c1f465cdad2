// The settings store on real files in a temporary folder.
#include <gtest/gtest.h>

#include "IniFile.h"
#include "TempDir.h"

namespace kordel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

constexpr const char* Name = "Kordel_Update.ini";

// Gives the file a new last-write time, as an edit by another program would.
void Touch(const std::string& bytes) {
    WriteFile(Name, bytes);
    fs::last_write_time(Name, fs::last_write_time(Name) + std::chrono::seconds(5));
}

TEST(IniFileTest, HandEditedFileIsReadAndRewrittenInTheStoresForm) {
    TempDir dir;
    WriteFile(Name,
              "stray line before any section\n; a comment\n\n[config]\n  comport = COM5  \n"
              "plain line\n\n\n[Other]\nA=1\n[CONFIG]\nComPort=COM9\n");
    TIniFile ini;
    ini.SetFileName(Name);
    ini.DefaultSection = "CONFIG";
    EXPECT_EQ(ini.ReadString("ComPort", ""), "COM5") << "names match ignoring case; blanks trimmed";
    EXPECT_EQ(ini.ReadString("other\\a", ""), "1");
    EXPECT_EQ(ini.ReadString("Missing\\Key", "dflt"), "dflt");
    ini.WriteString("ComPort", "COM7");
    EXPECT_EQ(ReadFile(Name),
              "[config]\r\nComPort=COM7\r\nplain line\r\n\r\n[Other]\r\nA=1\r\n\r\n[CONFIG]\r\n"
              "ComPort=COM9\r\n\r\n");
    ini.WriteString("New\\Key", "v");
    EXPECT_NE(ReadFile(Name).find("[CONFIG]\r\nComPort=COM9\r\n\r\n[New]\r\nKey=v\r\n\r\n"),
              std::string::npos)
        << "a new section goes to the end";
}

TEST(IniFileTest, NoFileMeansDefaultsAndAnEmptyStoreWritesZeroBytes) {
    TempDir dir;
    TIniFile ini;
    ini.SetFileName(Name);
    EXPECT_EQ(ini.ReadInteger("Main\\ShowCmd", 7), 7);
    EXPECT_FALSE(fs::exists(Name));
    ini.BeginUpdate();
    ini.EndUpdate();
    ASSERT_TRUE(fs::exists(Name));
    EXPECT_EQ(fs::file_size(Name), 0u);
}

TEST(IniFileTest, GroupsNestAndFlushOnlyAtTheOutermostEnd) {
    TempDir dir;
    TIniFile ini;
    ini.SetFileName(Name);
    ini.BeginUpdate();
    ini.BeginUpdate();
    ini.WriteInteger("S\\A", -12);
    ini.EndUpdate();
    EXPECT_FALSE(fs::exists(Name));
    ini.WriteInteger("S\\B", 0);
    ini.EndUpdate();
    EXPECT_EQ(ReadFile(Name), "[S]\r\nA=-12\r\nB=0\r\n\r\n");
}

TEST(IniFileTest, IntegersAndLists) {
    TempDir dir;
    WriteFile(Name, "[S]\nEmpty=\nNeg= -5 \nBad=abc\nHex=$1F\n");
    TIniFile ini;
    ini.SetFileName(Name);
    EXPECT_EQ(ini.ReadInteger("S\\Empty", 9), 0);
    EXPECT_EQ(ini.ReadInteger("S\\Neg", 9), -5);
    try {
        ini.ReadInteger("S\\Bad", 9);
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'abc' is not a valid integer value");
    }
    EXPECT_THROW(ini.ReadInteger("S\\Hex", 9), EConvertError);
    EXPECT_EQ(ParseIntegerList("1,,2,x", {7, 7, 7, 7}), (std::vector<int>{1, 2, 7, 7}));
    EXPECT_EQ(ParseIntegerList("", {7, 8}), (std::vector<int>{7, 8}));
    EXPECT_EQ(ParseIntegerList(",,-3,4,5,6", {0, 0, 0, 0}), (std::vector<int>{-3, 4, 5, 6}));
    EXPECT_EQ(FormatIntegerList({-1, 0, 412, 236}), "-1,0,412,236");
}

TEST(IniFileTest, ChangesOnDiskAreReloadedAndADeletedFileEmptiesTheStore) {
    TempDir dir;
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\n");
    TIniFile ini;
    ini.SetFileName(Name);
    EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM1");
    Touch("[CONFIG]\r\nComPort=COM2\r\n");
    EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM2");
    fs::remove(Name);
    EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", "none"), "none");
}

TEST(IniFileTest, AnotherCopysValueSurvivesUnlessTheSameKeyIsWritten) {
    TempDir dir;
    TIniFile first, second;
    first.SetFileName(Name);
    second.SetFileName(Name);
    first.WriteString("CONFIG\\ComPort", "COM1");
    fs::last_write_time(Name, fs::last_write_time(Name) + std::chrono::seconds(5));
    second.WriteString("Main\\ShowCmd", "1");
    EXPECT_EQ(ReadFile(Name), "[CONFIG]\r\nComPort=COM1\r\n\r\n[Main]\r\nShowCmd=1\r\n\r\n");
}

TEST(IniFileTest, ReadOnlyFileIsReadButNeverWritten) {
    TempDir dir;
    const std::string original = "[CONFIG]\nComPort=COM4\n; keep me\n";
    WriteFile(Name, original);
    fs::permissions(Name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    {
        TIniFile ini;
        ini.SetFileName(Name);
        EXPECT_TRUE(ini.ReadOnly());
        EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM4");
        ini.WriteString("CONFIG\\ComPort", "COM5");
        ini.Flush();
        EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM4") << "writes are refused";
    }
    EXPECT_EQ(ReadFile(Name), original);
}

TEST(IniFileTest, UnreadableFileIsReportedOnceAndNeverOverwritten) {
    TempDir dir;
    fs::create_directory(Name);  // exists, but cannot be read as a file
    std::vector<std::string> reports;
    TIniFile ini;
    ini.OnReadFailure = [&](const std::string& m) { reports.push_back(m); };
    ini.SetFileName(Name);
    EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", "dflt"), "dflt");
    ini.WriteString("CONFIG\\ComPort", "COM3");
    ini.ReadString("CONFIG\\ComPort", "");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Cannot read the settings file Kordel_Update.ini"),
              std::string::npos);
    EXPECT_TRUE(fs::is_directory(Name));
}

TEST(IniFileTest, FailedWritesAreSilentAndValuesStayInMemory) {
    TempDir dir;
    WriteFile("blocker", "");
    TIniFile ini;
    ini.SetFileName("blocker/sub/Kordel_Update.ini");  // the folder cannot be created
    ini.WriteString("CONFIG\\ComPort", "COM6");
    EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM6");
}

TEST(IniFileTest, AMissingFolderIsNeverMade) {
    TempDir dir;
    {
        TIniFile ini;
        ini.SetFileName("missing/Kordel_Update.ini");
        ini.WriteString("CONFIG\\ComPort", "COM6");
        EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM6");
    }
    EXPECT_FALSE(fs::exists("missing"));
}

// A file of the limit's size is read; one byte more and it is reported once and left
// exactly as it is.
TEST(IniFileTest, AFileOverOneMebibyteIsReportedOnceAndLeftAlone) {
    for (const std::size_t size : {TIniFile::MaxFileBytes, TIniFile::MaxFileBytes + 1}) {
        TempDir dir;
        std::string bytes = "[CONFIG]\r\nComPort=COM1\r\n;";
        bytes.resize(size - 2, 'x');
        bytes += "\r\n";
        WriteFile(Name, bytes);
        const bool tooLarge = size > TIniFile::MaxFileBytes;
        std::vector<std::string> reports;
        {
            TIniFile ini;
            ini.OnReadFailure = [&](const std::string& m) { reports.push_back(m); };
            ini.SetFileName(Name);
            EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", "none"), tooLarge ? "none" : "COM1")
                << size;
            EXPECT_EQ(ini.ReadOnly(), tooLarge);
            ini.WriteString("CONFIG\\ComPort", "COM3");
            ini.ReadString("CONFIG\\ComPort", "");
        }
        if (tooLarge) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_NE(reports[0].find("Kordel_Update.ini: it is larger than 1 MiB"),
                      std::string::npos)
                << reports[0];
            EXPECT_EQ(ReadFile(Name), bytes) << "left as it was";
        } else {
            EXPECT_TRUE(reports.empty());
            EXPECT_EQ(ReadFile(Name), "[CONFIG]\r\nComPort=COM3\r\n\r\n");
        }
    }
}

// ---------------------------------------------------------------- how the file is written

// Writes ComPort=value through a fresh store, as one run of the tool would.
void StoreComPort(const std::string& fileName, const std::string& value) {
    TIniFile ini;
    ini.SetFileName(fileName);
    ini.WriteString("CONFIG\\ComPort", value);
}

const std::string Com3File = "[CONFIG]\r\nComPort=COM3\r\n\r\n";

TEST(IniFileWriteTest, AFileNameBeyondAsciiIsUtf8) {
    TempDir dir;
    StoreComPort("Einstellungen-\xC3\x84.ini", "COM3");  // "Einstellungen-Ä.ini" in UTF-8
    EXPECT_EQ(ReadFile(u8"Einstellungen-\u00C4.ini"), Com3File);
}

TEST(IniFileWriteTest, AnOldFileIsReplacedAndNoOtherFileIsLeftBehind) {
    TempDir dir;
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\nOld=a line that the new text does not have\r\n");
    StoreComPort(Name, "COM3");
    EXPECT_EQ(ReadFile(Name),
              "[CONFIG]\r\nComPort=COM3\r\nOld=a line that the new text does not have\r\n\r\n");
    StoreComPort(Name, "COM3");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(IniFileWriteTest, FileWithTwoNamesIsRewrittenSoBothSeeIt) {
    TempDir dir;
    WriteFile("other-name.ini", "[CONFIG]\r\nComPort=COM1\r\n");
    fs::create_hard_link("other-name.ini", Name);
    StoreComPort(Name, "COM3");
    EXPECT_EQ(ReadFile("other-name.ini"), Com3File);
    // And the other way round: the names still share one file. (The link count is not
    // asked: mingw-w64's library answers 1 for every file.)
    StoreComPort("other-name.ini", "COM4");
    EXPECT_EQ(ReadFile(Name), "[CONFIG]\r\nComPort=COM4\r\n\r\n");
}

// Each of the three line ends ends a line, a lone CR too: a file saved by an editor
// that writes CR alone keeps every setting.
TEST(IniFileTest, EveryLineEndEndsALine) {
    TempDir dir;
    for (const char* end : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(end)));
        WriteFile(Name, std::string("[CONFIG]") + end + "ComPort=COM4" + end + "NormPos=1,2" +
                            end + "[Main]" + end + "ShowCmd=3");
        TIniFile ini;
        ini.SetFileName(Name);
        EXPECT_EQ(ini.ReadString("CONFIG\\ComPort", ""), "COM4");
        EXPECT_EQ(ini.ReadString("CONFIG\\NormPos", ""), "1,2");
        EXPECT_EQ(ini.ReadString("Main\\ShowCmd", ""), "3") << "the last line has no line end";
    }
}

// A UTF-16 file is written from UTF-8 decoded strictly: an overlong "/" (C0 AF), an
// encoded surrogate and a value beyond U+10FFFF become U+FFFD for each of their bytes,
// never a character or a lone surrogate unit.
TEST(IniFileTest, Utf16WritingRefusesMalformedUtf8) {
    const std::string fffd("\xFD\xFF", 2);
    EXPECT_EQ(EncodeIniText("/\xC0\xAF", TIniEncoding::Utf16LE),
              std::string("\xFF\xFE/\0", 4) + fffd + fffd);
    EXPECT_EQ(EncodeIniText("\xED\xA0\x80", TIniEncoding::Utf16LE),
              std::string("\xFF\xFE") + fffd + fffd + fffd);
    EXPECT_EQ(EncodeIniText("\xF4\x90\x80\x80", TIniEncoding::Utf16LE),
              std::string("\xFF\xFE") + fffd + fffd + fffd + fffd);
    EXPECT_EQ(EncodeIniText("\xF0\x9F\x98\x80", TIniEncoding::Utf16LE),
              std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6))
        << "a valid four-byte sequence is one surrogate pair";
}

struct EncodingCase {
    const char* name;
    std::string bytes;
    TIniEncoding encoding;
};

class IniEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

// The encoding found in the file is kept when it is written back.
TEST_P(IniEncodingTest, ReadsAndKeepsTheFilesEncoding) {
    TempDir dir;
    WriteFile(Name, GetParam().bytes);
    TIniFile ini;
    ini.SetFileName(Name);
    EXPECT_EQ(ini.Encoding(), GetParam().encoding);
    EXPECT_EQ(ini.ReadString("S\\K", ""), "\xC3\x84\xE2\x82\xAC");  // "Ä€" in UTF-8
    ini.Flush();
    EXPECT_EQ(ReadFile(Name), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, IniEncodingTest,
    ::testing::Values(
        EncodingCase{"ansi", "[S]\r\nK=\xC4\x80\r\n\r\n", TIniEncoding::Ansi},
        EncodingCase{"utf8", "\xEF\xBB\xBF[S]\r\nK=\xC3\x84\xE2\x82\xAC\r\n\r\n",
                     TIniEncoding::Utf8},
        EncodingCase{
            "utf16le",
            std::string("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\xC4\0\xAC\x20\r\0\n\0\r\0\n\0", 28),
            TIniEncoding::Utf16LE},
        EncodingCase{
            "utf16be",
            std::string("\xFE\xFF\0[\0S\0]\0\r\0\n\0K\0=\0\xC4\x20\xAC\0\r\0\n\0\r\0\n", 28),
            TIniEncoding::Utf16BE}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kordel

// The audit log's file on Windows: what it refuses to open (folders, and names that
// Windows gives to devices in every folder), and sharing with other programs.
#include <gtest/gtest.h>

#include <filesystem>

// The project's headers first: ComPort.h declares MAXDWORD before windows.h makes it a
// macro.
#include "AuditLog.h"
#include "AuditSamples.h"
#include "TempDir.h"
// clang-format off
#include <windows.h>
// clang-format on

namespace kordel::cli {
namespace {

namespace fs = std::filesystem;

std::string OpenError(const std::string& path) {
    try {
        TAuditLog log(path);
    } catch (const EAuditLog& e) {
        return e.what();
    }
    return "(opened)";
}

TEST(AuditLogWin32Test, DevicesAndFoldersAreNoLog) {
    testing::TempDir dir;
    fs::create_directory("logs");
    for (const char* path : {"logs", "NUL", "nul.log", "COM1", "com9.txt", "logs\\CON",
                             "\\\\.\\COM1", "CONOUT$", "LPT1"}) {
        EXPECT_EQ(OpenError(path),
                  "Cannot open the log '" + std::string(path) + "': it is not a regular file");
    }
    // Names that only look like devices are files.
    for (const char* path : {"COM10", "COMX", "console.log", "logs\\nullable"}) {
        EXPECT_EQ(OpenError(path), "(opened)") << path;
    }
}

TEST(AuditLogWin32Test, AMissingFolderIsNotMade) {
    testing::TempDir dir;
    const std::string error = OpenError("no-such-folder\\station.log");
    EXPECT_EQ(error.rfind("Cannot open the log 'no-such-folder\\station.log': ", 0), 0u) << error;
    EXPECT_NE(error.find("(Error: 3)"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists("no-such-folder"));
}

TEST(AuditLogWin32Test, OtherProgramsMayReadTheLogWhileItIsWritten) {
    testing::TempDir dir;
    TAuditLog log("shared.log");
    log.Append(RecordFor("A"));
    // A reader that allows writers, as an editor or a spreadsheet opens the file.
    HANDLE reader = ::CreateFileW(L"shared.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    log.Append(RecordFor("B"));
    char buffer[4096];
    DWORD n = 0;
    ASSERT_TRUE(::ReadFile(reader, buffer, sizeof buffer, &n, nullptr));
    ::CloseHandle(reader);
    EXPECT_EQ(std::string(buffer, n), RecordFor("A") + "\n" + RecordFor("B") + "\n")
        << "the record lock does not lock the records' bytes";
}

}  // namespace
}  // namespace kordel::cli

// How the settings store writes its file on POSIX systems: owners, modes, links,
// inodes and FIFOs, on real files in a temporary folder.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "IniFile.h"
#include "TempDir.h"

namespace kordel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

constexpr const char* Name = "Kordel_Update.ini";

constexpr uid_t Nobody = 65534;

// Runs body in a child process that has given up root for the unprivileged user;
// true when body returned true there.
bool RunAsNobody(const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(Nobody) == 0 &&
                             ::setuid(Nobody) == 0;
        ::_exit(dropped && body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Writes ComPort=value through a fresh store, as one run of the tool would.
void StoreComPort(const std::string& fileName, const std::string& value) {
    TIniFile ini;
    ini.SetFileName(fileName);
    ini.WriteString("CONFIG\\ComPort", value);
}

struct stat StatOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

const std::string Com3File = "[CONFIG]\r\nComPort=COM3\r\n\r\n";

class UnprivilegedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
        fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    }
    TempDir dir;
};

TEST_F(UnprivilegedTest, WritableFileInAReadOnlyFolderIsRewrittenInPlace) {
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\nOld=a long line that the new text does not have\r\n");
    ASSERT_EQ(::chown(Name, Nobody, Nobody), 0);
    const ino_t inode = StatOf(Name).st_ino;
    // The folder belongs to root and this user cannot add a file to it.
    ASSERT_TRUE(RunAsNobody([] {
        TIniFile ini;
        ini.SetFileName(Name);
        ini.WriteString("CONFIG\\ComPort", "COM3");
        return ::access(".", W_OK) != 0;
    }));
    EXPECT_EQ(ReadFile(Name),
              "[CONFIG]\r\nComPort=COM3\r\nOld=a long line that the new text does not have\r\n\r\n");
    EXPECT_EQ(StatOf(Name).st_ino, inode);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
}

TEST_F(UnprivilegedTest, AnotherUsersGroupWritableFileKeepsItsOwner) {
    // This user may write the file and the folder, but cannot give a new file root's
    // ownership: the file is rewritten in place rather than replaced by one of ours.
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\n");
    ASSERT_EQ(::chmod(Name, 0666), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_TRUE(RunAsNobody([] {
        StoreComPort(Name, "COM3");
        return true;
    }));
    EXPECT_EQ(ReadFile(Name), Com3File);
    EXPECT_EQ(StatOf(Name).st_uid, 0u);
    EXPECT_EQ(StatOf(Name).st_mode & 07777, 0666u);
}

TEST_F(UnprivilegedTest, NewFileInAReadOnlyFolderFailsSilentlyAndKeepsTheValue) {
    ASSERT_TRUE(RunAsNobody([] {
        TIniFile ini;
        ini.SetFileName(Name);
        ini.WriteString("CONFIG\\ComPort", "COM3");
        return !fs::exists(Name) && ini.ReadString("CONFIG\\ComPort", "") == "COM3";
    }));
}

TEST(IniFileWriteTest, OwnerGroupAndModeAreKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
    TempDir dir;
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\n");
    ASSERT_EQ(::chown(Name, Nobody, Nobody), 0);
    ASSERT_EQ(::chmod(Name, 0640), 0);
    StoreComPort(Name, "COM3");
    EXPECT_EQ(ReadFile(Name), Com3File);
    const struct stat st = StatOf(Name);
    EXPECT_EQ(st.st_uid, Nobody);
    EXPECT_EQ(st.st_gid, Nobody);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFileWriteTest, ReplacedAtomicallyWhereTheFolderAllows) {
    TempDir dir;
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\n");
    // Held open, the old file keeps its inode (and content) after it lost its name.
    const int old = ::open(Name, O_RDONLY);
    ASSERT_GE(old, 0);
    StoreComPort(Name, "COM3");
    EXPECT_EQ(ReadFile(Name), Com3File);
    struct stat st {};
    ASSERT_EQ(::fstat(old, &st), 0);
    EXPECT_EQ(st.st_nlink, 0u) << "a new file took the old one's place";
    char first[32] = {};
    EXPECT_GT(::pread(old, first, sizeof first - 1, 0), 0);
    EXPECT_STREQ(first, "[CONFIG]\r\nComPort=COM1\r\n");
    ::close(old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

struct LinkCase {
    const char* name;
    std::string linkTarget;  // as written in the link
    std::string realFile;    // where the content ends up, relative to the temp folder
    bool targetExists;
};

class IniSymlinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(IniSymlinkTest, LinkStaysALinkAndItsTargetIsWritten) {
    const auto& c = GetParam();
    TempDir dir;
    fs::create_directories("real/deeper");
    if (c.targetExists) WriteFile(c.realFile, "[CONFIG]\r\nComPort=COM1\r\n");
    fs::create_symlink(c.linkTarget, Name);
    StoreComPort(Name, "COM3");
    EXPECT_TRUE(fs::is_symlink(Name));
    EXPECT_EQ(fs::read_symlink(Name), c.linkTarget);
    EXPECT_EQ(ReadFile(c.realFile), Com3File);
}

INSTANTIATE_TEST_SUITE_P(
    Links, IniSymlinkTest,
    ::testing::Values(LinkCase{"Relative", "real/settings.ini", "real/settings.ini", true},
                      LinkCase{"NotYetThere", "real/settings.ini", "real/settings.ini", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniFileWriteTest, ChainedLinkIsFollowedRelativeToEachLinksFolder) {
    TempDir dir;
    fs::create_directories("real/deeper");
    WriteFile("real/deeper/settings.ini", "");
    fs::create_symlink("deeper/settings.ini", "real/link2");
    fs::create_symlink("real/link2", Name);
    StoreComPort(Name, "COM3");
    EXPECT_TRUE(fs::is_symlink("real/link2"));
    EXPECT_EQ(ReadFile("real/deeper/settings.ini"), Com3File);
}

TEST(IniFileWriteTest, FifoInTheFilesPlaceIsReportedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(Name, 0644), 0);
    std::vector<std::string> reports;
    TIniFile ini;
    ini.OnReadFailure = [&](const std::string& m) { reports.push_back(m); };
    ini.SetFileName(Name);  // would wait for a writer forever if it blocked
    ini.WriteString("CONFIG\\ComPort", "COM3");
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(fs::status(Name).type(), fs::file_type::fifo);
}

}  // namespace
}  // namespace kordel

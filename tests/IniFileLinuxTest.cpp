// How the settings store writes its file on POSIX systems: owners, modes, links,
// inodes and FIFOs, on real files in a temporary folder.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <tuple>

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

// Runs body in a child process that has given up root for the user `uid` (and the
// group of the same number); returns body's result there, or 100 when the child
// could not drop root.
int RunAs(uid_t uid, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool dropped =
            uid == 0 || (::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0);
        ::_exit(dropped ? body() : 100);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// True when body returned true in a child process running as the unprivileged user.
bool RunAsNobody(const std::function<bool()>& body) {
    return RunAs(Nobody, [&] { return body() ? 0 : 1; }) == 0;
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
    const ino_t inode = c.targetExists ? StatOf(c.realFile).st_ino : 0;
    fs::create_symlink(c.linkTarget, Name);
    StoreComPort(Name, "COM3");
    EXPECT_TRUE(fs::is_symlink(Name));
    EXPECT_EQ(fs::read_symlink(Name), c.linkTarget);
    EXPECT_EQ(ReadFile(c.realFile), Com3File);
    // Rewritten in place through the link: the file keeps its inode, so every other
    // name, owner and mode of it stay.
    if (c.targetExists) {
        EXPECT_EQ(StatOf(c.realFile).st_ino, inode);
    }
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

// ---------------------------------------------------------------- links someone else made

// Sets fs.protected_symlinks while the object lives and puts the old value back; where
// it cannot be set, only its current value can be had. A lock keeps other test
// processes from changing it meanwhile.
class ProtectedSymlinksSetting {
  public:
    explicit ProtectedSymlinksSetting(int value) {
        lock_ = ::open("/tmp/kordel-protected-symlinks.lock",
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock_ < 0 || ::flock(lock_, LOCK_EX) != 0) return;
        old_ = Read();
        changed_ = old_ >= 0 && old_ != value && Write(value);
        set_ = Read() == value;
    }
    ~ProtectedSymlinksSetting() {
        if (changed_) Write(old_);
        if (lock_ >= 0) ::close(lock_);
    }
    ProtectedSymlinksSetting(const ProtectedSymlinksSetting&) = delete;
    ProtectedSymlinksSetting& operator=(const ProtectedSymlinksSetting&) = delete;
    bool Set() const { return set_; }

  private:
    static constexpr const char* Path = "/proc/sys/fs/protected_symlinks";
    static int Read() {
        char c = 0;
        const int fd = ::open(Path, O_RDONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::read(fd, &c, 1) == 1;
        if (fd >= 0) ::close(fd);
        return ok && c >= '0' && c <= '9' ? c - '0' : -1;
    }
    static bool Write(int value) {
        const char c = static_cast<char>('0' + value);
        const int fd = ::open(Path, O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::write(fd, &c, 1) == 1;
        if (fd >= 0) ::close(fd);
        return ok;
    }
    int lock_ = -1;
    int old_ = -1;
    bool changed_ = false;
    bool set_ = false;
};

constexpr uid_t ThirdUser = 65533;
constexpr mode_t SharedFolder = 01777;  // sticky and world-writable, as /tmp

struct PlantedLinkCase {
    const char* name;
    mode_t folderMode;
    uid_t folderOwner;
    gid_t folderGroup;
    uid_t linkOwner;
    uid_t user;  // who runs the program in the folder
    bool followed;
};

// What the link points at: a file of the user's, one not made yet, or one in a folder
// that does not exist.
enum class LinkTarget { Existing, NotYetMade, InMissingFolder };

std::string TargetName(LinkTarget target) {
    switch (target) {
        case LinkTarget::Existing:
            return "Existing";
        case LinkTarget::NotYetMade:
            return "NotYetMade";
        case LinkTarget::InMissingFolder:
            return "InMissingFolder";
    }
    return "";
}

using PlantedLinkParam = std::tuple<PlantedLinkCase, LinkTarget, int>;

class PlantedLinkTest : public ::testing::TestWithParam<PlantedLinkParam> {};

// The store follows a settings link only where the kernel's protected-symlinks rule
// would, whatever the kernel is set to; any other link is reported once and nothing is
// read or written through it, nor is any folder made.
TEST_P(PlantedLinkTest, FollowedOnlyWhereTheProtectedSymlinksRuleAllows) {
    // Not structured bindings: the lambdas below capture them, which clang 14 refuses.
    const PlantedLinkCase& c = std::get<0>(GetParam());
    const LinkTarget target = std::get<1>(GetParam());
    const int setting = std::get<2>(GetParam());
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
    const ProtectedSymlinksSetting kernel(setting);
    if (!kernel.Set()) GTEST_SKIP() << "cannot set fs.protected_symlinks to " << setting;

    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    const fs::path folder = dir.Path() / "folder", targets = dir.Path() / "target";
    fs::create_directory(folder);
    fs::create_directory(targets);
    ASSERT_EQ(::chown(folder.c_str(), c.folderOwner, c.folderGroup), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
    ASSERT_EQ(::chown(targets.c_str(), c.user, c.user), 0);
    const std::string original = "[CONFIG]\r\nComPort=COM1\r\n";
    fs::path file = targets / "settings.ini";
    if (target == LinkTarget::Existing) {
        WriteFile(file, original);
        ASSERT_EQ(::chown(file.c_str(), c.user, c.user), 0);
    }
    if (target == LinkTarget::InMissingFolder) file = targets / "new" / "f";
    const fs::path link = folder / Name;
    ASSERT_EQ(
        RunAs(c.linkOwner, [&] { return ::symlink(file.c_str(), link.c_str()) == 0 ? 0 : 1; }), 0);

    const int result = RunAs(c.user, [&] {
        if (::chdir(folder.c_str()) != 0) return 10;
        std::vector<std::string> reports;
        std::string read;
        {
            TIniFile ini;
            ini.OnReadFailure = [&](const std::string& m) { reports.push_back(m); };
            ini.SetFileName(Name);
            read = ini.ReadString("CONFIG\\ComPort", "none");
            ini.WriteString("CONFIG\\ComPort", "COM3");
            ini.BeginUpdate();
            ini.EndUpdate();
            ini.Flush();
        }
        if (reports.size() != (c.followed ? 0u : 1u)) return 1;
        if (!c.followed && reports[0].find("symbolic link") == std::string::npos) return 2;
        const bool readThrough = c.followed && target == LinkTarget::Existing;
        return read == (readThrough ? "COM1" : "none") ? 0 : 3;
    });
    EXPECT_EQ(result, 0) << "1: wrong number of reports, 2: the report names no link, 3: wrong "
                            "value read";

    EXPECT_EQ(fs::read_symlink(link), file) << "the link is left as it was";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "nothing else was made in the folder";
    EXPECT_FALSE(fs::exists(targets / "new")) << "no folder is made";
    switch (target) {
        case LinkTarget::Existing:
            EXPECT_EQ(ReadFile(file), c.followed ? Com3File : original);
            EXPECT_EQ(StatOf(file).st_uid, c.user);
            break;
        case LinkTarget::NotYetMade:
            EXPECT_EQ(fs::exists(file), c.followed);
            if (c.followed) {
                EXPECT_EQ(ReadFile(file), Com3File);
            }
            break;
        case LinkTarget::InMissingFolder:
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedLinkTest,
    ::testing::Combine(
        ::testing::Values(
            PlantedLinkCase{"OthersLinkInSharedFolder", SharedFolder, 0, 0, Nobody, 0, false},
            PlantedLinkCase{"ThirdUsersLinkInSharedFolder", SharedFolder, 0, 0, ThirdUser, Nobody,
                            false},
            PlantedLinkCase{"OwnLinkInSharedFolder", SharedFolder, 0, 0, Nobody, Nobody, true},
            PlantedLinkCase{"FolderOwnersLinkInSharedFolder", SharedFolder, Nobody, Nobody, Nobody,
                            0, true},
            PlantedLinkCase{"RootsLinkInRootsSharedFolder", SharedFolder, 0, 0, 0, Nobody, true},
            PlantedLinkCase{"OthersLinkInFolderWithoutStickyBit", 0777, 0, 0, Nobody, 0, true},
            PlantedLinkCase{"OthersLinkInStickyGroupFolder", 01770, 0, Nobody, Nobody, 0, true}),
        ::testing::Values(LinkTarget::Existing, LinkTarget::NotYetMade,
                          LinkTarget::InMissingFolder),
        ::testing::Values(0, 1)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" +
               TargetName(std::get<1>(info.param)) + "_ProtectedSymlinks" +
               std::to_string(std::get<2>(info.param));
    });

TEST(IniFileWriteTest, FileWithTwoNamesInASharedFolderIsReplacedNotWrittenThrough) {
    TempDir dir;
    // Another user may have made the second name: with protected hard links off, a name
    // for any file on the same disk.
    const std::string victim = "[Victim]\r\nKeep=1\r\n";
    WriteFile("victim.ini", victim);
    fs::create_directory("shared");
    ASSERT_EQ(::chmod("shared", SharedFolder), 0);
    fs::create_hard_link("victim.ini", "shared/Kordel_Update.ini");
    StoreComPort("shared/Kordel_Update.ini", "COM3");
    EXPECT_EQ(ReadFile("victim.ini"), victim);
    EXPECT_EQ(ReadFile("shared/Kordel_Update.ini"),
              "[Victim]\r\nKeep=1\r\n\r\n[CONFIG]\r\nComPort=COM3\r\n\r\n");
    EXPECT_EQ(StatOf("shared/Kordel_Update.ini").st_nlink, 1u);
}

// The bytes this process has read with read() and its kind so far.
long long BytesReadByThisProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return -1;
}

TEST(IniFileReadTest, AHugeFileIsNotReadBeyondTheLimit) {
    TempDir dir;
    WriteFile(Name, "[CONFIG]\r\nComPort=COM1\r\n");
    fs::resize_file(Name, 256ull << 20);  // sparse: no disk space, 256 MiB to read
    const long long before = BytesReadByThisProcess();
    ASSERT_GE(before, 0);
    std::vector<std::string> reports;
    TIniFile ini;
    ini.OnReadFailure = [&](const std::string& m) { reports.push_back(m); };
    ini.SetFileName(Name);
    const long long read = BytesReadByThisProcess() - before;
    EXPECT_LE(read, 2ll * TIniFile::MaxFileBytes);
    EXPECT_GT(read, static_cast<long long>(TIniFile::MaxFileBytes))
        << "the limit is 1 MiB, not less";
    EXPECT_EQ(reports.size(), 1u);
}

}  // namespace
}  // namespace kordel

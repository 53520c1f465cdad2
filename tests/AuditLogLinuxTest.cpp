// The audit log's file on POSIX: the record lock is a plain flock that other programs
// can take too, and what the log refuses to open.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "AuditLog.h"
#include "AuditSamples.h"
#include "TempDir.h"
#include "UniqueFd.h"

namespace kordel::cli {
namespace {

namespace fs = std::filesystem;

TEST(AuditLogLinuxTest, AFlockOfAnotherProgramIsTheRecordLock) {
    testing::TempDir dir;
    TAuditLog log("flock.log", std::chrono::milliseconds(100));
    UniqueFd other(::open("flock.log", O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
    EXPECT_THROW(log.Append(RecordFor("A")), EAuditLog);
    ::flock(other.get(), LOCK_UN);
    log.Append(RecordFor("A"));
    EXPECT_EQ(testing::ReadFile("flock.log"), RecordFor("A") + "\n");
}

struct RefusedCase {
    const char* name;
    std::function<std::string()> make;  // makes the case in the current folder, returns the path
    const char* message;                // "{path}" stands for the path
};

class AuditLogRefusal : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(AuditLogRefusal, OpenFailsWithAMessageAndChangesNothing) {
    testing::TempDir dir;
    const std::string path = GetParam().make();
    std::string message = GetParam().message;
    if (auto at = message.find("{path}"); at != std::string::npos) message.replace(at, 6, path);
    const auto entries =
        std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator());
    // In a child: a FIFO that blocked the open would hang the child, not the tests.
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::string(GetParam().name) == "unwritable") {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        }
        try {
            TAuditLog log(path);
            ::_exit(1);
        } catch (const EAuditLog& e) {
            ::_exit(e.what() == message ? 0 : 2);
        }
    }
    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!WIFEXITED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the open blocked";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened, 2: another message than " << message;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), entries)
        << "nothing made";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AuditLogRefusal,
    ::testing::Values(
        RefusedCase{"folder",
                    [] {
                        fs::create_directory("logs");
                        return std::string("logs");
                    },
                    "Cannot open the log 'logs': it is not a regular file"},
        RefusedCase{"fifo",
                    [] {
                        ::mkfifo("pipe", 0600);
                        return std::string("pipe");
                    },
                    "Cannot open the log 'pipe': it is not a regular file"},
        RefusedCase{"device", [] { return std::string("/dev/null"); },
                    "Cannot open the log '/dev/null': it is not a regular file"},
        RefusedCase{"missing folder", [] { return std::string("no-such-folder/station.log"); },
                    "Cannot open the log 'no-such-folder/station.log': No such file or "
                    "directory (Error: 2)"},
        RefusedCase{"dangling link",
                    [] {
                        fs::create_symlink("elsewhere.log", "link.log");
                        return std::string("link.log");
                    },
                    "Cannot open the log 'link.log': No such file or directory (Error: 2)"},
        RefusedCase{"unwritable",
                    [] {
                        testing::WriteFile("root.log", "");
                        fs::permissions(fs::current_path(), fs::perms::all);
                        ::chmod("root.log", 0644);
                        return (fs::current_path() / "root.log").string();
                    },
                    "Cannot open the log '{path}': Permission denied (Error: 13)"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(AuditLogFileTest, FollowsALinkTheUserNamed) {
    testing::TempDir dir;
    testing::WriteFile("real.log", "");
    fs::create_symlink("real.log", "named.log");
    TAuditLog("named.log").Append(RecordFor("A"));
    EXPECT_EQ(testing::ReadFile("real.log"), RecordFor("A") + "\n");
    EXPECT_TRUE(fs::is_symlink("named.log"));
}

}  // namespace
}  // namespace kordel::cli

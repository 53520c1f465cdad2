// The port watch on Linux: it wakes for a link made in a watched folder, and otherwise
// ends its wait by the token or the time limit. Checked on what Wait returns.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "PortWatch.h"
#include "TempDir.h"

namespace kordel {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

TEST(PortWatchLinux, TimesOutWhenNothingHappensInTheFolder) {
    TempDir dir;
    TPortWatch watch({dir.Path().string()});
    TCancelToken token;
    EXPECT_EQ(watch.Wait(50ms, token), TPortWatch::TWake::TimedOut);
}

TEST(PortWatchLinux, WakesForALinkMadeInAWatchedFolder) {
    TempDir dir;
    TPortWatch watch({dir.Path().string()});
    TCancelToken token;
    std::filesystem::create_symlink("/dev/null", dir.Path() / "ttySIM0");
    // Made before the wait: the change is kept for it.
    EXPECT_EQ(watch.Wait(10s, token), TPortWatch::TWake::Changed);
    // Made while it waits.
    std::thread later([&] {
        std::this_thread::sleep_for(50ms);
        std::filesystem::remove(dir.Path() / "ttySIM0");
    });
    EXPECT_EQ(watch.Wait(10s, token), TPortWatch::TWake::Changed);
    later.join();
}

TEST(PortWatchLinux, AFileInAnUnwatchedFolderDoesNotWakeIt) {
    TempDir watched;
    TempDir other;
    TPortWatch watch({watched.Path().string()});
    TCancelToken token;
    std::filesystem::create_symlink("/dev/null", other.Path() / "ttySIM0");
    EXPECT_EQ(watch.Wait(100ms, token), TPortWatch::TWake::TimedOut);
}

TEST(PortWatchLinux, ACancelledTokenOrParentEndsTheWait) {
    TempDir dir;
    TPortWatch watch({dir.Path().string()});
    TCancelToken parent;
    TCancelToken token(&parent);
    parent.Cancel(15);
    EXPECT_EQ(watch.Wait(10s, token), TPortWatch::TWake::Cancelled);

    TCancelToken own;
    std::thread later([&] {
        std::this_thread::sleep_for(50ms);
        own.Cancel(CancelUnplugged);
    });
    EXPECT_EQ(watch.Wait(10s, own), TPortWatch::TWake::Cancelled);
    later.join();
}

TEST(PortWatchLinux, AFolderThatCannotBeWatchedIsNamed) {
    TempDir dir;
    const std::string missing = (dir.Path() / "missing").string();
    try {
        TPortWatch watch({missing});
        ADD_FAILURE() << "watched a missing folder";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace kordel

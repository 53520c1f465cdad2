// The port's shared part over a fake platform side: the line-event watcher's hand-over
// (the fake reports a modem line change every few milliseconds) and when settings
// groups reach the platform.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "ComIo.h"
#include "ComPort.h"

namespace kordel {
namespace {

class ChattyPort final : public TComPort {
  public:
    ~ChattyPort() override { Close(); }

  protected:
    int PlatformOpen(const std::string&) override { return 0; }
    int PlatformClose() override { return 0; }
    int PlatformSetupQueues(std::uint32_t, std::uint32_t) override { return 0; }
    int PlatformApplyLineSettings(const TLineSettings&) override { return 0; }
    int PlatformApplyTimeouts(const TComTimeouts& t) override {
        ++timeoutsApplied;
        lastReadConstant = t.ReadTotalConstant();
        return 0;
    }
    TIoResult PlatformRead(std::uint8_t*, std::int32_t) override { return {}; }
    TIoResult PlatformWrite(const std::uint8_t*, std::int32_t count) override { return {count, 0}; }
    int PlatformClearErrors(std::uint32_t& n) override {
        n = 0;
        return 0;
    }
    int PlatformPurge(bool, bool, bool) override { return 0; }
    int PlatformSetBreak(bool) override { return 0; }
    int PlatformModemStatus(std::uint32_t& lines) override {
        lines = mlCTS;
        return 0;
    }
    void PlatformBeginWatch(TComEvents) override { woken_ = false; }
    TComEvents PlatformWaitEvents() override {
        std::unique_lock lock(mutex_);
        if (cv_.wait_for(lock, std::chrono::milliseconds(2), [&] { return woken_; })) return 0;
        return evCTS;
    }
    void PlatformWakeWatch() override {
        std::lock_guard lock(mutex_);
        woken_ = true;
        cv_.notify_all();
    }
    void PlatformEndWatch() override {}

  public:
    int timeoutsApplied = 0;
    std::uint32_t lastReadConstant = 0;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};

// Queues hand-overs like a window front end's event loop; the test decides when they run.
class QueueDispatcher : public TLineEventDispatcher {
  public:
    void Post(std::function<void()> work) override {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(work));
        posted.notify_all();
    }
    std::size_t RunPending() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(queue);
        }
        for (auto& work : batch) work();
        return batch.size();
    }
    bool WaitForPost(int ms) {
        std::unique_lock lock(mutex);
        return posted.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !queue.empty(); });
    }
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> queue;
};

TEST(LineEventWatcherTest, WithoutDispatcherEventsRunOnTheWatcherThread) {
    ChattyPort port;
    std::atomic<int> calls = 0;
    std::atomic<bool> onOtherThread = false;
    const auto owner = std::this_thread::get_id();
    port.OnLineEvents = [&](TComPort&, TComEvents events) {
        EXPECT_EQ(events, evCTS);
        onOtherThread = std::this_thread::get_id() != owner;
        ++calls;
    };
    port.Open();
    while (calls < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    port.Close();
    const int atClose = calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, atClose) << "no events after close";
    EXPECT_TRUE(onOtherThread);
}

TEST(LineEventWatcherTest, QueuedHandOverRunsOnTheOwningThread) {
    ChattyPort port;
    QueueDispatcher dispatcher;
    port.Dispatcher = &dispatcher;
    std::thread::id ranOn;
    port.OnLineEvents = [&](TComPort&, TComEvents) { ranOn = std::this_thread::get_id(); };
    port.Open();
    ASSERT_TRUE(dispatcher.WaitForPost(1000));
    EXPECT_EQ(dispatcher.RunPending(), 1u);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    ASSERT_TRUE(dispatcher.WaitForPost(1000)) << "the watcher goes on after a hand-over ran";
    port.Close();
}

// The owning thread closes the port while the watcher waits for a hand-over that only
// the owning thread could run: the close must still finish, and the stale hand-over
// must do nothing when it finally runs.
TEST(LineEventWatcherTest, CloseNeverWaitsForAPendingHandOver) {
    ChattyPort port;
    QueueDispatcher dispatcher;
    port.Dispatcher = &dispatcher;
    int calls = 0;
    port.OnLineEvents = [&](TComPort&, TComEvents) { ++calls; };
    for (int round = 0; round < 20; ++round) {
        port.Open();
        ASSERT_TRUE(dispatcher.WaitForPost(1000));
        port.Close();
        dispatcher.RunPending();
    }
    EXPECT_EQ(calls, 0);
}

// Reads with the same timeout set the time-outs once; each change sets them again, and
// a closed port only stores them (the next open applies what the last read left).
TEST(SettingsGroupTest, TimeoutsReachThePlatformOnlyWhenTheyChange) {
    TComIo io;
    auto fake = std::make_unique<ChattyPort>();
    ChattyPort& port = *fake;
    io.cPort = std::move(fake);
    io.PortNameSource = [] { return std::string("fake"); };
    port.Events = 0;  // no watcher needed here
    io.Connect(4407315);
    const int afterOpen = port.timeoutsApplied;
    EXPECT_EQ(afterOpen, 1);
    io.ReadByte(200);
    EXPECT_EQ(port.timeoutsApplied, afterOpen + 2) << "multiplier and constant both changed";
    io.ReadByte(200);
    EXPECT_EQ(port.timeoutsApplied, afterOpen + 2);
    io.ReadByte(500);
    io.ReadByte(200);
    EXPECT_EQ(port.timeoutsApplied, afterOpen + 4);
    io.DisConnect();
    port.Timeouts.SetReadTotalConstant(900);
    EXPECT_EQ(port.timeoutsApplied, afterOpen + 4) << "a closed port only stores";
    io.Connect(4407315);
    EXPECT_EQ(port.timeoutsApplied, afterOpen + 5);
    EXPECT_EQ(port.lastReadConstant, 900u);
}

}  // namespace
}  // namespace kordel

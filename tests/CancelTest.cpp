// Cancel tokens: cancelling a link's token ends the link's running read, write or pause
// promptly, whatever the far end does, and keeps new ones from starting. A token can be
// taken back and used again, a parent's cancellation reaches the waits on its children,
// and a token reaches only the links it was handed to. Last, kordel-flash under SIGINT,
// SIGTERM and SIGHUP.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "CancelToken.h"
#include "ComIo.h"
#include "KordelSim.h"
#include "Pause.h"
#include "PtyPair.h"
#include "Unprivileged.h"

extern char** environ;

namespace kordel {
namespace {

using Clock = std::chrono::steady_clock;
using testing::MsSince;
using testing::PtyPair;

// Every wait cancelled here would otherwise last 5 s or more; a busy machine may add
// to the reaction, but nowhere near this.
constexpr double PromptMs = 1000.0;

constexpr const char* InterruptedText =
    "Interrupted: the module now holds a partial image and needs a new update";
constexpr const char* UnpluggedText =
    "Unplugged: the module now holds a partial image and needs a new update";

// Cancels `token` with `reason` after `afterMs` from another thread, as a signal handler
// would, and checks that `work` then ends by ECancelled with that reason: not before the
// request, and within PromptMs after it.
::testing::AssertionResult CancelledPromptly(TCancelToken& token, int afterMs,
                                             const std::function<void()>& work,
                                             int reason = SIGINT) {
    Clock::time_point asked;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        asked = Clock::now();
        token.Cancel(reason);
    });
    int raised = 0;
    try {
        work();
    } catch (const ECancelled& e) {
        raised = e.Reason();
    }
    const Clock::time_point ended = Clock::now();
    canceller.join();
    const double ms = std::chrono::duration<double, std::milli>(ended - asked).count();
    if (raised != reason) {
        return ::testing::AssertionFailure() << "ended by reason " << raised << ", not " << reason;
    }
    if (ms < 0 || ms > PromptMs) {
        return ::testing::AssertionFailure() << "ended " << ms << " ms after the request";
    }
    return ::testing::AssertionSuccess();
}

double ThreadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

class CancelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        io.PortNameSource = [this] { return far.Path(); };
        io.SetCancelToken(&token);
    }

    // A pause and a read of 300 ms each on the open port run their full length, and do
    // not spin: a wait woken again and again would burn most of the 600 ms, and even a
    // busy machine leaves a spinning thread a fifth of a processor.
    void ExpectFullWaitsWithoutSpinning() {
        const auto start = Clock::now();
        const double cpuBefore = ThreadCpuMs();
        EXPECT_NO_THROW(io.Pause(300));
        EXPECT_EQ(io.ReadByte(300), -1);
        EXPECT_GE(MsSince(start), 599.0);
        EXPECT_LT(ThreadCpuMs() - cpuBefore, 30.0) << "the waits spun";
    }

    PtyPair far;
    TCancelToken token;
    TComIo io;
};

TEST_F(CancelTest, EndsAReadThatWaitsForAByte) {
    io.Connect(4407315);
    EXPECT_TRUE(CancelledPromptly(token, 150, [&] { io.ReadByte(5000); }));
    EXPECT_TRUE(io.cPort->Connected()) << "the caller closes the port afterwards";
    io.DisConnect();
    EXPECT_FALSE(io.cPort->Connected());
}

TEST_F(CancelTest, EndsAWriteThatTheLineDoesNotTake) {
    io.Connect(4407315);
    // Fill the pseudo-terminal first, so the real write has to wait.
    io.cPort->Timeouts.SetWriteTotalConstant(100);
    io.cPort->Timeouts.SetWriteTotalMultiplier(0);
    std::vector<std::uint8_t> lots(1 << 20, 0xAA);
    io.cPort->Write(lots.data(), static_cast<std::int32_t>(lots.size()));
    io.cPort->Timeouts.SetWriteTotalConstant(1000);
    io.cPort->Timeouts.SetWriteTotalMultiplier(100);
    EXPECT_TRUE(CancelledPromptly(
        token, 150, [&] { io.cPort->Write(lots.data(), 269); }, SIGTERM));
}

TEST_F(CancelTest, EndsAPause) {
    EXPECT_TRUE(CancelledPromptly(
        token, 100, [&] { io.Pause(5000); }, SIGHUP));
}

// The link passes a cancellation through unchanged: it is no link code. The module
// dribbles its 55-byte reply, a byte every 60 ms (140 ms inside the 200 ms that a later
// byte may take), so the cancellation comes in the middle of the reply.
TEST_F(CancelTest, EndsAnExchangeWhereverItIs) {
    sim::KordelSim module;
    std::string error;
    module.AddFault(*sim::ParseFaultRule("F2=dribble:60", error));
    io.PortNameSource = [&] { return module.SlavePath(); };
    io.Connect(4407315);
    EXPECT_TRUE(CancelledPromptly(token, 600, [&] {
        io.NewOut(0xF2);
        std::int32_t result = io.ComAction(1000);
        ADD_FAILURE() << "ComAction returned " << result;
    }));
}

// Once the token is cancelled, port work ends at once even where no wait is needed: a
// byte that is already there is not taken, a write does not start, a pause does not
// begin, and a connect stops before its break pulse. Reset takes the cancellation back:
// everything works again, and the byte is still there.
TEST_F(CancelTest, NothingStartsUntilTheTokenIsReset) {
    io.Connect(4407315);
    far.Send({0x42});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    token.Cancel(SIGTERM);
    const std::uint8_t byte = 0x77;
    const std::function<void()> steps[] = {
        [&] { io.ReadByte(1000); },
        [&] { io.cPort->Write(&byte, 1); },
        [&] { io.Pause(1000); },
    };
    auto start = Clock::now();
    for (const auto& step : steps) {
        try {
            step();
            ADD_FAILURE() << "a step ran on a cancelled token";
        } catch (const ECancelled& e) {
            EXPECT_EQ(e.Reason(), SIGTERM);
            EXPECT_STREQ(e.what(), InterruptedText);
        }
    }
    EXPECT_LT(MsSince(start), PromptMs) << "the pause or the read waited";
    EXPECT_TRUE(far.Receive(50).empty()) << "something was written";

    token.Reset();
    EXPECT_EQ(token.Reason(), 0);
    EXPECT_EQ(io.ReadByte(1000), 0x42) << "the waiting byte was taken";
    EXPECT_EQ(io.cPort->Write(&byte, 1), 1);
    EXPECT_EQ(far.Receive(50), std::vector<std::uint8_t>{0x77});
    start = Clock::now();
    EXPECT_NO_THROW(io.Pause(100));
    EXPECT_GE(MsSince(start), 99.0);

    token.Cancel(SIGINT);
    io.DisConnect();
    EXPECT_THROW(io.Connect(4407315), ECancelled);
    EXPECT_TRUE(io.cPort->Connected()) << "opened, then stopped; the caller closes it";
    io.DisConnect();
    token.Reset();
    EXPECT_NO_THROW(io.Connect(4407315));
}

// A reset token keeps no wake-up: its next waits run their full length without spinning,
// and a new cancellation still ends them at once.
TEST_F(CancelTest, ResetLeavesNoWakeUpBehind) {
    io.Connect(4407315);
    token.Cancel(SIGINT);
    token.Reset();
    ExpectFullWaitsWithoutSpinning();
    EXPECT_TRUE(CancelledPromptly(token, 100, [&] { io.ReadByte(5000); }));
}

// A token belongs to one process: a forked child that cancels it wakes the parent's
// waits through the shared eventfd, but they neither end nor spin (the one test that
// has to fork).
TEST_F(CancelTest, ForkedChildsCancelLeavesTheParentAlone) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        token.Cancel(SIGINT);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    io.Connect(4407315);
    ExpectFullWaitsWithoutSpinning();
    EXPECT_EQ(token.Reason(), 0);
}

// A link without a token, or whose token was taken away, is never cancelled.
TEST_F(CancelTest, LinkWithoutATokenIsNeverCancelled) {
    io.SetCancelToken(nullptr);
    token.Cancel(SIGINT);
    io.Connect(4407315);
    far.Send({0x42});
    EXPECT_EQ(io.ReadByte(1000), 0x42);
    EXPECT_NO_THROW(io.Pause(10));
}

// A parent's cancellation ends the waits on every child. A child's own cancellation ends
// its own link's waits only: a sibling's link and the parent go on.
TEST(CancelTokenTest, ParentReachesEveryChildAndAChildOnlyItself) {
    TCancelToken all;
    PtyPair farA, farB;
    TCancelToken portA(&all), portB(&all);
    TComIo a, b;
    a.PortNameSource = [&] { return farA.Path(); };
    b.PortNameSource = [&] { return farB.Path(); };
    a.SetCancelToken(&portA);
    b.SetCancelToken(&portB);
    a.Connect(4407315);
    b.Connect(4407315);

    std::thread other([&] {
        const auto start = Clock::now();
        EXPECT_EQ(b.ReadByte(600), -1);
        EXPECT_GE(MsSince(start), 599.0) << "the sibling's cancellation reached this link";
    });
    EXPECT_TRUE(CancelledPromptly(
        portA, 100, [&] { a.ReadByte(5000); }, CancelUnplugged));
    other.join();
    EXPECT_EQ(all.Reason(), 0);
    EXPECT_EQ(portB.Reason(), 0);

    portA.Reset();
    std::thread second([&] {
        try {
            b.ReadByte(5000);
            ADD_FAILURE() << "the parent's cancellation did not reach the second link";
        } catch (const ECancelled& e) {
            EXPECT_EQ(e.Reason(), SIGTERM);
        }
    });
    EXPECT_TRUE(CancelledPromptly(
        all, 100, [&] { a.ReadByte(5000); }, SIGTERM));
    second.join();
    EXPECT_EQ(portA.Reason(), SIGTERM);
    portA.Reset();
    EXPECT_EQ(portA.Reason(), SIGTERM) << "a child's reset leaves the parent's cancellation";
}

TEST(CancelTokenTest, FirstReasonWinsAndTheNearestIsReported) {
    TCancelToken parent;
    TCancelToken child(&parent);
    EXPECT_EQ(child.Reason(), 0);
    EXPECT_NO_THROW(child.ThrowIfCancelled());
    child.Cancel(0);
    EXPECT_EQ(child.Reason(), 0) << "0 is no reason";
    child.Cancel(SIGINT);
    child.Cancel(SIGTERM);
    EXPECT_EQ(child.Reason(), SIGINT);
    parent.Cancel(SIGHUP);
    EXPECT_EQ(child.Reason(), SIGINT);
    EXPECT_EQ(parent.Reason(), SIGHUP);
    child.Reset();
    EXPECT_EQ(child.Reason(), SIGHUP);
    try {
        child.ThrowIfCancelled();
        ADD_FAILURE() << "no ECancelled";
    } catch (const ECancelled& e) {
        EXPECT_EQ(e.Reason(), SIGHUP);
        EXPECT_EQ(e.Signal(), SIGHUP);
        EXPECT_STREQ(e.what(), InterruptedText);
    }
    EXPECT_STREQ(ECancelled(CancelUnplugged).what(), UnpluggedText);
}

TEST(CancelTokenTest, ChainLongerThanTheWaitsWatchIsRefused) {
    TCancelToken t1;
    TCancelToken t2(&t1);
    TCancelToken t3(&t2);
    TCancelToken t4(&t3);
    static_assert(TCancelToken::MaxChain == 4);
    EXPECT_THROW({ TCancelToken t5(&t4); }, std::invalid_argument);
    // The farthest one still ends a wait on the nearest.
    EXPECT_TRUE(CancelledPromptly(t1, 100, [&] {
        if (!PauseMs(5000, &t4)) t4.ThrowIfCancelled();
    }));
}

// ---------------------------------------------------------------- kordel-flash

struct SignalCase {
    int signal;
    int exitCode;
};

class FlashSignalTest : public ::testing::TestWithParam<SignalCase> {};

// The signal comes while kordel-flash waits up to 500 ms for the reply to a block that
// the module holds back for seconds. It ends kordel-flash at once, with the port closed,
// 128 + the signal as exit status and the partial image named; a tool that noticed the
// signal only after the wait would end with the block's failure (exit status 1).
TEST_P(FlashSignalTest, SignalEndsTheUpdateAtOnceWithThePortClosed) {
    sim::KordelSim module;
    std::string error;
    module.AddFault(*sim::ParseFaultRule("F9@1=delay:5000", error));
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    ASSERT_EQ(::chmod(module.SlavePath().c_str(), 0666), 0);

    int errPipe[2];
    ASSERT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string path = module.SlavePath();
    std::vector<std::string> args = {KORDEL_FLASH, "--quiet", "--port", path};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, KORDEL_FLASH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errPipe[1]);

    // Wait for the first block, then well into the wait for its reply.
    const auto start = Clock::now();
    while (module.Requests().size() < 3 && MsSince(start) < 10000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(module.Requests().size(), 3u) << "kordel-flash never sent the first block";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto signalled = Clock::now();
    ::kill(pid, GetParam().signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double ms = MsSince(signalled);

    std::string err;
    char buf[4096];
    for (ssize_t n; (n = ::read(errPipe[0], buf, sizeof buf)) > 0;) err.append(buf, n);
    ::close(errPipe[0]);

    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal itself";
    EXPECT_EQ(WEXITSTATUS(status), GetParam().exitCode) << err;
    EXPECT_LT(ms, PromptMs);
    EXPECT_NE(err.find(path + ": " + InterruptedText), std::string::npos) << err;
    EXPECT_EQ(OpenAsUnprivilegedUser(path), 0) << "the port was left exclusive, not closed";
    EXPECT_EQ(module.Requests().size(), 3u) << "nothing was sent after the signal";
    std::printf("[ measured ] signal %d: kordel-flash exited %.1f ms after it\n", GetParam().signal,
                ms);
}

INSTANTIATE_TEST_SUITE_P(Signals, FlashSignalTest,
                         ::testing::Values(SignalCase{SIGINT, 130}, SignalCase{SIGTERM, 143},
                                           SignalCase{SIGHUP, 129}));

}  // namespace
}  // namespace kordel

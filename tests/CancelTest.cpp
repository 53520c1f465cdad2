// Cancellation of port work: a request (what SIGINT and SIGTERM make) ends a running read,
// write or pause within 250 ms, whatever the far end does. A request cannot be taken
// back in a process, so each case runs in a child process of its own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "Cancel.h"
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

constexpr double PromptMs = 250.0;

// Runs `body` in a forked child; the child's exit code: 0 when `body` returned true.
int InChild(const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        bool ok = false;
        try {
            ok = body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "unexpected exception: %s\n", e.what());
        }
        std::fflush(nullptr);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Asks for cancellation after `ms` from another thread, as a signal handler would, and
// checks that `work` then ends by ECancelled within PromptMs.
bool CancelledPromptly(int afterMs, const std::function<void()>& work) {
    Clock::time_point asked;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        asked = Clock::now();
        RequestCancel(SIGINT);
    });
    bool cancelled = false;
    try {
        work();
        std::fprintf(stderr, "the work ended without ECancelled\n");
    } catch (const ECancelled& e) {
        cancelled = e.Signal() == SIGINT;
    }
    const Clock::time_point ended = Clock::now();
    canceller.join();
    const double ms = std::chrono::duration<double, std::milli>(ended - asked).count();
    if (ms > PromptMs) std::fprintf(stderr, "ended %.0f ms after the request\n", ms);
    return cancelled && ms <= PromptMs;
}

class CancelTest : public ::testing::Test {
  protected:
    void SetUp() override { io.PortNameSource = [this] { return far.Path(); }; }
    PtyPair far;
    TComIo io;
};

TEST_F(CancelTest, EndsAReadThatWaitsForAByte) {
    EXPECT_EQ(InChild([&] {
                  io.Connect(4407315);
                  const bool prompt = CancelledPromptly(150, [&] { io.ReadByte(5000); });
                  const bool stillOpen = io.cPort->Connected();
                  io.DisConnect();  // the caller closes the port afterwards
                  return prompt && stillOpen && !io.cPort->Connected();
              }),
              0);
}

TEST_F(CancelTest, EndsAWriteThatTheLineDoesNotTake) {
    EXPECT_EQ(InChild([&] {
                  io.Connect(4407315);
                  // Fill the pseudo-terminal first, so the real write has to wait.
                  io.cPort->Timeouts.SetWriteTotalConstant(100);
                  io.cPort->Timeouts.SetWriteTotalMultiplier(0);
                  std::vector<std::uint8_t> lots(1 << 20, 0xAA);
                  io.cPort->Write(lots.data(), static_cast<std::int32_t>(lots.size()));
                  io.cPort->Timeouts.SetWriteTotalConstant(1000);
                  io.cPort->Timeouts.SetWriteTotalMultiplier(100);
                  return CancelledPromptly(150, [&] { io.cPort->Write(lots.data(), 269); });
              }),
              0);
}

TEST_F(CancelTest, EndsAPause) {
    EXPECT_EQ(InChild([] { return CancelledPromptly(100, [] { PauseMs(5000); }); }), 0);
}

// Once cancellation was asked for, port work ends at once even where no wait is needed:
// a byte that is already there is not taken, a write does not start, a pause does not
// begin, and a connect stops before its break pulse.
TEST_F(CancelTest, NothingStartsAfterTheRequest) {
    EXPECT_EQ(InChild([&] {
                  io.Connect(4407315);
                  far.Send({0x42});
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  RequestCancel(SIGTERM);
                  int raised = 0;
                  const std::uint8_t byte = 0;
                  const std::function<void()> steps[] = {
                      [&] { io.ReadByte(1000); },
                      [&] { io.cPort->Write(&byte, 1); },
                      [] { PauseMs(1000); },
                      [&] {
                          io.DisConnect();
                          io.Connect(4407315);
                      },
                  };
                  for (const auto& step : steps) {
                      try {
                          step();
                      } catch (const ECancelled& e) {
                          raised += e.Signal() == SIGTERM;
                      }
                  }
                  const bool byteKept = far.Receive(50).empty();
                  io.DisConnect();
                  return raised == 4 && byteKept;
              }),
              0);
}

double CpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// A cancellation belongs to the process that asked: a forked child's request neither
// ends the parent's waits nor keeps them busy.
TEST_F(CancelTest, ChildsRequestLeavesTheParentAlone) {
    ASSERT_EQ(InChild([] {
                  RequestCancel(SIGINT);
                  return true;
              }),
              0);
    io.Connect(4407315);
    const auto start = Clock::now();
    const double cpuBefore = CpuMs();
    EXPECT_NO_THROW(PauseMs(100));
    EXPECT_EQ(io.ReadByte(200), -1);
    EXPECT_GE(MsSince(start), 299.0);
    EXPECT_LT(CpuMs() - cpuBefore, 50.0) << "the waits spun";
}

// The link passes a cancellation through unchanged: it is no link code.
TEST_F(CancelTest, ComActionPassesTheCancellationThrough) {
    // The simulated module runs threads, so the child starts it: a process forked while
    // other threads run may not start threads of its own.
    EXPECT_EQ(InChild([&] {
                  sim::KordelSim module;
                  std::string error;
                  module.AddFault(*sim::ParseFaultRule("F2=dribble:170", error));
                  io.PortNameSource = [&] { return module.SlavePath(); };
                  io.Connect(4407315);
                  return CancelledPromptly(600, [&] {
                      io.NewOut(0xF2);
                      std::int32_t result = io.ComAction(1000);
                      std::fprintf(stderr, "ComAction returned %d\n", result);
                  });
              }),
              0);
}

// ---------------------------------------------------------------- kordel-flash

struct SignalCase {
    int signal;
    int exitCode;
};

class FlashSignalTest : public ::testing::TestWithParam<SignalCase> {};

// A module that dribbles a valid reply, one byte every 170 ms, keeps an exchange alive
// for seconds; the signal still ends kordel-flash within 250 ms, with the port closed.
TEST_P(FlashSignalTest, SignalEndsTheUpdateWithinAQuarterSecond) {
    sim::KordelSim module;
    std::string error;
    module.AddFault(*sim::ParseFaultRule("F2=dribble:170", error));
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

    // Wait for the identification request, then well into its dribbled reply.
    const auto start = Clock::now();
    while (module.Requests().empty() && MsSince(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(module.Requests().empty()) << "kordel-flash never asked";
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
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
    EXPECT_NE(err.find("partial image"), std::string::npos) << err;
    EXPECT_EQ(OpenAsUnprivilegedUser(path), 0) << "the port was left exclusive, not closed";
    EXPECT_EQ(module.Requests().size(), 1u) << "nothing was sent after the signal";
    std::printf("[ measured ] signal %d: kordel-flash exited %.1f ms after it\n",
                GetParam().signal, ms);
}

INSTANTIATE_TEST_SUITE_P(Signals, FlashSignalTest,
                         ::testing::Values(SignalCase{SIGINT, 130}, SignalCase{SIGTERM, 143}));

}  // namespace
}  // namespace kordel

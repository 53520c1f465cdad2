// Cancel tokens on Windows: a token's event ends a waiting read and every pause at once,
// a parent's ends the waits on its children, and a reset token lets them run again.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "CancelToken.h"
#include "ComIo.h"
#include "Pause.h"

namespace kordel {
namespace {

using Clock = std::chrono::steady_clock;

// The waits cancelled here would last 2 s or more.
constexpr double PromptMs = 1000.0;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(CancelTest, EndsAWaitingReadThenEveryPauseUntilReset) {
    const char* port = std::getenv("KORDEL_TEST_COM");
    ASSERT_NE(port, nullptr) << "KORDEL_TEST_COM names no port: run the wine test driver";
    TCancelToken token;
    TComIo io;
    io.PortNameSource = [&] { return std::string(port); };
    io.SetCancelToken(&token);
    io.Connect(4407315);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        token.Cancel(SIGINT);
    });
    auto start = Clock::now();
    try {
        io.ReadByte(5000);
        ADD_FAILURE() << "the read was not cancelled";
    } catch (const ECancelled& e) {
        EXPECT_EQ(e.Reason(), SIGINT);
    }
    canceller.join();
    EXPECT_GE(MsSince(start), 99.0);
    EXPECT_LT(MsSince(start), 100.0 + PromptMs);
    start = Clock::now();
    EXPECT_THROW(io.Pause(2000), ECancelled);
    EXPECT_LT(MsSince(start), PromptMs);

    token.Reset();
    start = Clock::now();
    EXPECT_NO_THROW(io.Pause(100));
    EXPECT_GE(MsSince(start), 99.0);
    EXPECT_EQ(io.ReadByte(100), -1);
    io.DisConnect();
    EXPECT_FALSE(io.cPort->Connected());
}

TEST(CancelTest, ParentEndsAPauseOnItsChild) {
    TCancelToken all;
    TCancelToken port(&all);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        all.Cancel(SIGTERM);
    });
    const auto start = Clock::now();
    EXPECT_FALSE(PauseMs(5000, &port));
    canceller.join();
    EXPECT_LT(MsSince(start), 100.0 + PromptMs);
    EXPECT_EQ(port.Reason(), SIGTERM);
}

}  // namespace
}  // namespace kordel

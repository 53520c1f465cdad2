// Cancellation of port work on Windows. Cancellation is process-wide and final, so
// these tests run in a program of their own.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "Cancel.h"
#include "ComIo.h"
#include "Pause.h"

namespace kordel {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(CancelTest, EndsAWaitingReadThenEveryPauseAtOnce) {
    const char* port = std::getenv("KORDEL_TEST_COM");
    ASSERT_NE(port, nullptr) << "KORDEL_TEST_COM names no port: run the wine test driver";
    TComIo io;
    io.PortNameSource = [&] { return std::string(port); };
    io.Connect(4407315);
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        RequestCancel(SIGINT);
    });
    auto start = Clock::now();
    try {
        io.ReadByte(5000);
        ADD_FAILURE() << "the read was not cancelled";
    } catch (const ECancelled& e) {
        EXPECT_EQ(e.Signal(), SIGINT);
    }
    canceller.join();
    EXPECT_LT(MsSince(start), 1000.0);
    start = Clock::now();
    EXPECT_THROW(PauseMs(2000), ECancelled);
    EXPECT_LT(MsSince(start), 50.0);
    io.DisConnect();
    EXPECT_FALSE(io.cPort->Connected());
}

}  // namespace
}  // namespace kordel

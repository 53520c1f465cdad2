// The serial port layer on a real pseudo-terminal; the test plays the far end.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <functional>
#include <thread>

#include "ComIo.h"
#include "LineParamsLinux.h"
#include "PtyPair.h"
#include "Unprivileged.h"

namespace kordel {
namespace {

using testing::MsSince;
using testing::PtyPair;
using Clock = std::chrono::steady_clock;

class PortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        io.PortNameSource = [this] { return portName; };
        io.OnPortState = [this](bool open) { led.push_back(open); };
    }

    PtyPair far;
    std::string portName = far.Path();
    std::vector<bool> led;  // outlives io, whose destructor still reports the close
    TComIo io;
};

TEST_F(PortTest, ConnectProgramsTheLineAndLightsTheLed) {
    io.Connect(4407315);
    // The line as the driver holds it, which a pseudo-terminal's two sides share.
    sim::LineParams line;
    ASSERT_EQ(sim::ReadLineParams(far.Master(), line), 0);
    EXPECT_EQ(line.outputBaud, 4407315u);
    EXPECT_EQ(line.inputBaud, 4407315u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_FALSE(line.parity);
    EXPECT_FALSE(line.twoStopBits);
    EXPECT_FALSE(line.rtsCtsFlow);
    EXPECT_FALSE(line.xonXoff);
    EXPECT_TRUE(line.raw);
    EXPECT_EQ(led, (std::vector<bool>{true}));

    io.Connect(4407315);  // reconnecting closes first
    io.DisConnect();
    io.DisConnect();  // closed already: no second notification
    EXPECT_EQ(led, (std::vector<bool>{true, false, true, false}));
}

TEST_F(PortTest, ConnectTakesAboutFortyMillisecondsForTheBreakPulse) {
    const auto start = Clock::now();
    io.Connect(4407315);
    EXPECT_GE(MsSince(start), 40.0);
}

TEST_F(PortTest, ReadByteTiming) {
    io.Connect(4407315);

    far.Send({0x00, 0xFF});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto start = Clock::now();
    EXPECT_EQ(io.ReadByte(1000), 0x00);
    EXPECT_EQ(io.ReadByte(1000), 0xFF);
    EXPECT_LT(MsSince(start), 400.0) << "waiting bytes come at once, not at the time-out";

    start = Clock::now();
    EXPECT_EQ(io.ReadByte(200), -1);
    EXPECT_GE(MsSince(start), 199.0);
    EXPECT_LT(MsSince(start), 450.0);

    start = Clock::now();  // before the sender starts its 50 ms
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        far.Send({0x42});
    });
    EXPECT_EQ(io.ReadByte(1000), 0x42);
    const double took = MsSince(start);
    late.join();
    EXPECT_GE(took, 45.0);
    EXPECT_LT(took, 400.0) << "a late byte is returned on arrival";
}

TEST_F(PortTest, ClearBufferDiscardsWhatArrivedBefore) {
    io.Connect(4407315);
    far.Send({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    io.cPort->ClearBuffer(true, true);
    EXPECT_EQ(io.ReadByte(50), -1);
}

TEST_F(PortTest, WriteSendsAllBytesAndReportsTheCount) {
    io.Connect(4407315);
    far.Receive(30);  // nothing but a break was sent so far
    std::vector<std::uint8_t> frame(269);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(io.cPort->Write(frame.data(), 269), 269);
    EXPECT_EQ(far.Receive(), frame);
}

TEST_F(PortTest, PortNotOpenBeforeConnectAndAfterDisConnect) {
    auto expectNotOpen = [&](auto action) {
        try {
            action();
            FAIL() << "no exception";
        } catch (const EComPort& e) {
            EXPECT_EQ(std::string(e.what()), "Port Not Open");
            EXPECT_EQ(e.Code(), 24);
            EXPECT_EQ(e.WinCode(), -1);
        }
    };
    const std::uint8_t byte = 0;
    expectNotOpen([&] { io.ReadByte(10); });
    expectNotOpen([&] { io.cPort->Write(&byte, 1); });
    io.Connect(4407315);
    io.DisConnect();
    expectNotOpen([&] { io.ReadByte(10); });
    expectNotOpen([&] { io.cPort->Write(&byte, 1); });
}

struct OpenFailure {
    const char* name;
    const char* message;
};

class OpenFailureTest : public PortTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, NamesTheFailureAndLeavesThePortClosed) {
    portName = GetParam().name;
    try {
        io.Connect(4407315);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
        EXPECT_EQ(e.Code(), 1);
    }
    EXPECT_FALSE(io.cPort->Connected());
    EXPECT_TRUE(led.empty()) << "no open notification";
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenFailureTest,
    ::testing::Values(OpenFailure{"/dev/ttyKORDEL-missing", "Unable to open com port (Error: 2)"},
                      OpenFailure{"", "Unable to open com port (Error: 2)"},
                      OpenFailure{"/dev/null", "Unable to open com port (Error: 25)"}));

// The holder keeps the port although a second instance (root) tried to open it: a later
// opener that is not root is still refused, and gets in only once the holder closed.
TEST_F(PortTest, HeldPortStaysExclusiveAfterARefusedOpener) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    ASSERT_EQ(::chmod(far.Path().c_str(), 0666), 0);  // only the exclusive flag may refuse
    ASSERT_EQ(OpenAsUnprivilegedUser(far.Path()), 0) << "free port: anyone may open it";

    io.Connect(4407315);
    TComIo second;
    second.PortNameSource = [this] { return portName; };
    try {
        second.Connect(4407315);
        FAIL() << "shared the port";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(std::string(e.what()), "Unable to open com port (Error: 16)");
    }
    EXPECT_EQ(OpenAsUnprivilegedUser(far.Path()), EBUSY) << "the refused opener freed the port";
    EXPECT_EQ(OpenAsUnprivilegedUser(far.Path()), EBUSY);
    io.DisConnect();
    EXPECT_EQ(OpenAsUnprivilegedUser(far.Path()), 0) << "closing clears the exclusive flag";
    EXPECT_NO_THROW(second.Connect(4407315));  // free again once closed
}

// Purge, break and modem status of a closed port fail under their own code with the
// platform's bad-handle error; "Port Not Open" belongs to reads and writes.
TEST_F(PortTest, ClosedPortOperationsFailWithTheirOwnCode) {
    struct Case {
        const char* what;
        std::function<void()> action;
        int code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"purge", [&] { io.cPort->ClearBuffer(true, true); }, 5,
         "PurgeComm function failed (Error: 9)"},
        {"purge nothing", [&] { io.cPort->ClearBuffer(false, false); }, 5,
         "PurgeComm function failed (Error: 9)"},
        {"break", [&] { io.cPort->SetBreak(true); }, 12,
         "EscapeCommFunction function failed (Error: 9)"},
        {"modem", [&] { io.cPort->ModemStatus(); }, 11,
         "GetCommModemStatus function failed (Error: 9)"},
    };
    for (int round = 0; round < 2; ++round) {  // never opened; opened and closed again
        for (const auto& c : cases) {
            try {
                c.action();
                ADD_FAILURE() << c.what << ": no exception";
            } catch (const EComPort& e) {
                EXPECT_EQ(e.Code(), c.code) << c.what;
                EXPECT_EQ(e.WinCode(), EBADF) << c.what;
                EXPECT_EQ(std::string(e.what()), c.message) << c.what;
            }
        }
        io.Connect(4407315);
        io.DisConnect();
    }
}

// A far end that takes nothing: the write gives up after 100 ms per byte plus 1000 ms
// and reports the bytes it got rid of, without a failure.
TEST_F(PortTest, WritePastItsTimeLimitEndsShortWithoutFailure) {
    io.Connect(4407315);
    // Fill what the pseudo-terminal can hold, quickly.
    io.cPort->Timeouts.SetWriteTotalMultiplier(0);
    io.cPort->Timeouts.SetWriteTotalConstant(200);
    std::vector<std::uint8_t> lots(1 << 20, 0x55);
    const std::int32_t taken = io.cPort->Write(lots.data(), static_cast<std::int32_t>(lots.size()));
    ASSERT_GT(taken, 0);
    ASSERT_LT(taken, static_cast<std::int32_t>(lots.size())) << "the line took everything";

    io.cPort->Timeouts.SetWriteTotalMultiplier(100);
    io.cPort->Timeouts.SetWriteTotalConstant(1000);
    const std::uint8_t frame[5] = {1, 2, 3, 4, 5};
    const auto start = Clock::now();
    std::int32_t written = -1;
    EXPECT_NO_THROW(written = io.cPort->Write(frame, 5));
    const double took = MsSince(start);
    EXPECT_EQ(written, 0);
    EXPECT_GE(took, 1499.0) << "100 ms per byte plus 1000 ms";
    EXPECT_LT(took, 4500.0);
    EXPECT_TRUE(io.cPort->Connected());
}

TEST_F(PortTest, FailedLineSettingsCloseThePortAgain) {
    portName = far.Path();
    io.cPort->SetCustomBaudRate(0);
    io.cPort->SetBaudRate(TBaudRate::brCustom);
    try {
        io.cPort->Port = portName;
        io.cPort->Open();
        FAIL() << "opened with line speed 0";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 7);
        EXPECT_EQ(std::string(e.what()), "SetCommState function failed (Error: 22)");
    }
    EXPECT_FALSE(io.cPort->Connected());
    EXPECT_TRUE(led.empty());
}

TEST_F(PortTest, HangUpOfTheFarEndFailsTheRead) {
    io.Connect(4407315);
    far.CloseMaster();
    const auto start = Clock::now();
    try {
        io.ReadByte(2000);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 3);
        EXPECT_EQ(e.WinCode(), 5);
    }
    EXPECT_LT(MsSince(start), 500.0);
    EXPECT_TRUE(io.cPort->Connected()) << "the caller closes after a failure";
    io.DisConnect();
    EXPECT_EQ(led, (std::vector<bool>{true, false}));
}

TEST_F(PortTest, DestroyingTheLinkClosesThePort) {
    {
        TComIo scoped;
        scoped.PortNameSource = [this] { return portName; };
        scoped.Connect(4407315);
    }
    EXPECT_NO_THROW(io.Connect(4407315));
}

}  // namespace
}  // namespace kordel

// The serial port layer on a real pseudo-terminal; the test plays the far end.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <thread>

#include "ComIo.h"
#include "LineSettingsLinux.h"
#include "PtyPair.h"

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
    linux_tty::LineParams line;
    ASSERT_EQ(linux_tty::ReadLineParams(far.Master(), line), 0);
    EXPECT_EQ(line.outputBaud, 4407315u);
    EXPECT_EQ(line.inputBaud, 4407315u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_FALSE(line.parity);
    EXPECT_FALSE(line.twoStopBits);
    EXPECT_FALSE(line.rtsCtsFlow);
    EXPECT_FALSE(line.xonXoff);
    EXPECT_TRUE(line.raw);
    EXPECT_EQ(io.cPort->ActualBaudRate(), 4407315u);
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
    EXPECT_EQ(io.ReadByte(200), 0x00);
    EXPECT_EQ(io.ReadByte(200), 0xFF);
    EXPECT_LT(MsSince(start), 50.0) << "waiting bytes come at once";

    start = Clock::now();
    EXPECT_EQ(io.ReadByte(200), -1);
    EXPECT_GE(MsSince(start), 199.0);
    EXPECT_LT(MsSince(start), 400.0);

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

TEST_F(PortTest, SecondInstanceCannotOpenAHeldPort) {
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
    io.DisConnect();
    EXPECT_NO_THROW(second.Connect(4407315));  // free again once closed
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

// The link's rules seen from the port: which calls it makes, in which order, with which
// flags and when, recorded by a fake port that also plays the module. Also how platform
// failures become messages.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include "CancelToken.h"
#include "ComIo.h"
#include "RecordingPort.h"

namespace kordel {
namespace {

using testing::RecordingPause;
using testing::RecordingPort;
using testing::ReplyFrame;
using testing::TPortCall;
using Bytes = std::vector<std::uint8_t>;

double MsBetween(const TPortCall& a, const TPortCall& b) {
    return std::chrono::duration<double, std::milli>(b.at - a.at).count();
}

class PortRulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto fake = std::make_unique<RecordingPort>();
        port = fake.get();
        io.cPort = std::move(fake);
        pause = std::make_unique<RecordingPause>(*port, true);
        io.SetPause(pause.get());
        port->OnAfterOpen = [this](TComPort& p) { io.cPortAfterOpen(p); };
        port->OnAfterClose = [this](TComPort& p) { io.cPortAfterClose(p); };
        io.PortNameSource = [] { return std::string("fake0"); };
        io.OnPortState = [this](bool open) { port->Note(open ? "AfterOpen" : "AfterClose"); };
        // The module answers every request with status 0 and `replyData`, under the
        // request's sequence number plus `seqOffset`.
        port->onWrite = [this](const Bytes& request) {
            const auto reply =
                ReplyFrame(static_cast<std::uint8_t>(request[1] + seqOffset), 0, replyData);
            port->incoming.assign(reply.begin(), reply.end());
        };
    }

    std::int32_t Exchange(std::int32_t timeout = 200, std::uint8_t command = 0xF2) {
        io.NewOut(command);
        return io.ComAction(timeout);
    }

    // The calls made since `mark` (an index into the record).
    std::vector<TPortCall> Since(std::size_t mark) const {
        return {port->calls.begin() + static_cast<std::ptrdiff_t>(mark), port->calls.end()};
    }

    TComIo io;
    RecordingPort* port = nullptr;
    std::unique_ptr<RecordingPause> pause;
    Bytes replyData = {0x11, 0x22, 0x33};
    int seqOffset = 0;
};

// The first reply byte waits the caller's timeout; every later byte 200 ms, whatever
// the caller's timeout is.
TEST_F(PortRulesTest, LaterReplyBytesWaitTwoHundredMilliseconds) {
    io.Connect(4407315);
    for (std::int32_t callerTimeout : {1000, 50}) {
        const std::size_t mark = port->calls.size();
        ASSERT_EQ(Exchange(callerTimeout), 0);
        std::vector<long> timeouts;
        for (const auto& c : Since(mark)) {
            if (c.op == "Read") timeouts.push_back(c.args[1]);
        }
        std::vector<long> expected(7 + replyData.size(), 200);
        expected[0] = callerTimeout;
        EXPECT_EQ(timeouts, expected) << "caller's timeout " << callerTimeout;
    }
}

// 20 ms after the port is set up the line goes into break, and 20 ms later it is
// released; nothing else happens in between. The pauses asked for decide; the clock only
// shows that they were really slept (a busy machine can only make them longer).
TEST_F(PortRulesTest, BreakGoesOnTwentyMillisecondsAfterSetUpForTwentyMilliseconds) {
    io.Connect(4407315);
    const auto& calls = port->calls;
    ASSERT_GE(calls.size(), 5u);
    std::vector<std::pair<std::string, std::vector<long>>> tail;
    for (std::size_t i = calls.size() - 4; i < calls.size(); ++i) {
        tail.emplace_back(calls[i].op, calls[i].args);
    }
    const decltype(tail) expected = {
        {"Pause", {20}}, {"Break", {1}}, {"Pause", {20}}, {"Break", {0}}};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(port->CallsOf("Break").size(), 2u);
    EXPECT_EQ(port->CallsOf("Pause").size(), 2u);
    const auto& setUp = calls[calls.size() - 5];
    EXPECT_EQ(setUp.op, "ModemStatus") << "the open is complete before the first pause";
    const auto& on = calls[calls.size() - 3];
    const auto& off = calls.back();
    EXPECT_GE(MsBetween(setUp, on), 19.5);
    EXPECT_GE(MsBetween(on, off), 19.5);
    EXPECT_LT(MsBetween(setUp, on), 200.0);
    EXPECT_LT(MsBetween(on, off), 200.0);
}

// Before every request frame both directions are purged, and only then is it written.
TEST_F(PortRulesTest, EveryRequestIsPrecededByAPurgeOfBothDirections) {
    io.Connect(4407315);
    const std::size_t mark = port->calls.size();
    ASSERT_EQ(Exchange(), 0);
    seqOffset = 1;  // a failed exchange purges just the same before the next one
    ASSERT_EQ(Exchange(), LinkWrongSequence);
    seqOffset = 0;
    ASSERT_EQ(Exchange(), 0);
    const auto calls = Since(mark);
    int writes = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op != "Write") continue;
        ++writes;
        ASSERT_GE(i, 1u);
        EXPECT_EQ(calls[i - 1].op, "Purge") << "write " << writes;
        EXPECT_EQ(calls[i - 1].args, (std::vector<long>{0, 1, 1})) << "no abort, rx and tx";
    }
    EXPECT_EQ(writes, 3);
}

// A reply under another sequence number is refused after its second byte: the count
// bytes are never read.
TEST_F(PortRulesTest, SequenceByteIsCheckedBeforeTheCountIsRead) {
    io.Connect(4407315);
    seqOffset = 1;
    const std::size_t mark = port->calls.size();
    EXPECT_EQ(Exchange(), LinkWrongSequence);
    int reads = 0;
    for (const auto& c : Since(mark)) reads += c.op == "Read";
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(port->incoming.size(), 7 + replyData.size() - 2) << "the rest stays unread";
    EXPECT_EQ(io.InMsg.Sequence, static_cast<std::uint8_t>(io.Seq + 1));
}

// The open notification comes before the three modem-line reads of the open.
TEST_F(PortRulesTest, OpenNotificationComesBeforeTheModemLineReads) {
    io.Connect(4407315);
    std::vector<std::string> ops;
    for (const auto& c : port->calls) {
        if (c.op == "AfterOpen" || c.op == "ModemStatus" || c.op == "Timeouts") ops.push_back(c.op);
    }
    EXPECT_EQ(ops, (std::vector<std::string>{"Timeouts", "AfterOpen", "ModemStatus", "ModemStatus",
                                             "ModemStatus"}));
}

// One request frame is one write, however long its payload.
TEST_F(PortRulesTest, OneFrameIsOneWrite) {
    io.Connect(4407315);
    for (std::uint16_t payload : {0, 1, 262, 267}) {
        port->writes.clear();
        io.NewOut(0xF9);
        for (std::uint16_t i = 0; i < payload; ++i) io.AddOut(TWidth::TBYTE, i);
        ASSERT_EQ(io.ComAction(200), 0);
        ASSERT_EQ(port->writes.size(), 1u) << "payload " << payload;
        EXPECT_EQ(port->writes[0].size(), payload + 7u);
    }
}

// Connect never resets the sequence counter: the frame after a reconnect carries the
// next number, at any point of the count (not only right after a wrap).
TEST_F(PortRulesTest, ConnectNeverResetsTheSequence) {
    io.Connect(4407315);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Exchange(), 0);
    io.DisConnect();
    io.Connect(4407315);
    ASSERT_EQ(Exchange(), 0);
    ASSERT_EQ(port->writes.size(), 4u);
    EXPECT_EQ(port->writes.back()[1], 4);
    EXPECT_EQ(io.Seq, 4);
}

// A port whose device went away fails the purge that aborts pending I/O. Close still
// releases the device, marks the port closed and tells the link (LED off), then reports
// the failure once; the next Connect opens the device anew.
TEST_F(PortRulesTest, ClosingAfterAFailedPurgeReleasesThePortAndReportsOnce) {
    io.Connect(4407315);
    port->failWith["AbortPurge"] = 31;
    try {
        io.DisConnect();
        ADD_FAILURE() << "the failed purge is reported";
    } catch (const EComPort& e) {
        EXPECT_EQ(std::string(e.what()), "PurgeComm function failed (Error: 31)");
    }
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(port->CallsOf("Close").size(), 1u) << "the device is released";
    ASSERT_FALSE(port->calls.empty());
    EXPECT_EQ(port->calls.back().op, "AfterClose");
    EXPECT_NO_THROW(io.DisConnect()) << "reported once";

    const std::size_t mark = port->calls.size();
    io.Connect(4407315);
    EXPECT_EQ(Since(mark).front().op, "Open") << "nothing left to close first";
    EXPECT_TRUE(port->Connected());
    port->failWith.clear();
    EXPECT_EQ(Exchange(), 0);
}

// A cancelled link asks the platform for nothing that waits or moves bytes: no read
// (which could take a byte that waits), no write, no pause.
TEST_F(PortRulesTest, CancelledLinkAsksThePlatformForNothing) {
    TCancelToken token;
    io.SetCancelToken(&token);
    io.Connect(4407315);
    port->incoming = {0x42};
    token.Cancel(SIGINT);
    const std::size_t mark = port->calls.size();
    const std::uint8_t byte = 0;
    EXPECT_THROW(io.ReadByte(200), ECancelled);
    EXPECT_THROW(io.cPort->Write(&byte, 1), ECancelled);
    EXPECT_THROW(io.Pause(25), ECancelled);
    EXPECT_EQ(port->incoming.size(), 1u) << "the waiting byte was taken";
    io.NewOut(0xF2);
    EXPECT_THROW(io.ComAction(200), ECancelled);
    for (const auto& c : Since(mark)) {
        EXPECT_TRUE(c.op != "Read" && c.op != "Write" && c.op != "Pause") << c.op;
    }
}

// ---------------------------------------------------------------- time-out rules

struct ReadPlanCase {
    TComTimeoutValues timeouts;
    std::int32_t count;
    TReadPlan plan;
};

class ReadPlanTest : public ::testing::TestWithParam<ReadPlanCase> {};

// What a read waits for under the time-outs, the one rule both backends follow.
TEST_P(ReadPlanTest, FollowsTheSerialTimeoutRules) {
    const auto& c = GetParam();
    const TReadPlan plan = PlanRead(c.timeouts, c.count);
    auto show = [](const std::optional<std::uint64_t>& v) {
        return v ? std::to_string(*v) : "none";
    };
    EXPECT_EQ(plan, c.plan) << "first byte " << show(plan.firstByteMs) << ", total "
                            << show(plan.totalMs) << ", interval " << show(plan.intervalMs);
}

constexpr std::uint64_t Big = 0xFFFFFFFFull;
const auto None = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Rules, ReadPlanTest,
    ::testing::Values(
        // The port's defaults: take what is there and return at once.
        ReadPlanCase{{}, 1, {0, 0, 0}}, ReadPlanCase{{MAXDWORD, 0, 0, 100, 1000}, 10, {0, 0, 0}},
        // ReadByte's rule: up to the constant for the first byte, then what is there.
        ReadPlanCase{{MAXDWORD, MAXDWORD, 200, 100, 1000}, 1, {200, 200, 0}},
        ReadPlanCase{{MAXDWORD, MAXDWORD, 500, 100, 1000}, 30, {500, 500, 0}},
        ReadPlanCase{{MAXDWORD, MAXDWORD, 0, 100, 1000}, 1, {0, 0, 0}},
        // A constant of MAXDWORD is no first-byte rule: the totals apply as they are.
        ReadPlanCase{{MAXDWORD, MAXDWORD, MAXDWORD, 100, 1000}, 2, {Big * 3, Big * 3, None}},
        // Totals: multiplier x count + constant; the interval once a byte came.
        ReadPlanCase{{0, 10, 100, 100, 1000}, 5, {150, 150, None}},
        ReadPlanCase{{50, 0, 300, 100, 1000}, 5, {300, 300, 50}},
        ReadPlanCase{{50, 0, 0, 100, 1000}, 5, {None, None, 50}},
        ReadPlanCase{{0, 0, 0, 100, 1000}, 5, {None, None, None}},
        ReadPlanCase{{MAXDWORD, 10, 0, 100, 1000}, 3, {30, 30, None}}));

// A write of n bytes may take 100 x n + 1000 ms under the defaults: 27900 ms for the
// largest frame of an update.
TEST(WriteLimitTest, HundredMillisecondsPerBytePlusASecond) {
    const TComTimeoutValues defaults;
    EXPECT_EQ(WriteLimitMs(defaults, 269), 27900u);
    EXPECT_EQ(WriteLimitMs(defaults, 5), 1500u);
    EXPECT_EQ(WriteLimitMs(defaults, 0), 1000u);
    EXPECT_EQ(WriteLimitMs({MAXDWORD, 0, 0, 0, 0}, 269), std::nullopt) << "no limit";
    EXPECT_EQ(WriteLimitMs({MAXDWORD, 0, 0, 0, 40}, 269), 40u);
}

// A read follows the time-outs that the port holds: after the port refused new ones,
// the ones it had before.
TEST_F(PortRulesTest, ReadsFollowTheTimeoutsInForce) {
    io.Connect(4407315);
    EXPECT_EQ(io.ReadByte(350), -1);
    port->failWith["Timeouts"] = 6;
    EXPECT_THROW(io.ReadByte(90), EComPort);
    port->failWith.clear();
    std::string received;
    EXPECT_EQ(io.cPort->ReadStr(received, 1), 0);
    std::vector<long> waits;
    for (const auto& c : port->CallsOf("Read")) waits.push_back(c.args[1]);
    EXPECT_EQ(waits, (std::vector<long>{350, 350}));
}

// ---------------------------------------------------------------- failures as messages

struct FailureCase {
    const char* op;  // the fake's name of the failing platform call
    int code;
    const char* text;
};

class PlatformFailureTest : public PortRulesTest,
                            public ::testing::WithParamInterface<FailureCase> {
  protected:
    // Runs what reaches the failing call: a connect, then an exchange.
    EComPort Failure(int platformError) {
        port->failWith[GetParam().op] = platformError;
        try {
            io.Connect(4407315);
            Exchange();
        } catch (const EComPort& e) {
            return e;
        }
        ADD_FAILURE() << GetParam().op << ": no failure";
        return EComPort(CEPortNotOpen, 0);
    }
};

// The text names exactly the error number WinCode carries: none for a closed port or
// for a number that is no error (0, NoErrorNumber, negative).
TEST(ComPortErrorTest, TextAndWinCodeCarryTheSameErrorNumber) {
    for (const int number : {5, 0, NoErrorNumber, -7}) {
        const EComPort open(CE_OpenFailed, number);
        EXPECT_EQ(open.WinCode(), number > 0 ? number : -1) << number;
        EXPECT_EQ(std::string(open.what()),
                  number > 0 ? "Unable to open com port (Error: 5)" : "Unable to open com port")
            << number;
        const EComPort closed(CEPortNotOpen, number);
        EXPECT_EQ(closed.WinCode(), -1) << number;
        EXPECT_EQ(std::string(closed.what()), "Port Not Open") << number;
    }
}

// With an error number the text carries " (Error: n)"; a platform that failed without
// one (NoErrorNumber) gets the text alone, and WinCode -1.
TEST_P(PlatformFailureTest, TextStandsAloneWithoutAnErrorNumber) {
    const auto& c = GetParam();
    const EComPort withNumber = Failure(6);
    EXPECT_EQ(withNumber.Code(), c.code);
    EXPECT_EQ(withNumber.WinCode(), 6);
    EXPECT_EQ(std::string(withNumber.what()), std::string(c.text) + " (Error: 6)");

    port->failWith.clear();
    io.DisConnect();
    const EComPort without = Failure(NoErrorNumber);
    EXPECT_EQ(without.Code(), c.code);
    EXPECT_EQ(without.WinCode(), -1);
    EXPECT_EQ(std::string(without.what()), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PlatformFailureTest,
    ::testing::Values(FailureCase{"Open", 1, "Unable to open com port"},
                      FailureCase{"Write", 2, "WriteFile function failed"},
                      FailureCase{"Read", 3, "ReadFile function failed"},
                      FailureCase{"Purge", 5, "PurgeComm function failed"},
                      FailureCase{"LineSettings", 7, "SetCommState function failed"},
                      FailureCase{"Timeouts", 8, "SetCommTimeouts failed"},
                      FailureCase{"SetupQueues", 9, "SetupComm function failed"},
                      FailureCase{"ClearErrors", 10, "ClearCommError function failed"},
                      FailureCase{"ModemStatus", 11, "GetCommModemStatus function failed"},
                      FailureCase{"Break", 12, "EscapeCommFunction function failed"}));

}  // namespace
}  // namespace kordel

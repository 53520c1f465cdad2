// The link's rules seen from the port: which calls it makes, in which order, with which
// flags and when, recorded by a fake port that also plays the module. Also how platform
// failures become messages.
#include <gtest/gtest.h>

#include <functional>

#include "ComIo.h"
#include "RecordingPort.h"

namespace kordel {
namespace {

using testing::RecordingPort;
using testing::TPortCall;
using Bytes = std::vector<std::uint8_t>;

double MsBetween(const TPortCall& a, const TPortCall& b) {
    return std::chrono::duration<double, std::milli>(b.at - a.at).count();
}

Bytes ReplyFrame(std::uint8_t seq, std::uint8_t status, const Bytes& data) {
    Bytes f = {0x1B, seq, static_cast<std::uint8_t>(data.size() & 0xFF),
               static_cast<std::uint8_t>(data.size() >> 8), status, 0x0E};
    f.insert(f.end(), data.begin(), data.end());
    std::uint8_t check = 0;
    for (auto b : f) check ^= b;
    f.push_back(check);
    return f;
}

class PortRulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto fake = std::make_unique<RecordingPort>();
        port = fake.get();
        io.cPort = std::move(fake);
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

// About 20 ms after the port is set up the line goes into break, and about 20 ms later
// it is released; nothing else happens in between.
TEST_F(PortRulesTest, BreakGoesOnTwentyMillisecondsAfterSetUpForTwentyMilliseconds) {
    io.Connect(4407315);
    const auto& calls = port->calls;
    ASSERT_GE(calls.size(), 3u);
    const auto& on = calls[calls.size() - 2];
    const auto& off = calls.back();
    const auto& setUp = calls[calls.size() - 3];
    ASSERT_EQ(on.op, "Break");
    ASSERT_EQ(off.op, "Break");
    EXPECT_EQ(on.args, std::vector<long>{1});
    EXPECT_EQ(off.args, std::vector<long>{0});
    EXPECT_EQ(port->CallsOf("Break").size(), 2u);
    EXPECT_NE(setUp.op, "Break");
    EXPECT_GE(MsBetween(setUp, on), 19.5);
    EXPECT_LT(MsBetween(setUp, on), 40.0);
    EXPECT_GE(MsBetween(on, off), 19.5);
    EXPECT_LT(MsBetween(on, off), 40.0);
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

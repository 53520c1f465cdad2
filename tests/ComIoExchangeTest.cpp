// The link's exchange against the simulated module over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "ComIo.h"
#include "KordelSim.h"
#include "PtyPair.h"

namespace kordel {
namespace {

using sim::FaultKind;
using sim::FaultRule;
using sim::KordelSim;

constexpr std::uint32_t LineSpeed = 4407315;

FaultRule Rule(const std::string& text) {
    std::string error;
    auto rule = sim::ParseFaultRule(text, error);
    if (!rule) throw std::runtime_error(error);
    return *rule;
}

class ExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        io.PortNameSource = [this] { return module.SlavePath(); };
        io.Connect(LineSpeed);
    }

    std::int32_t Exchange(std::uint8_t command, std::int32_t timeout = 200) {
        io.NewOut(command);
        return io.ComAction(timeout);
    }

    KordelSim module;
    TComIo io;
};

struct FaultCase {
    const char* rule;
    std::int32_t result;
};

class LinkCodeTest : public ExchangeTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LinkCodeTest, FaultGivesItsLinkCodeAndTheNextExchangeIsClean) {
    module.AddFault(Rule(GetParam().rule));
    EXPECT_EQ(Exchange(0xF2), GetParam().result) << GetParam().rule;
    // Whatever the fault left in the receive queue is purged before the next request.
    EXPECT_EQ(Exchange(0xF2), 0);
    EXPECT_EQ(io.InMsg.Count, 48);
    EXPECT_EQ(io.InMsg.Data[8], 0x41);
}

// The identification reply is 1B seq 30 00 status 0E data[48] check: 55 bytes.
INSTANTIATE_TEST_SUITE_P(
    Faults, LinkCodeTest,
    ::testing::Values(
        FaultCase{"F2@1=none", LinkNoAnswer}, FaultCase{"F2@1=garbage", LinkNoAnswer},
        FaultCase{"F2@1=seq", LinkWrongSequence}, FaultCase{"F2@1=trunc:1", LinkCorrupted},
        FaultCase{"F2@1=trunc:3", LinkCorrupted}, FaultCase{"F2@1=trunc:5", LinkWrongChecksum},
        FaultCase{"F2@1=trunc:30", LinkCorrupted}, FaultCase{"F2@1=trunc:54", LinkWrongChecksum},
        FaultCase{"F2@1=marker", LinkWrongChecksum}, FaultCase{"F2@1=check", LinkWrongChecksum},
        FaultCase{"F2@1=status:195", 195}, FaultCase{"F2@1=status:7", 7},
        FaultCase{"F2@1=delay:60", 0}));

// A reply that comes after the caller gave up sits in the receive queue; the purge
// before the next request throws it away instead of taking it for the new reply.
TEST_F(ExchangeTest, LateReplyIsNoAnswerAndIsPurgedBeforeTheNextRequest) {
    module.AddFault(Rule("F2@1=delay:300"));
    EXPECT_EQ(Exchange(0xF2, 100), LinkNoAnswer);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(Exchange(0xF2), 0);
}

TEST_F(ExchangeTest, ModuleStatusHasItsText) {
    module.AddFault(Rule("F2=status:195"));
    EXPECT_EQ(TComIo::ErrToStr(Exchange(0xF2)), "CRYPT ERROR");
    EXPECT_EQ(Exchange(0x42), 0xC0);  // unknown command
}

TEST_F(ExchangeTest, EmptyRequestIsSevenBytesAndCountZeroReplyLeavesDataAlone) {
    ASSERT_EQ(Exchange(0xF2), 0);
    const auto data = io.InMsg.Data;
    io.NewOut(0xF1);
    io.AddOut(TWidth::TBYTE, 'R');
    ASSERT_EQ(io.ComAction(200), 0);
    EXPECT_EQ(io.InMsg.Count, 0);
    EXPECT_EQ(io.InMsg.Data, data);

    const auto requests = module.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::vector<std::uint8_t> empty = {
        0x1B, 0x01, 0x00, 0x00, 0xF2, 0x0E, 0x1B ^ 0x01 ^ 0xF2 ^ 0x0E};
    EXPECT_EQ(requests[0].raw, empty);
    EXPECT_EQ(requests[1].raw.size(), 8u);
}

TEST_F(ExchangeTest, SequenceWrapsAfter255FramesAndGoesOnAcrossConnects) {
    for (int i = 1; i <= 255; ++i) ASSERT_EQ(Exchange(0xF1), 0xC1) << "frame " << i;
    EXPECT_EQ(io.Seq, 255);
    EXPECT_EQ(Exchange(0xF2), 0);  // the 256th frame carries 0, and so must its reply
    EXPECT_EQ(io.InMsg.Sequence, 0);
    EXPECT_EQ(Exchange(0xF2), 0);
    // Reconnect away from the wrap: a counter reset to 0 would give the same number
    // right after a wrap.
    io.DisConnect();
    io.Connect(LineSpeed);
    EXPECT_EQ(Exchange(0xF2), 0);
    EXPECT_EQ(module.Requests().back().sequence, 2);
}

struct DribbleCase {
    std::int32_t callerTimeout;
    const char* rule;
    std::int32_t result;
};

class DribbleTest : public ExchangeTest, public ::testing::WithParamInterface<DribbleCase> {};

// A reply that comes one byte at a time: each later byte may take up to 200 ms, and the
// caller's timeout (longer or shorter) plays no part after the first byte. The closing
// command without its letter gets the 7-byte reply with status C1.
TEST_P(DribbleTest, LaterBytesWaitTwoHundredMillisecondsEach) {
    module.AddFault(Rule(GetParam().rule));
    EXPECT_EQ(Exchange(0xF1, GetParam().callerTimeout), GetParam().result) << GetParam().rule;
}

INSTANTIATE_TEST_SUITE_P(Gaps, DribbleTest,
                         ::testing::Values(DribbleCase{50, "F1=dribble:60", 0xC1},
                                           DribbleCase{1000, "F1=dribble:300", LinkCorrupted}));

TEST_F(ExchangeTest, WrongFirstByteEndsTheExchangeAtOnce) {
    module.AddFault(Rule("F2@1=garbage"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(0xF2, 2000), LinkNoAnswer);
    EXPECT_LT(testing::MsSince(start), 500.0);
}

TEST_F(ExchangeTest, WrongSequenceKeepsTheReceivedNumber) {
    module.AddFault(Rule("F2@1=seq"));
    EXPECT_EQ(Exchange(0xF2), LinkWrongSequence);
    EXPECT_EQ(io.InMsg.Sequence, static_cast<std::uint8_t>(io.Seq + 1));
}

TEST_F(ExchangeTest, ReplyAnnouncingMoreThan268BytesIsRejected) {
    FaultRule rule;
    rule.command = 0xF5;
    rule.fault.kind = FaultKind::Data;
    rule.fault.data.assign(300, 0x77);
    module.AddFault(rule);
    EXPECT_EQ(Exchange(0xF5), LinkCorrupted);
    EXPECT_EQ(Exchange(0xF2), 0);
}

TEST_F(ExchangeTest, HangUpIsThePortLayersReadFailure) {
    module.AddFault(Rule("F2=hangup"));
    try {
        Exchange(0xF2, 1000);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 3);
        EXPECT_EQ(std::string(e.what()), "ReadFile function failed (Error: 5)");
    }
}

}  // namespace
}  // namespace kordel

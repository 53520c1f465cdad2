// Whole updates against the simulated module over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "KordelSim.h"
#include "PtyPair.h"
#include "RecordingPort.h"
#include "Update.h"

namespace kordel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

TEST(Crc32Test, MatchesHandComputedVectors) {
    const std::uint8_t zero[4] = {0, 0, 0, 0};
    const std::uint8_t word[4] = {1, 2, 3, 4};
    EXPECT_EQ(Crc32(zero, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32(zero, 4), 0xC704DD7Bu);
    EXPECT_EQ(Crc32(word, 4), 0x1DABE74Fu);
}

// An update writes whole blocks: the last one may be partly filled, and nothing
// needs none.
TEST(BlockRuleTest, BlockCountRoundsUpToWholeBlocks) {
    const std::pair<std::uint64_t, std::uint32_t> cases[] = {
        {0, 0}, {1, 1}, {255, 1}, {256, 1}, {257, 2}, {512, 2}, {7900, 31}, {0xFFFFF, 4096}};
    for (const auto& [bytes, blocks] : cases) EXPECT_EQ(BlockCount(bytes), blocks) << bytes;
    static_assert(BlockCount(257) == 2, "usable in constant expressions");
}

TEST(Crc32Test, CryptWordsFromTheCpuId) {
    TComIo io;
    const std::array<std::uint8_t, 12> id = {0x31, 0x00, 0x2B, 0x00, 0x0F, 0x51,
                                             0x36, 0x37, 0x39, 0x38, 0x37, 0x33};
    EXPECT_EQ(DeriveCryptWords(io, id), 0xF470);
    const std::array<std::pair<int, int>, 4> pairs = {
        {{0x675B, 0x68EA}, {0x02C5, 0x5E4D}, {0xA74F, 0x36D1}, {0xF470, 0xCF03}}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(io.Crypt[i].Hi, pairs[i].first) << i;
        EXPECT_EQ(io.Crypt[i].Lo, pairs[i].second) << i;
    }
    EXPECT_EQ(sim::ExpectedCryptWord(id), 0xF470) << "the simulator's own derivation agrees";
}

// Records what the update reports.
class Recorder : public TProgressSink {
  public:
    void SetMaximum(std::uint32_t m) override { maximum = m; }
    void SetPosition(std::uint32_t p) override {
        positions.push_back(p);
        lastPosition = Clock::now();
    }
    void Identified(std::span<const std::uint8_t> reply) override {
        identified.assign(reply.begin(), reply.end());
    }
    void CpuIdRead(const std::array<std::uint8_t, 12>& id) override { cpuId = id; }
    void BlockWritten(std::uint32_t block) override { written.push_back(block); }
    std::uint32_t maximum = 12345;
    std::vector<std::uint32_t> positions;
    Clock::time_point lastPosition;
    Bytes identified;
    std::optional<std::array<std::uint8_t, 12>> cpuId;
    std::vector<std::uint32_t> written;
};

Bytes TestImage(std::size_t length, std::uint32_t fileSize) {
    Bytes payload(length);
    for (std::size_t i = 0; i < length; ++i) payload[i] = static_cast<std::uint8_t>(i * 13 + 5);
    TBiosInfo info;
    info.VersHi = 1;
    info.FileSize = fileSize;
    return BuildImage(payload, info);
}

Bytes ShippedImage() {
    std::ifstream in(KORDEL_SOURCE_DIR "/resources/kordel_bios.bin", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class UpdateTest : public ::testing::Test {
  protected:
    UpdateTest() {
        io.PortNameSource = [this] { return module.SlavePath(); };
    }

    void Run(const Bytes& image) {
        hookCalls = 0;
        TUpdateInput input{image, TBiosInfo::FromBytes(UnscrambleBiosInfo(image)), &progress,
                           [this] { ++hookCalls; }};
        RunUpdate(io, input, bootInfo);
    }

    // The failure text of an update that must fail.
    std::string Failure(const Bytes& image) {
        try {
            Run(image);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no failure)";
    }

    std::vector<std::uint8_t> Commands() const {
        std::vector<std::uint8_t> commands;
        for (const auto& r : module.Requests()) commands.push_back(r.command);
        return commands;
    }

    void AddFault(const std::string& text) {
        std::string error;
        module.AddFault(*sim::ParseFaultRule(text, error));
    }

    sim::KordelSim module;
    TComIo io;
    TBootInfo bootInfo;
    Recorder progress;
    int hookCalls = 0;
};

TEST_F(UpdateTest, ShippedImageEndsUpInTheModulesFlash) {
    const Bytes image = ShippedImage();
    ASSERT_EQ(image.size(), 7900u);
    Run(image);
    EXPECT_FALSE(io.cPort->Connected());
    const Bytes flash = module.Flash();
    ASSERT_EQ(flash.size(), 31u * 256);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 7900, flash.end(), [](auto b) { return b == 0xFF; }))
        << "bytes past the image's end go out as erased flash";
    EXPECT_EQ(progress.maximum, 7900u);
    EXPECT_EQ(progress.positions.front(), 0u);
    EXPECT_EQ(progress.positions.back(), 31u * 256);
    EXPECT_EQ(hookCalls, 31);
    EXPECT_TRUE(module.LineReports().empty());
    EXPECT_EQ(bootInfo.BiosCode(), KordelBiosCode);

    const auto requests = module.Requests();
    EXPECT_EQ(requests.front().raw.size(), 7u);
    EXPECT_EQ(requests[2].raw.size(), 269u);
    EXPECT_EQ(requests.back().raw,
              (Bytes{0x1B, requests.back().sequence, 1, 0, 0xF1, 0x0E, 'R',
                     static_cast<std::uint8_t>(0x1B ^ requests.back().sequence ^ 1 ^ 0xF1 ^ 0x0E ^
                                               'R')}));
}

struct LengthCase {
    std::uint32_t fileSize;
    std::size_t blocks;
    std::vector<std::uint32_t> positions;
};

class BlockCountTest : public UpdateTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(BlockCountTest, WritesWholeBlocksUpToFileSize) {
    const auto& c = GetParam();
    const Bytes image = TestImage(600, c.fileSize | 0xABC00000);  // upper 12 bits ignored
    Run(image);
    std::vector<std::uint32_t> addresses;
    for (const auto& r : module.Requests()) {
        if (r.command == CmdFlashWrite) {
            addresses.push_back(Le32(r.payload.data()));
        }
    }
    ASSERT_EQ(addresses.size(), c.blocks);
    for (std::size_t k = 0; k < c.blocks; ++k) EXPECT_EQ(addresses[k], FlashBaseAddress + 256 * k);
    EXPECT_EQ(progress.maximum, c.fileSize);
    EXPECT_EQ(progress.positions, c.positions);
    EXPECT_EQ(Commands().back(), CmdClose);
    const Bytes flash = module.Flash();
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image.begin()));
}

INSTANTIATE_TEST_SUITE_P(Lengths, BlockCountTest,
                         ::testing::Values(LengthCase{0, 0, {0}}, LengthCase{256, 1, {0, 256}},
                                           LengthCase{257, 2, {0, 256, 512}}));

struct FailureCase {
    const char* fault;
    const char* message;
};

class FailureTextTest : public UpdateTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTextTest, FaultGivesItsText) {
    AddFault(GetParam().fault);
    EXPECT_EQ(Failure(TestImage(1024, 1024)), GetParam().message);
    EXPECT_TRUE(io.cPort->Connected()) << "the caller closes the port after a failure";
    io.DisConnect();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailureTextTest,
    ::testing::Values(FailureCase{"F2=status:192", "Kordel not found!"},
                      FailureCase{"F2=none", "Kordel not found!"},
                      FailureCase{"F2=check", "Kordel not found!"},
                      FailureCase{"F2=data:000000000000000041430001", "No Kordel connected!"},
                      FailureCase{"F2=data:0000000000000000414300", "No Kordel connected!"},
                      FailureCase{"F5=none", "Error Reading CPU-ID\r\nNO ANSWER"},
                      FailureCase{"F5=status:0xC1", "Error Reading CPU-ID\r\nUNKNOWN FUNCTION"},
                      FailureCase{"F5=data:0102030405060708",
                                  "Error Reading CPU-ID\r\nRECEIVE DATA CORRUPTED"},
                      FailureCase{"F9@3=trunc:4", "Error writing Flash\r\nRECEIVE DATA CORRUPTED"},
                      FailureCase{"F9@2=status:7", "Error writing Flash\r\n07"}));

TEST_F(UpdateTest, CryptErrorStopsAtOnce) {
    AddFault("F9@2=status:195");
    EXPECT_EQ(Failure(TestImage(1024, 1024)), "Error writing Flash\r\nCRYPT ERROR");
    EXPECT_EQ(Commands(), (Bytes{CmdIdentify, CmdCpuId, CmdFlashWrite, CmdFlashWrite}))
        << "no further block, no closing command";
    EXPECT_EQ(progress.positions.back(), 512u) << "progress stays where the failure left it";
}

TEST_F(UpdateTest, ReportsTheModulesAnswersAndEachAcknowledgedBlock) {
    AddFault("F9@3=status:195");
    Failure(TestImage(1024, 1024));
    const auto boot = sim::SimOptions::DefaultBootInfo();
    EXPECT_EQ(progress.identified, Bytes(boot.begin(), boot.end()));
    EXPECT_EQ(progress.cpuId, sim::SimOptions{}.cpuId);
    EXPECT_EQ(progress.written, (std::vector<std::uint32_t>{0, 1})) << "not the refused third";
    io.DisConnect();

    // A short identification reply is reported as it came, not padded from the record.
    AddFault("F2@2=data:4B4F524401030200414300000000");
    AddFault("F5@2=none");
    Failure(TestImage(1024, 1024));
    EXPECT_EQ(progress.identified,
              (Bytes{0x4B, 0x4F, 0x52, 0x44, 1, 3, 2, 0, 0x41, 0x43, 0, 0, 0, 0}));
}

TEST_F(UpdateTest, WrongCpuIdMeansWrongCryptWord) {
    AddFault("F5=data:000000000000000000000001");
    EXPECT_EQ(Failure(TestImage(512, 512)), "Error writing Flash\r\nCRYPT ERROR");
}

TEST_F(UpdateTest, NoAnswerToTheClosingCommandStillSucceeds) {
    AddFault("F1=none");
    EXPECT_NO_THROW(Run(TestImage(512, 512)));
    EXPECT_FALSE(io.cPort->Connected());
}

TEST_F(UpdateTest, HangUpMidUpdateIsThePortErrorWithinASecond) {
    AddFault("F9@3=hangup");
    std::string message;
    try {
        Run(TestImage(2048, 2048));
    } catch (const EComPort& e) {
        message = e.what();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - progress.lastPosition).count();
    EXPECT_EQ(message, "ReadFile function failed (Error: 5)");
    EXPECT_LT(ms, 1000.0);
    io.DisConnect();
}

TEST_F(UpdateTest, SequenceGoesOnAcrossUpdatesAndStaleIdentityIsNotTrusted) {
    Run(TestImage(512, 512));
    const std::uint8_t last = module.Requests().back().sequence;
    Run(TestImage(512, 512));
    const auto requests = module.Requests();
    EXPECT_EQ(requests[5].command, CmdIdentify);
    EXPECT_EQ(requests[5].sequence, static_cast<std::uint8_t>(last + 1));

    // The record still holds the code from before; a reply too short to carry it fails.
    AddFault("F2=data:01020304");
    EXPECT_EQ(Failure(TestImage(512, 512)), "No Kordel connected!");
}

TEST_F(UpdateTest, ImageShorterThanFileSizeIsPaddedWithErasedFlash) {
    Bytes image = TestImage(300, 300);
    Run(image);
    const Bytes flash = module.Flash();
    ASSERT_EQ(flash.size(), 512u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 300, flash.end(), [](auto b) { return b == 0xFF; }));
}

TEST_F(UpdateTest, MissingPortIsThePortLayersError) {
    io.PortNameSource = [] { return std::string("/dev/ttyKORDEL-missing"); };
    EXPECT_EQ(Failure(TestImage(512, 512)), "Unable to open com port (Error: 2)");
}

// ---------------------------------------------------------------- pauses and time-outs

// The update over a recording port that plays a module answering every request with
// success; the pauses are recorded, not slept.
class UpdatePacingTest : public ::testing::Test {
  protected:
    UpdatePacingTest() {
        auto fake = std::make_unique<testing::RecordingPort>();
        port = fake.get();
        io.cPort = std::move(fake);
        pause = std::make_unique<testing::RecordingPause>(*port, false);
        io.SetPause(pause.get());
        io.PortNameSource = [] { return std::string("fake0"); };
        port->onWrite = [this](const Bytes& request) {
            Bytes data;
            if (request[4] == CmdIdentify) {
                data.assign(48, 0);
                data[8] = 0x41;
                data[9] = 0x43;
            } else if (request[4] == CmdCpuId) {
                data.assign(12, 7);
            }
            const Bytes reply = testing::ReplyFrame(request[1], 0, data);
            port->incoming.assign(reply.begin(), reply.end());
        };
    }

    // The record, shortened to the pauses, the break, the commands written, the first
    // read after each (with its wait for the first byte) and the close.
    std::vector<std::string> Pacing() {
        std::vector<std::string> steps;
        std::size_t writes = 0;
        bool firstRead = false;
        for (const auto& c : port->calls) {
            if (c.op == "Pause" || c.op == "Break") {
                steps.push_back(c.op + " " + std::to_string(c.args[0]));
            } else if (c.op == "Write") {
                char command[8];
                std::snprintf(command, sizeof command, "%02X", port->writes[writes++][4]);
                steps.push_back(std::string("Write ") + command);
                firstRead = true;
            } else if (c.op == "Read" && firstRead) {
                steps.push_back("FirstByte " + std::to_string(c.args[1]));
                firstRead = false;
            } else if (c.op == "Read") {
                laterByteWaits.insert(c.args[1]);
            } else if (c.op == "Close") {
                steps.push_back("Close");
            }
        }
        return steps;
    }

    TComIo io;
    testing::RecordingPort* port = nullptr;
    std::unique_ptr<testing::RecordingPause> pause;
    std::set<long> laterByteWaits;
};

// The break pulse, 100 ms after connecting, 25 ms after each block and 200 ms before
// the close; the first reply byte waits 200 ms for identification, CPU-ID and closing
// and 500 ms for a block; every later byte 200 ms.
TEST_F(UpdatePacingTest, PausesAndFirstByteTimeoutsOfEveryStep) {
    TBootInfo bootInfo;
    const Bytes image = TestImage(512, 512);
    RunUpdate(io, {image, TBiosInfo::FromBytes(UnscrambleBiosInfo(image)), nullptr, nullptr},
              bootInfo);
    const std::vector<std::string> expected = {
        "Pause 20",      "Break 1",       "Pause 20",  "Break 0",       "Pause 100",
        "Write F2",      "FirstByte 200", "Write F5",  "FirstByte 200", "Write F9",
        "FirstByte 500", "Pause 25",      "Write F9",  "FirstByte 500", "Pause 25",
        "Write F1",      "FirstByte 200", "Pause 200", "Close"};
    EXPECT_EQ(Pacing(), expected);
    EXPECT_EQ(laterByteWaits, (std::set<long>{200}));
}

}  // namespace
}  // namespace kordel

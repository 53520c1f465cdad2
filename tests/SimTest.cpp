// The simulated module, driven by a client written from the wire format alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "KordelSim.h"
#include "PtyPair.h"
#include "TempDir.h"
#include "UniqueFd.h"

namespace kordel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 1B seq len16 cmd 0E payload xor
Bytes Frame(std::uint8_t seq, std::uint8_t cmd, const Bytes& payload) {
    Bytes f = {0x1B,
               seq,
               static_cast<std::uint8_t>(payload.size()),
               static_cast<std::uint8_t>(payload.size() >> 8),
               cmd,
               0x0E};
    for (auto b : payload) f.push_back(b);
    std::uint8_t x = 0;
    for (auto b : f) x ^= b;
    f.push_back(x);
    return f;
}

class RawClient {
  public:
    explicit RawClient(const std::string& path, speed_t speed = B0) {
        fd_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios tio{};
        ::tcgetattr(fd_.get(), &tio);
        ::cfmakeraw(&tio);
        if (speed != B0) ::cfsetspeed(&tio, speed);
        ::tcsetattr(fd_.get(), TCSANOW, &tio);
    }
    Bytes Ask(const Bytes& request, int quietMs = 150) {
        EXPECT_EQ(::write(fd_.get(), request.data(), request.size()),
                  static_cast<ssize_t>(request.size()));
        Bytes got;
        for (;;) {
            pollfd p{fd_.get(), POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) return got;
            std::uint8_t buf[512];
            ssize_t n = ::read(fd_.get(), buf, sizeof buf);
            if (n <= 0) return got;
            got.insert(got.end(), buf, buf + n);
        }
    }
    void Close() { fd_.reset(); }

  private:
    UniqueFd fd_;
};

Bytes FlashWrite(std::uint32_t address, std::uint16_t crypt, std::uint8_t fill) {
    // Made at full size first: growing a 6-byte vector by 256 gives GCC 12 at -O3 a
    // false -Warray-bounds.
    Bytes p(6 + 256, fill);
    const std::uint8_t header[] = {
        static_cast<std::uint8_t>(address),       static_cast<std::uint8_t>(address >> 8),
        static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24),
        static_cast<std::uint8_t>(crypt),         static_cast<std::uint8_t>(crypt >> 8)};
    std::copy(std::begin(header), std::end(header), p.begin());
    return p;
}

TEST(SimTest, CryptWordMatchesAHandComputation) {
    // CPU-ID 31 00 2B 00 0F 51 36 37 39 38 37 33: CRC-32 (poly 04C11DB7, init FFFFFFFF)
    // over the words w0^w1, w1^w2, w2^w0 is F470CF03; the crypt word is its high half.
    EXPECT_EQ(ExpectedCryptWord(SimOptions{}.cpuId), 0xF470);
}

TEST(SimTest, AnswersEachCommandByTheWireFormat) {
    KordelSim module;
    RawClient client(module.SlavePath());

    Bytes reply = client.Ask(Frame(7, 0xF2, {}));
    ASSERT_EQ(reply.size(), 6u + 48 + 1);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), (Bytes{0x1B, 7, 48, 0, 0, 0x0E}));
    EXPECT_EQ(Bytes(reply.begin() + 14, reply.begin() + 18), (Bytes{0x41, 0x43, 0, 0}));
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < reply.size(); ++i) x ^= reply[i];
    EXPECT_EQ(reply.back(), x);

    reply = client.Ask(Frame(8, 0xF5, {}));
    ASSERT_EQ(reply.size(), 6u + 12 + 1);
    EXPECT_EQ(reply[6], 0x31);

    const std::uint16_t crypt = ExpectedCryptWord(SimOptions{}.cpuId);
    EXPECT_EQ(client.Ask(Frame(9, 0xF9, FlashWrite(FlashBase + 256, crypt, 0xAB))),
              Frame(9, 0, {}));
    EXPECT_EQ(client.Ask(Frame(10, 0xF9, FlashWrite(FlashBase + 256, crypt ^ 1, 0))),
              Frame(10, 0xC3, {}));
    EXPECT_EQ(client.Ask(Frame(11, 0xF9, FlashWrite(FlashBase - 256, crypt, 0))),
              Frame(11, 0xC4, {}));
    EXPECT_EQ(client.Ask(Frame(12, 0xF9, FlashWrite(FlashBase + FlashSize, crypt, 0))),
              Frame(12, 0xC4, {}));
    EXPECT_EQ(client.Ask(Frame(13, 0xF9, {1, 2, 3})), Frame(13, 0xC2, {}));
    EXPECT_EQ(client.Ask(Frame(14, 0xF1, {'R'})), Frame(14, 0, {}));
    EXPECT_EQ(client.Ask(Frame(15, 0x33, {})), Frame(15, 0xC0, {}));

    // Noise and a frame with a bad check byte are ignored; the next good frame is answered.
    Bytes bad = Frame(16, 0xF2, {});
    bad.back() ^= 1;
    EXPECT_TRUE(client.Ask(Bytes{0x00, 0x55}).empty());
    EXPECT_TRUE(client.Ask(bad).empty());
    EXPECT_EQ(client.Ask(Frame(17, 0xF1, {'R'})), Frame(17, 0, {}));

    const Bytes flash = module.Flash();
    ASSERT_EQ(flash.size(), 512u);
    EXPECT_EQ(flash[0], 0xFF) << "unwritten flash reads erased";
    EXPECT_EQ(flash[256], 0xAB);
    EXPECT_EQ(flash[511], 0xAB);
}

TEST(SimTest, ReportsLineSettingsOtherThanTheToolsAndWritesFlashOnClose) {
    const auto out =
        std::filesystem::temp_directory_path() / ("kordel-sim-flash-" + std::to_string(::getpid()));
    SimOptions options;
    options.flashOut = out.string();
    KordelSim module(options);
    {
        RawClient client(module.SlavePath(), B38400);
        client.Ask(Frame(1, 0xF9, FlashWrite(FlashBase, ExpectedCryptWord(options.cpuId), 0x5A)));
    }
    ASSERT_TRUE(module.WaitForCloses(1, 2000));
    EXPECT_EQ(module.LineReports(),
              (std::vector<std::string>{"line speed 38400, expected 4407315"}));
    std::ifstream in(out, std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, Bytes(256, 0x5A));
    std::filesystem::remove(out);

    RawClient again(module.SlavePath());  // the module survives a close and reopen
    EXPECT_EQ(again.Ask(Frame(2, 0xF1, {'R'})), Frame(2, 0, {}));
}

TEST(SimTest, FaultsApplyPerCommandAndOccurrence) {
    SimOptions options;
    std::string error;
    for (const char* text : {"F2@2=status:0xC0", "*@3=none", "F5=trunc:4"}) {
        options.faults.push_back(*ParseFaultRule(text, error));
    }
    KordelSim module(options);
    RawClient client(module.SlavePath());
    EXPECT_EQ(client.Ask(Frame(1, 0xF2, {})).size(), 55u);
    EXPECT_EQ(client.Ask(Frame(2, 0xF2, {}))[4], 0xC0);
    EXPECT_TRUE(client.Ask(Frame(3, 0xF2, {})).empty());
    EXPECT_EQ(client.Ask(Frame(4, 0xF5, {})), (Bytes{0x1B, 4, 12, 0}));
}

// A dribbled reply comes one byte at a time: no two bytes closer than the gap, and
// stopping the module does not wait for the rest of the reply.
TEST(SimTest, DribbleSendsTheReplyByteByByte) {
    std::string error;
    SimOptions options;
    options.faults.push_back(*ParseFaultRule("F1=dribble:60", error));
    auto module = std::make_unique<KordelSim>(options);
    RawClient client(module->SlavePath());
    const auto start = std::chrono::steady_clock::now();
    const Bytes reply = client.Ask(Frame(1, 0xF1, {'R'}), 150);
    EXPECT_EQ(reply.size(), 7u) << "every byte came, the 150 ms quiet never ran out";
    EXPECT_GE(kordel::testing::MsSince(start), 6 * 60.0);

    options.faults = {*ParseFaultRule("F2=dribble:5000", error)};
    module = std::make_unique<KordelSim>(options);
    RawClient second(module->SlavePath());
    EXPECT_EQ(second.Ask(Frame(1, 0xF2, {}), 300).size(), 1u);
    const auto stopping = std::chrono::steady_clock::now();
    module.reset();
    EXPECT_LT(kordel::testing::MsSince(stopping), 500.0);
}

// The module keeps only the latest request frames, however long it runs.
// --link makes a stable name for the terminal: it replaces a link a killed simulator
// left, never a file, and a stopping simulator removes only the link it made.
TEST(SimLinkTest, ReplacesAnOldLinkButNeverAFile) {
    kordel::testing::TempDir dir;
    kordel::testing::WriteFile("users-file", "mine");
    SimOptions options;
    options.linkPath = "users-file";
    try {
        KordelSim refused(options);
        ADD_FAILURE() << "a file was taken for the link";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("users-file exists and is not a symbolic link"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(kordel::testing::ReadFile("users-file"), "mine");

    std::filesystem::create_symlink("/dev/pts/gone", "stale");
    options.linkPath = "stale";
    KordelSim module(options);
    EXPECT_EQ(std::filesystem::read_symlink("stale"), module.SlavePath());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                            std::filesystem::directory_iterator()),
              2)
        << "no temporary link is left";
}

TEST(SimLinkTest, AStoppingSimulatorRemovesOnlyTheLinkItMade) {
    kordel::testing::TempDir dir;
    SimOptions options;
    options.linkPath = "port";
    auto older = std::make_unique<KordelSim>(options);
    auto newer = std::make_unique<KordelSim>(options);
    EXPECT_EQ(std::filesystem::read_symlink("port"), newer->SlavePath());
    older.reset();
    EXPECT_EQ(std::filesystem::read_symlink("port"), newer->SlavePath()) << "the newer link stays";
    newer.reset();
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status("port")));

    // A user's file, or a link someone else made anew to the same terminal, in its place.
    for (const bool file : {true, false}) {
        auto module = std::make_unique<KordelSim>(options);
        const std::string slave = module->SlavePath();
        std::filesystem::remove("port");
        if (file) {
            kordel::testing::WriteFile("port", "mine");
        } else {
            std::filesystem::create_symlink(slave, "port");
        }
        module.reset();
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status("port"))) << file;
        std::filesystem::remove("port");
    }
}

TEST(SimTest, RequestHistoryIsBounded) {
    SimOptions options;
    options.requestHistory = 3;
    KordelSim module(options);
    RawClient client(module.SlavePath());
    for (std::uint8_t seq = 1; seq <= 5; ++seq) client.Ask(Frame(seq, 0xF1, {'R'}), 30);
    const auto requests = module.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests.front().sequence, 3);
    EXPECT_EQ(requests.back().sequence, 5);
}

struct RuleCase {
    const char* text;
    bool valid;
    int command;
    int occurrence;
    FaultKind kind;
    int arg;
};

class FaultRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(FaultRuleTest, Parses) {
    const auto& c = GetParam();
    std::string error;
    auto rule = ParseFaultRule(c.text, error);
    ASSERT_EQ(rule.has_value(), c.valid) << c.text << ": " << error;
    if (!c.valid) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(rule->command, c.command);
    EXPECT_EQ(rule->occurrence, c.occurrence);
    EXPECT_EQ(rule->fault.kind, c.kind);
    EXPECT_EQ(rule->fault.arg, c.arg);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FaultRuleTest,
    ::testing::Values(RuleCase{"F9@3=status:0xC3", true, 0xF9, 3, FaultKind::Status, 195},
                      RuleCase{"f2=none", true, 0xF2, 0, FaultKind::NoReply, 0},
                      RuleCase{"*@2=trunc:5", true, -1, 2, FaultKind::Truncate, 5},
                      RuleCase{"=delay:250", true, -1, 0, FaultKind::Delay, 250},
                      RuleCase{"F1=hangup", true, 0xF1, 0, FaultKind::HangUp, 0},
                      RuleCase{"F2=data:41 43 00 01", true, 0xF2, 0, FaultKind::Data, 0},
                      RuleCase{"F5@1=dribble:150", true, 0xF5, 1, FaultKind::Dribble, 150},
                      RuleCase{"F5=dribble", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"F2", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"F2=explode", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"F2=status", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"F2=status:300", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"F2@0=none", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"XYZ=none", false, 0, 0, FaultKind::NoReply, 0},
                      RuleCase{"F2=data:4", false, 0, 0, FaultKind::NoReply, 0}));

}  // namespace
}  // namespace kordel::sim

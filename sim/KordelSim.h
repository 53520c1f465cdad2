// A simulated module on a pseudo-terminal. It answers request frames as the module
// does (identification, CPU-ID, flash write with crypt-word check, closing command),
// stores what is flashed, checks the line settings the tool programmed, and injects
// faults per command and occurrence. It knows the wire format on its own and shares
// no framing code with the tool.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kordel::sim {

inline constexpr std::uint32_t FlashBase = 0x08002000;
// Room for the largest image the tool can send: 2^20 bytes rounded up to a block.
inline constexpr std::uint32_t FlashSize = 0x100000 + 256;
inline constexpr std::uint32_t ExpectedBaud = 4407315;

enum class FaultKind {
    NoReply,        // say nothing
    Garbage,        // one stray byte before the reply
    WrongSequence,  // answer under another sequence number
    BadMarker,      // sixth byte not 0E
    BadCheck,       // wrong check byte
    Truncate,       // send only the first `arg` bytes of the reply
    Status,         // answer with status `arg`
    Delay,          // wait `arg` ms before answering
    HangUp,         // close the pseudo-terminal, as an unplugged adapter would
    Data,           // answer with `data` as the reply's data
    Dribble,        // send the reply one byte at a time, `arg` ms apart
};

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int arg = 0;
    std::vector<std::uint8_t> data;
};

// Applies `fault` to the replies to `command` (-1: any command), on its
// `occurrence`-th request (1-based; 0: every one).
struct FaultRule {
    int command = -1;
    int occurrence = 0;
    Fault fault;
};

// Parses "[CMD][@N]=KIND[:ARG]", e.g. "F9@3=status:0xC3", "F5=none", "*@2=trunc:3",
// "F2=data:4143...", "F9@5=hangup". Returns nullopt and sets `error` when malformed.
std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error);

// Parses hex digits (spaces allowed) into bytes.
std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text);

// The crypt word the module expects for a CPU-ID, computed on its own.
std::uint16_t ExpectedCryptWord(const std::array<std::uint8_t, 12>& cpuId);

struct SimOptions {
    std::array<std::uint8_t, 12> cpuId{0x31, 0x00, 0x2B, 0x00, 0x0F, 0x51,
                                       0x36, 0x37, 0x39, 0x38, 0x37, 0x33};
    std::array<std::uint8_t, 48> bootInfo = DefaultBootInfo();
    std::vector<FaultRule> faults;
    // A symlink to the slave, made by the simulator (replacing an older link, never a
    // file) and removed when it stops, if it is still the link it made.
    std::string linkPath;
    std::string flashOut;  // written with the flash contents whenever the port closes
    std::uint32_t expectedBaud = ExpectedBaud;
    // How many of the latest request frames Requests() keeps; older ones are dropped,
    // so a long-running simulator holds bounded state.
    std::size_t requestHistory = 1024;

    static std::array<std::uint8_t, 48> DefaultBootInfo();
};

// One request frame as received.
struct ReceivedFrame {
    std::uint8_t sequence = 0;
    std::uint8_t command = 0;
    std::vector<std::uint8_t> payload;
    std::vector<std::uint8_t> raw;
};

class KordelSim {
  public:
    explicit KordelSim(SimOptions options = {});
    ~KordelSim();
    KordelSim(const KordelSim&) = delete;
    KordelSim& operator=(const KordelSim&) = delete;

    // The device path a client opens.
    const std::string& SlavePath() const { return slavePath_; }

    void AddFault(const FaultRule& rule);
    // The flash from FlashBase up to the end of the highest block written.
    std::vector<std::uint8_t> Flash() const;
    // The latest request frames received, oldest first (at most requestHistory).
    std::vector<ReceivedFrame> Requests() const;
    // What was wrong with the line settings, one text per finding.
    std::vector<std::string> LineReports() const;
    // How often a client closed the port so far.
    int CloseCount() const;
    // Waits until CloseCount() reaches `count`; false after `timeoutMs`.
    bool WaitForCloses(int count, int timeoutMs) const;
    bool HungUp() const;
    // Waits until the simulator hung up (a HangUp fault); false after `timeoutMs`.
    bool WaitForHangUp(int timeoutMs) const;

    void Stop();

  private:
    void Run();
    void OnBytes(const std::uint8_t* data, std::size_t n);
    void HandleFrame(const ReceivedFrame& frame);
    void BuildAnswer(const ReceivedFrame& frame, std::uint8_t& status,
                     std::vector<std::uint8_t>& data);
    void CheckLine();
    void HandleOpenClose();
    void PortClosed();
    void HangUp();
    void WriteFlashOut() const;
    void MakeLink();
    void RemoveLink();
    void CloseDescriptors();
    void SendReply(const std::vector<std::uint8_t>& reply, int gapMs);
    // Waits `ms`; false when the simulator is being stopped meanwhile.
    bool PauseUnlessStopped(int ms) const;

    SimOptions options_;
    std::uint16_t cryptWord_ = 0;
    int master_ = -1;
    int ownSlave_ = -1;  // keeps the pty alive between clients
    int inotify_ = -1;
    int stopFd_ = -1;
    std::string slavePath_;
    std::optional<std::array<std::int64_t, 4>> linkId_;  // of the link this simulator made
    std::vector<std::uint8_t> pending_;
    std::array<int, 256> seen_{};
    int openClients_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::uint8_t> flash_;  // from FlashBase up to the highest block written
    std::uint32_t flashEnd_ = 0;
    std::deque<ReceivedFrame> requests_;
    std::vector<std::string> lineReports_;
    int closeCount_ = 0;
    bool hungUp_ = false;

    std::thread thread_;
};

}  // namespace kordel::sim

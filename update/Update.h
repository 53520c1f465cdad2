// One complete firmware update of the module: open the port, identify the module,
// read its CPU-ID, derive the crypt word, write the image in 256-byte blocks, send
// the closing command and close the port.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>

#include "BiosInfo.h"
#include "ByteOrder.h"
#include "ComIo.h"

namespace kordel {

inline constexpr std::uint32_t UpdateLineSpeed = 4407315;  // 0x434013
inline constexpr std::uint32_t FlashBaseAddress = 0x08002000;
inline constexpr std::uint32_t BlockSize = 256;
// The blocks an update of `bytes` bytes writes: the last one may be partly filled.
constexpr std::uint32_t BlockCount(std::uint64_t bytes) {
    return static_cast<std::uint32_t>((bytes + BlockSize - 1) / BlockSize);
}
inline constexpr std::uint32_t KordelBiosCode = 0x00004341;  // "AC\0\0"
inline constexpr std::uint8_t ErasedFlash = 0xFF;

inline constexpr std::uint8_t CmdIdentify = 0xF2;
inline constexpr std::uint8_t CmdCpuId = 0xF5;
inline constexpr std::uint8_t CmdFlashWrite = 0xF9;
inline constexpr std::uint8_t CmdClose = 0xF1;

// The module's identification record (the reply to the identification command).
struct TBootInfo {
    std::array<std::uint8_t, 48> Raw{};
    std::uint32_t BiosCode() const { return Le32(&Raw[8]); }
};

// A failure of the update itself; the message is the text for the user.
class EUpdateFailed : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class TUpdateStep { Connecting, Identifying, ReadingCpuId, Writing, Closing };

// Where the update reports how far it has come, and what the module told it (for a
// record of the attempt).
class TProgressSink {
  public:
    virtual ~TProgressSink() = default;
    virtual void SetMaximum(std::uint32_t maximum) = 0;
    virtual void SetPosition(std::uint32_t position) = 0;
    virtual void StepStarted(TUpdateStep) {}
    // The module answered the identification request: the reply's data as far as the
    // record holds it (normally all 48 bytes), before its code is checked.
    virtual void Identified(std::span<const std::uint8_t> /*reply*/) {}
    virtual void CpuIdRead(const std::array<std::uint8_t, 12>& /*cpuId*/) {}
    // Block `block` (0 for the first) was written and acknowledged by the module.
    virtual void BlockWritten(std::uint32_t /*block*/) {}
};

// Passes every report on to `inner` (nullptr: nowhere). A sink that only adds to some
// reports derives from it and calls the forwarding version from its own.
class TForwardingSink : public TProgressSink {
  public:
    explicit TForwardingSink(TProgressSink* inner) : inner_(inner) {}
    void SetMaximum(std::uint32_t maximum) override {
        if (inner_) inner_->SetMaximum(maximum);
    }
    void SetPosition(std::uint32_t position) override {
        if (inner_) inner_->SetPosition(position);
    }
    void StepStarted(TUpdateStep step) override {
        if (inner_) inner_->StepStarted(step);
    }
    void Identified(std::span<const std::uint8_t> reply) override {
        if (inner_) inner_->Identified(reply);
    }
    void CpuIdRead(const std::array<std::uint8_t, 12>& cpuId) override {
        if (inner_) inner_->CpuIdRead(cpuId);
    }
    void BlockWritten(std::uint32_t block) override {
        if (inner_) inner_->BlockWritten(block);
    }

  private:
    TProgressSink* inner_;
};

// CRC over 32-bit little-endian words: polynomial 04C11DB7, initial FFFFFFFF, no
// reflection, no final XOR. `len` is a multiple of 4.
std::uint32_t Crc32(const std::uint8_t* data, std::uint16_t len);

// Fills io.Crypt from the 12-byte CPU-ID and returns the crypt word (high half of pair 3).
std::uint16_t DeriveCryptWords(TComIo& io, const std::array<std::uint8_t, 12>& cpuId);

// The 256 bytes that block `offset` / BlockSize of an update carries: the image's bytes
// from `offset` on, and erased flash where the block reaches past the image's end.
std::array<std::uint8_t, BlockSize> ImageBlock(std::span<const std::uint8_t> image,
                                               std::uint32_t offset);

struct TUpdateInput {
    std::span<const std::uint8_t> image;
    TBiosInfo info;
    TProgressSink* progress = nullptr;
    std::function<void()> beforeBlock;  // called once before each block (event loop pump)
};

// Runs one update through `io`, whose PortNameSource names the port; every pause goes
// through io.Pause. Returns with the port closed; raises EUpdateFailed with the user's
// text, or passes EComPort and ECancelled (io's cancel token) on, and then leaves the
// port as it was for the caller to close. `bootInfo` keeps what the module reported,
// across updates.
void RunUpdate(TComIo& io, const TUpdateInput& input, TBootInfo& bootInfo);

}  // namespace kordel

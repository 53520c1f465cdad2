// The link object: one-request-one-reply exchange of frames with the module, over the
// serial port it owns.
//
// Request frame:  1B seq nLo nHi command 0E payload[n] check
// Reply frame:    1B seq cLo cHi status  0E data[c]    check
// The check byte is the XOR of every byte before it.
//
// The link never raises for link trouble: ComAction returns a negative link code or the
// module's status byte. What it raises comes from the port under it, unchanged: EComPort
// for a port failure, and ECancelled (CancelToken.h) once the link's cancel token is
// cancelled. A cancellation is no link failure: it breaks the exchange off wherever it
// is, and the caller closes the port. A link without a token is never cancelled.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ComPort.h"
#include "Pause.h"

namespace kordel {

class TCancelToken;

enum class TWidth { TBYTE, TWORD, TLONG };

struct TAnswer {
    std::uint8_t Sequence = 0;
    std::uint8_t Status = 0;
    std::uint16_t Count = 0;
    std::array<std::uint8_t, 268> Data{};
};

// One crypt word pair: the high and low 16 bits of a 32-bit checksum.
struct TCryptPair {
    std::uint16_t Hi = 0;
    std::uint16_t Lo = 0;
};

// Link codes returned by ComAction besides the module's status byte.
inline constexpr std::int32_t LinkCorrupted = -1;       // a later byte did not arrive in 200 ms
inline constexpr std::int32_t LinkNoAnswer = -2;        // no first byte, or it was not 1B
inline constexpr std::int32_t LinkWrongSequence = -3;   // reply to another request
inline constexpr std::int32_t LinkWrongChecksum = -4;   // bad marker or check byte
inline constexpr std::int32_t LinkMessageTooLong = -5;  // the outgoing payload does not fit a frame

inline constexpr std::uint8_t FrameStart = 0x1B;
inline constexpr std::uint8_t FrameMarker = 0x0E;
inline constexpr int FrameHeaderSize = 6;
inline constexpr int MaxRequestPayload = 267;  // 274-byte frame buffer less header and check
inline constexpr int LaterByteTimeoutMs = 200;

enum class TFrameDirection { Request, Reply };

class TComIo {
  public:
    TComIo();
    ~TComIo();
    TComIo(const TComIo&) = delete;
    TComIo& operator=(const TComIo&) = delete;

    // --- frame side ---
    std::uint8_t OutCom = 0;
    std::int32_t OutPos = 0;
    std::array<std::uint8_t, 272> OutBuf{};
    std::array<TCryptPair, 4> Crypt{};
    std::uint8_t Seq = 0;
    TAnswer InMsg;

    void NewOut(std::uint8_t com);
    void AddOut(TWidth w, std::uint32_t data);
    void AddData(const std::uint8_t* ptr, std::uint16_t anz);
    std::int32_t ComAction(std::int32_t Timeout);
    static std::string ErrToStr(std::int32_t err);
    static std::uint16_t Crc16(const std::uint8_t* ptr, std::uint16_t anz);

    // --- port side ---
    std::unique_ptr<TComPort> cPort;
    // Connect pauses through Pause, and raises EComPort or ECancelled; the port may
    // then be open, and DisConnect closes it.
    void Connect(std::uint32_t baud);
    void DisConnect();
    std::int32_t ReadByte(std::int32_t timeout);
    void cPortAfterOpen(TComPort& Sender);
    void cPortAfterClose(TComPort& Sender);

    // Where Connect reads the port name: the front end's current port selection.
    std::function<std::string()> PortNameSource;
    // Told after the port opened (true) and after it closed (false).
    std::function<void(bool open)> OnPortState;
    // Sees every request frame written and every reply frame read (as far as it came).
    std::function<void(TFrameDirection, const std::uint8_t*, std::size_t)> OnFrame;

    // --- cancellation and pauses ---
    // The token whose cancellation ends every read, write and pause of this link
    // (nullptr: never cancelled). Handed on to the port object held now (cPort), so a
    // port put in later needs it set again. The owner keeps the token alive.
    void SetCancelToken(const TCancelToken* token);
    const TCancelToken* CancelToken() const { return cancel_; }
    // Where Pause sleeps; nullptr: the system's pause. The owner keeps it alive.
    void SetPause(TPause* pause);
    // Pauses `ms` milliseconds; raises ECancelled when the token is cancelled before or
    // during the pause. Connect and the update pause only through here.
    void Pause(int ms);

  private:
    void SendMsg(const std::uint8_t* data, std::uint16_t len, std::uint8_t com);
    std::int32_t GetMsg(std::int32_t timeout);
    std::int32_t ReceiveFrame(std::int32_t timeout);
    void Put(std::uint8_t byte);

    std::array<std::uint8_t, 274> frame_{};
    // The reply bytes as they arrived, for OnFrame.
    std::array<std::uint8_t, FrameHeaderSize + 268 + 1> reply_{};
    std::size_t replyLen_ = 0;

    const TCancelToken* cancel_ = nullptr;
    TSystemPause systemPause_;
    TPause* pause_ = &systemPause_;
};

}  // namespace kordel

#include "ComIo.h"

#include "CancelToken.h"

#include <cstdio>

namespace kordel {

TComIo::TComIo() : cPort(TComPort::Create()) {
    cPort->OnAfterOpen = [this](TComPort& port) { cPortAfterOpen(port); };
    cPort->OnAfterClose = [this](TComPort& port) { cPortAfterClose(port); };
}

TComIo::~TComIo() {
    try {
        DisConnect();
    } catch (...) {
        // Nothing to report to at exit; the port object still releases the device.
    }
}

// ---------------------------------------------------------------- outgoing message

void TComIo::NewOut(std::uint8_t com) {
    OutCom = com;
    OutPos = 0;
}

// Bytes past the end of OutBuf are counted but never stored; ComAction refuses to send
// such a message.
void TComIo::Put(std::uint8_t byte) {
    if (OutPos >= 0 && OutPos < static_cast<std::int32_t>(OutBuf.size())) OutBuf[OutPos] = byte;
    ++OutPos;
}

void TComIo::AddOut(TWidth w, std::uint32_t data) {
    const int width = w == TWidth::TBYTE ? 1 : w == TWidth::TWORD ? 2 : 4;
    for (int i = 0; i < width; ++i) Put(static_cast<std::uint8_t>(data >> (8 * i)));
}

void TComIo::AddData(const std::uint8_t* ptr, std::uint16_t anz) {
    for (std::uint16_t i = 0; i < anz; ++i) Put(ptr[i]);
}

// ---------------------------------------------------------------- exchange

std::int32_t TComIo::ComAction(std::int32_t Timeout) {
    if (OutPos < 0 || OutPos > MaxRequestPayload) return LinkMessageTooLong;
    SendMsg(OutBuf.data(), static_cast<std::uint16_t>(OutPos), OutCom);
    std::int32_t result = GetMsg(Timeout);
    return result < 0 ? result : InMsg.Status;
}

void TComIo::SendMsg(const std::uint8_t* data, std::uint16_t len, std::uint8_t com) {
    ++Seq;
    const std::uint8_t header[FrameHeaderSize] = {FrameStart,
                                                  Seq,
                                                  static_cast<std::uint8_t>(len & 0xFF),
                                                  static_cast<std::uint8_t>(len >> 8),
                                                  com,
                                                  FrameMarker};
    std::uint8_t check = 0;
    std::size_t pos = 0;
    for (std::uint8_t b : header) {
        frame_[pos++] = b;
        check ^= b;
    }
    for (std::uint16_t i = 0; i < len; ++i) {
        frame_[pos++] = data[i];
        check ^= data[i];
    }
    frame_[pos++] = check;
    // Throws away what is left of an earlier, failed reply.
    cPort->ClearBuffer(true, true);
    cPort->Write(frame_.data(), static_cast<std::int32_t>(pos));
    if (OnFrame) OnFrame(TFrameDirection::Request, frame_.data(), pos);
}

std::int32_t TComIo::GetMsg(std::int32_t timeout) {
    replyLen_ = 0;
    std::int32_t result = ReceiveFrame(timeout);
    if (OnFrame && replyLen_ > 0) OnFrame(TFrameDirection::Reply, reply_.data(), replyLen_);
    return result;
}

// Reads and tests the reply as it arrives; the first failed test ends the reception and
// leaves the rest of the frame for the next request's purge.
std::int32_t TComIo::ReceiveFrame(std::int32_t timeout) {
    auto next = [this](std::int32_t ms) {
        std::int32_t b = ReadByte(ms);
        if (b >= 0 && replyLen_ < reply_.size()) reply_[replyLen_++] = static_cast<std::uint8_t>(b);
        return b;
    };
    std::int32_t b = next(timeout);
    if (b != FrameStart) return LinkNoAnswer;
    std::uint8_t check = FrameStart;

    if ((b = next(LaterByteTimeoutMs)) < 0) return LinkCorrupted;
    InMsg.Sequence = static_cast<std::uint8_t>(b);
    check ^= b;
    if (InMsg.Sequence != Seq) return LinkWrongSequence;

    if ((b = next(LaterByteTimeoutMs)) < 0) return LinkCorrupted;
    InMsg.Count = static_cast<std::uint16_t>(b);
    check ^= b;
    if ((b = next(LaterByteTimeoutMs)) < 0) return LinkCorrupted;
    InMsg.Count = static_cast<std::uint16_t>(InMsg.Count + 256 * b);
    check ^= b;
    // More data than a reply can hold cannot be a reply of this module.
    if (InMsg.Count > InMsg.Data.size()) return LinkCorrupted;

    if ((b = next(LaterByteTimeoutMs)) < 0) return LinkCorrupted;
    InMsg.Status = static_cast<std::uint8_t>(b);
    check ^= b;

    if ((b = next(LaterByteTimeoutMs)) != FrameMarker) return LinkWrongChecksum;
    check ^= b;

    for (std::uint16_t i = 0; i < InMsg.Count; ++i) {
        if ((b = next(LaterByteTimeoutMs)) < 0) return LinkCorrupted;
        InMsg.Data[i] = static_cast<std::uint8_t>(b);
        check ^= b;
    }
    if ((b = next(LaterByteTimeoutMs)) != check) return LinkWrongChecksum;
    return InMsg.Count;
}

std::string TComIo::ErrToStr(std::int32_t err) {
    switch (err) {
        case LinkCorrupted:
            return "RECEIVE DATA CORRUPTED";
        case LinkNoAnswer:
            return "NO ANSWER";
        case LinkWrongSequence:
            return "WRONG SEQUENCE";
        case LinkWrongChecksum:
            return "WRONG CHECKSUM";
        case 0xC0:
            return "UNKNOWN COMMAND";
        case 0xC1:
            return "UNKNOWN FUNCTION";
        case 0xC2:
            return "WRONG PARAMETER COUNT";
        case 0xC3:
            return "CRYPT ERROR";
        case 0xC4:
            return "VALUE/RANGE ERROR";
        default:
            break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02X", static_cast<std::uint32_t>(err));
    return text;
}

std::uint16_t TComIo::Crc16(const std::uint8_t* ptr, std::uint16_t anz) {
    std::uint16_t crc = 0;
    for (std::uint16_t i = 0; i < anz; ++i) {
        crc ^= ptr[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA481) : crc >> 1;
        }
    }
    return crc;
}

// ---------------------------------------------------------------- port side

void TComIo::Connect(std::uint32_t baud) {
    if (cPort->Connected()) cPort->Close();
    cPort->Port = PortNameSource ? PortNameSource() : std::string();
    cPort->SetBaudRate(TBaudRate::brCustom);
    cPort->SetCustomBaudRate(baud);
    cPort->Open();
    Pause(20);
    cPort->SetBreak(true);
    Pause(20);
    cPort->SetBreak(false);
}

void TComIo::DisConnect() {
    cPort->Close();
}

std::int32_t TComIo::ReadByte(std::int32_t timeout) {
    cPort->Timeouts.SetReadTotalMultiplier(MAXDWORD);
    cPort->Timeouts.SetReadTotalConstant(static_cast<std::uint32_t>(timeout));
    std::string s;
    if (cPort->ReadStr(s, 1) == 0) return -1;
    return static_cast<std::uint8_t>(s[0]);
}

void TComIo::SetCancelToken(const TCancelToken* token) {
    cancel_ = token;
    cPort->SetCancelToken(token);
}

void TComIo::SetPause(TPause* pause) {
    pause_ = pause ? pause : &systemPause_;
}

void TComIo::Pause(int ms) {
    if (cancel_) cancel_->ThrowIfCancelled();
    pause_->Sleep(ms, cancel_);
    if (cancel_) cancel_->ThrowIfCancelled();
}

void TComIo::cPortAfterOpen(TComPort&) {
    if (OnPortState) OnPortState(true);
}

void TComIo::cPortAfterClose(TComPort&) {
    if (OnPortState) OnPortState(false);
}

}  // namespace kordel

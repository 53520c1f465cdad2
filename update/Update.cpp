#include "Update.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace kordel {

namespace {

constexpr std::int32_t ShortReplyTimeoutMs = 200;
constexpr std::int32_t FlashWriteTimeoutMs = 500;
constexpr const char* CrLf = "\r\n";

void Step(const TUpdateInput& in, TUpdateStep step) {
    if (in.progress) in.progress->StepStarted(step);
}

void Identify(TComIo& io, TBootInfo& bootInfo, const TUpdateInput& in) {
    io.NewOut(CmdIdentify);
    if (io.ComAction(ShortReplyTimeoutMs) != 0) throw EUpdateFailed("Kordel not found!");
    const std::size_t n = std::min<std::size_t>(io.InMsg.Count, bootInfo.Raw.size());
    std::memcpy(bootInfo.Raw.data(), io.InMsg.Data.data(), n);
    if (in.progress) in.progress->Identified(std::span(bootInfo.Raw.data(), n));
    // A reply too short to hold the code does not identify a module, whatever an earlier
    // update left in the record.
    if (n < 12 || bootInfo.BiosCode() != KordelBiosCode)
        throw EUpdateFailed("No Kordel connected!");
}

std::array<std::uint8_t, 12> ReadCpuId(TComIo& io) {
    io.NewOut(CmdCpuId);
    std::int32_t result = io.ComAction(ShortReplyTimeoutMs);
    // Fewer than 12 bytes would leave part of the ID to an older reply's bytes.
    if (result == 0 && io.InMsg.Count < 12) result = LinkCorrupted;
    if (result != 0) {
        throw EUpdateFailed(std::string("Error Reading CPU-ID") + CrLf + TComIo::ErrToStr(result));
    }
    std::array<std::uint8_t, 12> id;
    std::memcpy(id.data(), io.InMsg.Data.data(), id.size());
    return id;
}

void WriteBlock(TComIo& io, std::span<const std::uint8_t> image, std::uint32_t offset,
                std::uint16_t cryptWord) {
    const auto block = ImageBlock(image, offset);
    io.NewOut(CmdFlashWrite);
    io.AddOut(TWidth::TLONG, FlashBaseAddress + offset);
    io.AddOut(TWidth::TWORD, cryptWord);
    io.AddData(block.data(), BlockSize);
    const std::int32_t result = io.ComAction(FlashWriteTimeoutMs);
    if (result != 0) {
        throw EUpdateFailed(std::string("Error writing Flash") + CrLf + TComIo::ErrToStr(result));
    }
}

}  // namespace

std::array<std::uint8_t, BlockSize> ImageBlock(std::span<const std::uint8_t> image,
                                               std::uint32_t offset) {
    // The last block may reach past the image: those bytes go out as erased flash.
    std::array<std::uint8_t, BlockSize> block;
    block.fill(ErasedFlash);
    if (offset < image.size()) {
        const std::size_t n = std::min<std::size_t>(BlockSize, image.size() - offset);
        std::memcpy(block.data(), image.data() + offset, n);
    }
    return block;
}

std::uint32_t Crc32(const std::uint8_t* data, std::uint16_t len) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint32_t off = 0; off + 4 <= len; off += 4) {
        c ^= Le32(data + off);
        for (int bit = 0; bit < 32; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    }
    return c;
}

std::uint16_t DeriveCryptWords(TComIo& io, const std::array<std::uint8_t, 12>& cpuId) {
    std::uint32_t w[6];
    for (int i = 0; i < 3; ++i) w[i] = Le32(&cpuId[4 * i]);
    w[3] = w[0] ^ w[1];
    w[4] = w[1] ^ w[2];
    w[5] = w[2] ^ w[0];
    for (int i = 0; i < 4; ++i) {
        std::uint8_t bytes[12];
        for (int k = 0; k < 3; ++k) PutLe(&bytes[4 * k], w[i + k], 4);
        const std::uint32_t c = Crc32(bytes, sizeof bytes);
        io.Crypt[i] = {static_cast<std::uint16_t>(c >> 16), static_cast<std::uint16_t>(c & 0xFFFF)};
    }
    return io.Crypt[3].Hi;
}

void RunUpdate(TComIo& io, const TUpdateInput& in, TBootInfo& bootInfo) {
    Step(in, TUpdateStep::Connecting);
    io.Connect(UpdateLineSpeed);
    io.Pause(100);

    Step(in, TUpdateStep::Identifying);
    Identify(io, bootInfo, in);

    Step(in, TUpdateStep::ReadingCpuId);
    const auto cpuId = ReadCpuId(io);
    if (in.progress) in.progress->CpuIdRead(cpuId);
    const std::uint16_t cryptWord = DeriveCryptWords(io, cpuId);

    Step(in, TUpdateStep::Writing);
    const std::uint32_t length = in.info.UpdateLength();
    if (in.progress) {
        in.progress->SetMaximum(length);
        in.progress->SetPosition(0);
    }
    for (std::uint32_t offset = 0; offset < length; offset += BlockSize) {
        if (in.progress) in.progress->SetPosition(offset + BlockSize);
        if (in.beforeBlock) in.beforeBlock();
        WriteBlock(io, in.image, offset, cryptWord);
        if (in.progress) in.progress->BlockWritten(offset / BlockSize);
        io.Pause(25);
    }

    Step(in, TUpdateStep::Closing);
    io.NewOut(CmdClose);
    io.AddOut(TWidth::TBYTE, 'R');
    io.ComAction(ShortReplyTimeoutMs);  // the module may reset before it answers
    io.Pause(200);
    io.DisConnect();
}

}  // namespace kordel

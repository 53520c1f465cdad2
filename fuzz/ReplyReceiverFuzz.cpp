// The reply receiver fed by a port that delivers the fuzzer's bytes.
//
// Input: the first byte is the sequence number before the first request; then each
// exchange's reply is one chunk: a 16-bit little-endian length and that many bytes.
// The module sends the chunk once the request has been written; when it runs out,
// reads time out; the purge before the next request drops what is left of it.
//
// Checked on every exchange: the result is a link code or a status byte; a result that
// is a status byte comes only from a well-formed reply to this request, and a
// well-formed reply is always accepted, with its count, status and data.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "ByteOrder.h"
#include "ComIo.h"
#include "ComPort.h"

namespace kordel {
namespace {

class FeedPort final : public TComPort {
  public:
    std::span<const std::uint8_t> next;   // the reply the module gives to the next write
    std::span<const std::uint8_t> chunk;  // the reply being read
    std::size_t taken = 0;
    std::size_t writes = 0;

    ~FeedPort() override { Close(); }

  protected:
    int PlatformOpen(const std::string&) override { return 0; }
    int PlatformClose() override { return 0; }
    int PlatformSetupQueues(std::uint32_t, std::uint32_t) override { return 0; }
    int PlatformApplyLineSettings(const TLineSettings&) override { return 0; }
    int PlatformApplyTimeouts(const TComTimeouts&) override { return 0; }
    TIoResult PlatformRead(std::uint8_t* buf, std::int32_t count) override {
        std::int32_t n = 0;
        while (n < count && taken < chunk.size()) buf[n++] = chunk[taken++];
        return {n, 0};  // fewer bytes than asked: the read timed out
    }
    TIoResult PlatformWrite(const std::uint8_t*, std::int32_t count) override {
        ++writes;
        chunk = next;
        taken = 0;
        return {count, 0};
    }
    int PlatformClearErrors(std::uint32_t& inQueue) override {
        inQueue = 0;
        return 0;
    }
    int PlatformPurge(bool, bool rxClear, bool) override {
        if (rxClear) taken = chunk.size();
        return 0;
    }
    int PlatformSetBreak(bool) override { return 0; }
    int PlatformModemStatus(std::uint32_t& lines) override {
        lines = 0;
        return 0;
    }
    void PlatformBeginWatch(TComEvents) override {}
    TComEvents PlatformWaitEvents() override { return 0; }
    void PlatformWakeWatch() override {}
    void PlatformEndWatch() override {}
};

void Require(bool condition) {
    if (!condition) std::abort();
}

// The status of a well-formed reply to request `seq` at the start of `bytes`, or -1.
int WellFormedStatus(std::span<const std::uint8_t> bytes, std::uint8_t seq) {
    if (bytes.size() < FrameHeaderSize + 1 || bytes[0] != FrameStart || bytes[1] != seq ||
        bytes[5] != FrameMarker) {
        return -1;
    }
    const std::size_t count = Le16(&bytes[2]);
    if (count > TAnswer{}.Data.size() || bytes.size() < FrameHeaderSize + count + 1) return -1;
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < FrameHeaderSize + count; ++i) check ^= bytes[i];
    return bytes[FrameHeaderSize + count] == check ? bytes[4] : -1;
}

void Exchange(TComIo& io, FeedPort& port, std::span<const std::uint8_t> reply) {
    port.next = reply;
    const std::size_t writesBefore = port.writes;
    io.NewOut(0x10);
    io.AddOut(TWidth::TLONG, 0x12345678);
    const std::int32_t result = io.ComAction(1000);
    Require(port.writes == writesBefore + 1);  // one frame, one write
    Require(result >= LinkWrongChecksum && result <= 0xFF);
    const int expected = WellFormedStatus(reply, io.Seq);
    if (expected >= 0) {
        Require(result == expected);
        const std::size_t count = Le16(&reply[2]);
        Require(io.InMsg.Count == count && io.InMsg.Status == expected);
        Require(std::memcmp(io.InMsg.Data.data(), reply.data() + FrameHeaderSize, count) == 0);
    } else {
        Require(result < 0);
    }
    if (reply.empty() || reply[0] != FrameStart) Require(result == LinkNoAnswer);
}

}  // namespace
}  // namespace kordel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kordel;
    if (size == 0) return 0;
    TComIo io;
    auto owned = std::make_unique<FeedPort>();
    FeedPort& port = *owned;
    port.Events = 0;  // no line-event watcher thread
    io.cPort = std::move(owned);
    io.cPort->Open();
    io.Seq = data[0];
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    // An exchange without a chunk is a module that stays silent.
    do {
        std::span<const std::uint8_t> reply;
        if (rest.size() >= 2) {
            const std::size_t len = std::min<std::size_t>(Le16(rest.data()), rest.size() - 2);
            reply = rest.subspan(2, len);
            rest = rest.subspan(2 + len);
        } else {
            rest = {};
        }
        Exchange(io, port, reply);
    } while (!rest.empty());
    return 0;
}

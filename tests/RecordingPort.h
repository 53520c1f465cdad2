// A fake serial port for tests: records every platform call with its flags and the
// moment it was made, answers reads from a script of bytes, and fails any call on
// request with a chosen error number (or NoErrorNumber). RecordingPause notes the
// link's pauses in the same record.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "ComIo.h"
#include "ComPort.h"
#include "Pause.h"

namespace kordel::testing {

struct TPortCall {
    std::string op;         // "Open", "Read", "Write", "Purge", "Break", "ModemStatus", ...
    std::vector<long> args;  // the call's flags and sizes, per op (see each Platform* below)
    std::chrono::steady_clock::time_point at;
};

class RecordingPort final : public TComPort {
  public:
    RecordingPort() { Events = 0; }  // no watcher thread: the fake has no line events
    ~RecordingPort() override {
        try {
            Close();
        } catch (...) {
            // A failure injected into the purge of Close: nothing left to tell.
        }
    }

    std::vector<TPortCall> calls;
    // Bytes that "arrive": each read takes the next one, an empty script times out.
    std::deque<std::uint8_t> incoming;
    // op -> what the call returns instead of success.
    std::map<std::string, int> failWith;

    void Note(const std::string& op, std::vector<long> args = {}) {
        calls.push_back({op, std::move(args), std::chrono::steady_clock::now()});
    }
    std::vector<TPortCall> CallsOf(const std::string& op) const {
        std::vector<TPortCall> found;
        for (const auto& c : calls) {
            if (c.op == op) found.push_back(c);
        }
        return found;
    }
    // Everything written, call by call.
    std::vector<std::vector<std::uint8_t>> writes;
    // Plays the far end: called with each write, may queue the bytes that come back.
    std::function<void(const std::vector<std::uint8_t>& written)> onWrite;

  protected:
    int Result(const std::string& op) const {
        auto it = failWith.find(op);
        return it == failWith.end() ? 0 : it->second;
    }
    int PlatformOpen(const std::string& name) override {
        Note("Open", {static_cast<long>(name.size())});
        if (int r = Result("Open")) return r;
        open_ = true;
        return 0;
    }
    int PlatformClose() override {
        Note("Close");
        open_ = false;
        return 0;
    }
    int PlatformSetupQueues(std::uint32_t in, std::uint32_t out) override {
        Note("SetupQueues", {static_cast<long>(in), static_cast<long>(out)});
        return Result("SetupQueues");
    }
    int PlatformApplyLineSettings(const TLineSettings& s) override {
        Note("LineSettings", {static_cast<long>(s.baud)});
        return Result("LineSettings");
    }
    // args: read interval, total multiplier, total constant.
    int PlatformApplyTimeouts(const TComTimeouts& t) override {
        Note("Timeouts",
             {static_cast<long>(t.ReadInterval()), static_cast<long>(t.ReadTotalMultiplier()),
              static_cast<long>(t.ReadTotalConstant())});
        return Result("Timeouts");
    }
    // args: bytes asked for, the read's wait for its first byte (-1: without limit), as
    // the plan of the time-outs in force says.
    TIoResult PlatformRead(std::uint8_t* buf, std::int32_t count) override {
        const auto firstByte = ReadPlan(count).firstByteMs;
        Note("Read", {count, firstByte ? static_cast<long>(*firstByte) : -1L});
        if (int r = Result("Read")) return {0, r};
        if (!open_) return {0, 9};
        TIoResult res;
        while (res.bytes < count && !incoming.empty()) {
            buf[res.bytes++] = incoming.front();
            incoming.pop_front();
        }
        return res;
    }
    // args: bytes written.
    TIoResult PlatformWrite(const std::uint8_t* buf, std::int32_t count) override {
        Note("Write", {count});
        if (int r = Result("Write")) return {0, r};
        writes.emplace_back(buf, buf + count);
        if (onWrite) onWrite(writes.back());
        return {count, 0};
    }
    int PlatformClearErrors(std::uint32_t& inQueue) override {
        inQueue = static_cast<std::uint32_t>(incoming.size());
        Note("ClearErrors");
        return Result("ClearErrors");
    }
    // args: abort, receive side, transmit side.
    // "AbortPurge" fails only the purge that aborts pending I/O (the first step of Close).
    int PlatformPurge(bool abortIo, bool rx, bool tx) override {
        Note("Purge", {abortIo, rx, tx});
        if (int r = Result("Purge")) return r;
        if (int r = abortIo ? Result("AbortPurge") : 0) return r;
        if (!open_) return BadHandle;
        if (rx) incoming.clear();
        return 0;
    }
    // args: on.
    int PlatformSetBreak(bool on) override {
        Note("Break", {on});
        if (int r = Result("Break")) return r;
        return open_ ? 0 : BadHandle;
    }
    int PlatformModemStatus(std::uint32_t& lines) override {
        Note("ModemStatus");
        lines = 0;
        if (int r = Result("ModemStatus")) return r;
        return open_ ? 0 : BadHandle;
    }
    void PlatformBeginWatch(TComEvents) override {}
    TComEvents PlatformWaitEvents() override { return 0; }
    void PlatformWakeWatch() override {}
    void PlatformEndWatch() override {}

  public:
    static constexpr int BadHandle = 9;

  private:
    bool open_ = false;
};

// A reply frame as the module sends it: 1B seq count status 0E data check.
inline std::vector<std::uint8_t> ReplyFrame(std::uint8_t seq, std::uint8_t status,
                                            const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> f(6 + data.size() + 1);
    f[0] = 0x1B;
    f[1] = seq;
    f[2] = static_cast<std::uint8_t>(data.size() & 0xFF);
    f[3] = static_cast<std::uint8_t>(data.size() >> 8);
    f[4] = status;
    f[5] = 0x0E;
    std::copy(data.begin(), data.end(), f.begin() + 6);
    std::uint8_t check = 0;
    for (std::size_t i = 0; i + 1 < f.size(); ++i) check ^= f[i];
    f.back() = check;
    return f;
}

// The link's pauses, noted in a RecordingPort's record as "Pause" with the milliseconds
// asked for; `real` also sleeps them, for checks against the clock.
class RecordingPause final : public TPause {
  public:
    RecordingPause(RecordingPort& port, bool real) : port_(port), real_(real) {}
    void Sleep(int ms, const TCancelToken* cancel) override {
        port_.Note("Pause", {ms});
        if (real_) PauseMs(ms, cancel);
    }

  private:
    RecordingPort& port_;
    bool real_;
};

// Makes `port` answer as a module does, for updates through a window or a link: the
// identification with its code, twelve CPU-ID bytes, status 0 for everything else. The
// crypt word is not checked. Each written block is kept in `flash` by its address.
inline void PlayModule(RecordingPort& port,
                       std::map<std::uint32_t, std::vector<std::uint8_t>>& flash) {
    port.onWrite = [&port, &flash](const std::vector<std::uint8_t>& request) {
        std::vector<std::uint8_t> data;
        if (request[4] == 0xF2) {
            data.assign(48, 0);
            data[8] = 0x41;
            data[9] = 0x43;
        } else if (request[4] == 0xF5) {
            data.assign(12, 0x5A);
        } else if (request[4] == 0xF9 && request.size() == 269) {
            const std::uint32_t address = Le32(&request[6]);
            flash[address].assign(request.begin() + 12, request.end() - 1);
        }
        // Filled by index: GCC 12 warns falsely (-Warray-bounds) on inserting into a
        // vector made from a short list.
        std::vector<std::uint8_t> reply(7 + data.size());
        reply[0] = 0x1B;
        reply[1] = request[1];
        reply[2] = static_cast<std::uint8_t>(data.size());
        reply[5] = 0x0E;
        std::copy(data.begin(), data.end(), reply.begin() + 6);
        for (std::size_t i = 0; i + 1 < reply.size(); ++i) reply.back() ^= reply[i];
        port.incoming.assign(reply.begin(), reply.end());
    };
}

// Gives `io` a recording port that plays the module and, at the second block it is sent,
// goes away as an unplugged adapter does: its reads and the purge that starts the close
// fail with `error` until the test clears failWith (plugs it in again). Returns the port.
inline RecordingPort& GiveVanishingModule(TComIo& io,
                                          std::map<std::uint32_t, std::vector<std::uint8_t>>& flash,
                                          int error) {
    auto fake = std::make_unique<RecordingPort>();
    RecordingPort& port = *fake;
    port.OnAfterOpen = [&io](TComPort& p) { io.cPortAfterOpen(p); };
    port.OnAfterClose = [&io](TComPort& p) { io.cPortAfterClose(p); };
    PlayModule(port, flash);
    auto blocks = std::make_shared<int>(0);
    port.onWrite = [&port, error, blocks,
                    play = port.onWrite](const std::vector<std::uint8_t>& request) {
        if (request[4] == 0xF9 && ++*blocks == 2) {
            port.failWith["Read"] = error;
            port.failWith["AbortPurge"] = error;
        }
        play(request);
    };
    io.cPort = std::move(fake);
    return port;
}

}  // namespace kordel::testing

// The Linux backend of the serial port: a tty device opened by path, non-blocking,
// with every wait done by poll() against a steady_clock deadline. Every wait of a read
// or write also watches the port's cancel token and ends as soon as it is cancelled,
// whatever the far end does.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "CancelTokenLinux.h"
#include "ComPort.h"
#include "LineSettingsLinux.h"
#include "UniqueFd.h"

namespace kordel {

namespace {

using Clock = std::chrono::steady_clock;

// A device without modem lines (a pseudo-terminal, some adapters) answers modem ioctls
// with one of these; it simply has no lines.
bool NoModemLines(int err) {
    return err == ENOTTY || err == EINVAL;
}

// Limits this far away (beyond a thousand years; MAXDWORD per byte can go far past
// what a time point holds) are no limit.
constexpr std::uint64_t FarthestLimitMs = std::uint64_t{1} << 45;

// The deadline `ms` from now; nullopt for none or a limit too far away to be one.
std::optional<Clock::time_point> DeadlineAfter(const std::optional<std::uint64_t>& ms) {
    if (!ms || *ms > FarthestLimitMs) return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(*ms);
}

TComEvents CounterEvents(const serial_icounter_struct& a, const serial_icounter_struct& b) {
    TComEvents e = 0;
    if (a.cts != b.cts) e |= evCTS;
    if (a.dsr != b.dsr) e |= evDSR;
    if (a.rng != b.rng) e |= evRing;
    if (a.dcd != b.dcd) e |= evRLSD;
    if (a.brk != b.brk) e |= evBreak;
    if (a.frame != b.frame || a.overrun != b.overrun || a.parity != b.parity ||
        a.buf_overrun != b.buf_overrun) {
        e |= evError;
    }
    return e;
}

class TComPortLinux final : public TComPort {
  public:
    ~TComPortLinux() override {
        CloseQuietly();
        PlatformClose();
    }

  protected:
    int PlatformOpen(const std::string& name) override {
        UniqueFd fd(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fd) return errno;
        if (!::isatty(fd.get())) return ENOTTY;
        // The advisory lock comes first: an opener that does not get it (a second
        // instance, even as root) leaves alone the exclusive flag of the holder.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
        // The kernel raises DTR and RTS on every open of a port whose stored speed is not
        // B0, and the module's line must keep them off. They go down first, before any
        // other set-up step (the ones below can each cost a USB round trip), and again
        // after the line settings, which raise them when the stored speed was B0.
        TLineSettings lines;
        lines.controlDTR = FlowControl.ControlDTR();
        lines.controlRTS = FlowControl.ControlRTS();
        ApplyControlLines(fd.get(), lines);
        UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake) return errno;
        // TIOCEXCL keeps other users' opens out (root gets through; the lock stops it).
        // It is the last step that can fail, so no failure path ever has to clear it:
        // the flag is cleared only when a port we hold is closed.
        if (::ioctl(fd.get(), TIOCEXCL) != 0) return errno;
        fd_ = std::move(fd);
        wake_ = std::move(wake);
        RequestLowLatency();
        return 0;
    }

    int PlatformClose() override {
        if (!fd_) return 0;
        if (savedSerial_) {
            ::ioctl(fd_.get(), TIOCSSERIAL, &*savedSerial_);
            savedSerial_.reset();
        }
        // Stored at B0, the port is opened next time without DTR and RTS being raised.
        linux_tty::LeaveAtB0(fd_.get());
        ::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
        wake_.reset();
        return 0;
    }

    // The Linux tty layer sizes its queues itself; there is nothing to set.
    int PlatformSetupQueues(std::uint32_t, std::uint32_t) override { return 0; }

    // The control lines are set even when the line settings failed: a driver that refused
    // the speed may have raised them on the way.
    int PlatformApplyLineSettings(const TLineSettings& s) override {
        const int err = linux_tty::ApplyLineSettings(fd_.get(), s);
        const int lines = ApplyControlLines(fd_.get(), s);
        return err != 0 ? err : lines;
    }

    // A tty has no driver time-outs: every read and write follows the plan of the
    // time-outs in force itself.
    int PlatformApplyTimeouts(const TComTimeouts&) override { return 0; }

    TIoResult PlatformRead(std::uint8_t* buf, std::int32_t count) override {
        TIoResult r;
        if (count <= 0) return r;
        const TReadPlan plan = ReadPlan(count);
        const auto total = DeadlineAfter(plan.totalMs);
        auto deadline = DeadlineAfter(plan.firstByteMs);
        while (r.bytes < count) {
            if (r.bytes > 0) {
                deadline = total;
                const auto gap = DeadlineAfter(plan.intervalMs);
                if (gap && (!deadline || *gap < *deadline)) deadline = gap;
            }
            int got = ReadSome(buf + r.bytes, count - r.bytes, deadline, r);
            if (r.error != 0 || r.cancelled || got == 0) break;
            r.bytes += got;
        }
        return r;
    }

    TIoResult PlatformWrite(const std::uint8_t* buf, std::int32_t count) override {
        TIoResult r;
        const std::optional<Clock::time_point> deadline = DeadlineAfter(WriteLimit(count));
        while (r.bytes < count) {
            ssize_t n = ::write(fd_.get(), buf + r.bytes, static_cast<size_t>(count - r.bytes));
            if (n > 0) {
                r.bytes += static_cast<std::int32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) {
                r.error = errno;
                break;
            }
            const TPollResult w = PollCancellable(fd_.get(), POLLOUT, deadline, CancelToken());
            if (w.cancelled || w.error != 0) {
                r.cancelled = w.cancelled;
                r.error = w.error;
                break;
            }
            if (w.revents == 0) break;  // time limit reached: the bytes so far count
            if (w.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                r.error = (w.revents & POLLNVAL) ? EBADF : EIO;
                break;
            }
        }
        return r;
    }

    // Linux counts line errors instead of latching them, so only the queue count is read.
    int PlatformClearErrors(std::uint32_t& inQueue) override {
        int n = 0;
        if (::ioctl(fd_.get(), FIONREAD, &n) != 0) return errno;
        inQueue = static_cast<std::uint32_t>(n);
        return 0;
    }

    // Every read and write here completes before it returns, so aborting has nothing to do;
    // the descriptor is still checked, so a closed port fails as a flush would (EBADF).
    int PlatformPurge(bool /*abortIo*/, bool rxClear, bool txClear) override {
        int which = rxClear && txClear ? TCIOFLUSH : rxClear ? TCIFLUSH : txClear ? TCOFLUSH : -1;
        const int r = which >= 0 ? ::tcflush(fd_.get(), which) : ::fcntl(fd_.get(), F_GETFD);
        return r < 0 ? errno : 0;
    }

    int PlatformSetBreak(bool on) override {
        if (::ioctl(fd_.get(), on ? TIOCSBRK : TIOCCBRK) != 0) return errno;
        return 0;
    }

    int PlatformModemStatus(std::uint32_t& lines) override {
        int bits = 0;
        lines = 0;
        if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0) return NoModemLines(errno) ? 0 : errno;
        if (bits & TIOCM_CTS) lines |= mlCTS;
        if (bits & TIOCM_DSR) lines |= mlDSR;
        if (bits & TIOCM_RNG) lines |= mlRing;
        if (bits & TIOCM_CD) lines |= mlRLSD;
        return 0;
    }

    void PlatformBeginWatch(TComEvents) override {
        counters_.reset();
        serial_icounter_struct c{};
        if (::ioctl(fd_.get(), TIOCGICOUNT, &c) == 0) counters_ = c;
    }

    // The driver's counters are sampled every 50 ms; a device without them (a
    // pseudo-terminal) has nothing to watch, and the wait only ends for stopping.
    TComEvents PlatformWaitEvents() override {
        const auto period = counters_ ? DeadlineAfter(50) : std::nullopt;
        if (PollCancellable(wake_.get(), POLLIN, period, nullptr).revents != 0) return 0;
        serial_icounter_struct now{};
        if (::ioctl(fd_.get(), TIOCGICOUNT, &now) != 0) return 0;
        TComEvents events = CounterEvents(*counters_, now);
        counters_ = now;
        return events;
    }

    void PlatformWakeWatch() override {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
    }

    void PlatformEndWatch() override {
        std::uint64_t drained = 0;
        [[maybe_unused]] auto n = ::read(wake_.get(), &drained, sizeof drained);
        ::tcflush(fd_.get(), TCIOFLUSH);
    }

  private:
    // One read() of what is waiting, after polling up to `deadline` for it.
    // Returns the bytes read; 0 on time-out, cancellation or failure (then `r` says so).
    int ReadSome(std::uint8_t* buf, std::int32_t count,
                 const std::optional<Clock::time_point>& deadline, TIoResult& r) {
        for (;;) {
            const TPollResult w = PollCancellable(fd_.get(), POLLIN, deadline, CancelToken());
            if (w.cancelled || w.error != 0) {
                r.cancelled = w.cancelled;
                r.error = w.error;
                return 0;
            }
            if (w.revents == 0) return 0;
            if (w.revents & POLLNVAL) {
                r.error = EBADF;
                return 0;
            }
            ssize_t n = ::read(fd_.get(), buf, static_cast<size_t>(count));
            if (n > 0) return static_cast<int>(n);
            if (n == 0) {
                // Readable with nothing to read: the other end hung up.
                r.error = EIO;
                return 0;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                if (w.revents & (POLLHUP | POLLERR)) {
                    r.error = EIO;
                    return 0;
                }
                continue;
            }
            r.error = errno;
            return 0;
        }
    }

    static int ApplyControlLines(int fd, const TLineSettings& s) {
        int set = 0;
        int clear = 0;
        (s.controlDTR == TDTRFlowControl::dtrDisable ? clear : set) |= TIOCM_DTR;
        (s.controlRTS == TRTSFlowControl::rtsDisable ? clear : set) |= TIOCM_RTS;
        if (s.controlRTS == TRTSFlowControl::rtsHandshake) set &= ~TIOCM_RTS;
        for (auto [request, bits] : {std::pair{TIOCMBIC, clear}, std::pair{TIOCMBIS, set}}) {
            if (bits != 0 && ::ioctl(fd, request, &bits) != 0 && !NoModemLines(errno)) {
                return errno;
            }
        }
        return 0;
    }

    // USB adapters otherwise hold every reply back for their latency timer (16 ms).
    void RequestLowLatency() {
        serial_struct ss{};
        if (::ioctl(fd_.get(), TIOCGSERIAL, &ss) != 0) return;
        if (ss.flags & ASYNC_LOW_LATENCY) return;
        serial_struct low = ss;
        low.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd_.get(), TIOCSSERIAL, &low) == 0) savedSerial_ = ss;
    }

    UniqueFd fd_;
    UniqueFd wake_;
    std::optional<serial_struct> savedSerial_;
    std::optional<serial_icounter_struct> counters_;
};

}  // namespace

std::unique_ptr<TComPort> TComPort::Create() {
    return std::make_unique<TComPortLinux>();
}

}  // namespace kordel

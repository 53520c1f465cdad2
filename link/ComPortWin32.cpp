// The Win32 backend of the serial port: a COM device opened as "\\.\" + its name for
// overlapped I/O. Every read and write gets a completion record of its own and is
// waited for at once; the driver's time-outs end it. Every wait also watches the
// port's cancel token.

// ComPort.h first: its MAXDWORD constant must be declared before windows.h makes
// MAXDWORD a macro (of the same value).
#include "ComPort.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdlib>
#include <optional>
#include <vector>

#include "CancelTokenWin32.h"
#include "SystemWin32.h"
#include "TextWin32.h"
#include "UniqueHandleWin32.h"

namespace kordel {

namespace {

static_assert(sizeof(DCB) == 28, "the DCB record is 28 bytes long");

// How much longer than the driver's own limit a read or write is waited for before it
// is cancelled. Windows ends such a request itself at its limit, so this is only a
// safety net there; wine never ends a read under {MAXDWORD, MAXDWORD, constant}, and
// there the cancel after this margin is what ends it.
constexpr DWORD TimeoutMargin = 20;

// How long the watcher's stop waits for its pending event wait to end after the event
// mask was cleared, before it cancels the request.
constexpr DWORD WatchEndLimit = 1000;

int ErrorNumber(DWORD error) {
    return error == 0 ? NoErrorNumber : static_cast<int>(error);
}

int LastError() {
    return ErrorNumber(::GetLastError());
}

// A request that we cancelled at its time limit: wine reports the cancel (995), a
// driver its own time-out (1460). Either way the bytes moved so far count.
bool EndedByTimeLimit(DWORD error) {
    return error == ERROR_OPERATION_ABORTED || error == ERROR_TIMEOUT;
}

// The modem-line calls answer ERROR_NOT_SUPPORTED on a device that has no modem lines
// (a pseudo-terminal under wine, some virtual ports).
bool NoModemLines(DWORD error) {
    return error == ERROR_NOT_SUPPORTED;
}

// Reading the modem lines of such a device fails the open on Windows, as any other
// failure of the call does. Under wine, whose pseudo-terminals never have modem lines,
// the lines read as all off instead, unless KORDEL_WINE_NO_MODEM_TOLERANCE asks for
// Windows' answer (the tests do).
bool ToleratesNoModemLines() {
    return RunningUnderWine() && std::getenv("KORDEL_WINE_NO_MODEM_TOLERANCE") == nullptr;
}

struct TEvMaskBit {
    TComEvents event;
    DWORD mask;
};
constexpr TEvMaskBit EvMaskBits[] = {
    {evRxChar, EV_RXCHAR}, {evRxFlag, EV_RXFLAG}, {evTxEmpty, EV_TXEMPTY},
    {evCTS, EV_CTS},       {evDSR, EV_DSR},       {evRLSD, EV_RLSD},
    {evBreak, EV_BREAK},   {evError, EV_ERR},     {evRing, EV_RING},
    {evRx80Full, EV_RX80FULL},
};
constexpr DWORD ModemLineEvMask = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// Wine waits for line events with a thread that polls the device about once a
// millisecond while the wait is pending: on this machine that cost 0.45 s per update
// and 0.55 s of processor time, for events that nothing in the tool handles (and on a
// pseudo-terminal wine cannot see line errors or breaks at all). Under wine the
// watcher therefore only waits to be stopped, unless KORDEL_WINE_LINE_EVENTS is set
// (the tests set it to exercise the event wait). Windows drivers signal line events
// without polling; there the watcher waits for all of them.
bool WatchLineEventsHere() {
    return !RunningUnderWine() || std::getenv("KORDEL_WINE_LINE_EVENTS") != nullptr;
}

constexpr DWORD ToEvMask(TComEvents events) {
    DWORD mask = 0;
    for (const auto& b : EvMaskBits) {
        if (events & b.event) mask |= b.mask;
    }
    return mask;
}

static_assert(ToEvMask(AllComEvents) == 0x5FF, "all ten line events");

TComEvents FromEvMask(DWORD mask) {
    TComEvents events = 0;
    for (const auto& b : EvMaskBits) {
        if (mask & b.mask) events |= b.event;
    }
    return events;
}

enum class TOperationKind { okWrite, okRead };

// One read or write: the overlapped record with its own manual-reset event, created
// signalled, and for a write a private copy of its bytes. It lives until the request
// is over, also when the wait for it fails.
struct TAsync {
    OVERLAPPED Overlapped{};
    TOperationKind Kind;
    std::vector<std::uint8_t> Data;
    TKernelHandle Event;

    explicit TAsync(TOperationKind kind)
        : Kind(kind), Event(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
        Overlapped.hEvent = Event.get();
    }
};

// How long to wait for a request whose time limit is `ms` (nullopt: none).
DWORD WaitLimit(const std::optional<std::uint64_t>& ms) {
    if (!ms) return INFINITE;
    const std::uint64_t bounded = *ms + TimeoutMargin;
    return bounded >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(bounded);
}

class TComPortWin32 final : public TComPort {
  public:
    ~TComPortWin32() override {
        CloseQuietly();
        PlatformClose();
    }

  protected:
    int PlatformOpen(const std::string& name) override {
        const std::wstring path = L"\\\\.\\" + Utf8ToUtf16(name);
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return LastError();
        port_.reset(h);
        return 0;
    }

    // The port layer stops the watcher before it closes the port, so the watcher's two
    // events go here, after its thread has been joined: neither the stop nor a late
    // event can reach a closed handle.
    int PlatformClose() override {
        watchEvent_.reset();
        watchStop_.reset();
        const HANDLE h = port_.release();
        if (h && !::CloseHandle(h)) return LastError();
        return 0;
    }

    int PlatformSetupQueues(std::uint32_t input, std::uint32_t output) override {
        return ::SetupComm(port_.get(), input, output) ? 0 : LastError();
    }

    int PlatformApplyLineSettings(const TLineSettings& s) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = s.baud;
        dcb.fBinary = 1;
        dcb.fParity = s.parityCheck ? 1 : 0;
        dcb.fOutxCtsFlow = s.outCTSFlow ? 1 : 0;
        dcb.fOutxDsrFlow = s.outDSRFlow ? 1 : 0;
        dcb.fDtrControl = DtrControl(s.controlDTR);
        dcb.fDsrSensitivity = s.dsrSensitivity ? 1 : 0;
        dcb.fTXContinueOnXoff = s.txContinueOnXoff ? 1 : 0;
        dcb.fOutX = s.xonXoffOut ? 1 : 0;
        dcb.fInX = s.xonXoffIn ? 1 : 0;
        dcb.fErrorChar = s.parityReplace ? 1 : 0;
        dcb.fNull = s.discardNull ? 1 : 0;
        dcb.fRtsControl = RtsControl(s.controlRTS);
        dcb.fAbortOnError = 0;
        dcb.XonLim = s.xonLim;
        dcb.XoffLim = s.xoffLim;
        dcb.ByteSize = static_cast<BYTE>(s.dataBits);
        dcb.Parity = ParityByte(s.parity);
        dcb.StopBits = StopBitsByte(s.stopBits);
        dcb.XonChar = static_cast<char>(s.xonChar);
        dcb.XoffChar = static_cast<char>(s.xoffChar);
        dcb.EvtChar = static_cast<char>(s.eventChar);
        return ::SetCommState(port_.get(), &dcb) ? 0 : LastError();
    }

    int PlatformApplyTimeouts(const TComTimeouts& t) override {
        COMMTIMEOUTS ct{};
        ct.ReadIntervalTimeout = t.ReadInterval();
        ct.ReadTotalTimeoutMultiplier = t.ReadTotalMultiplier();
        ct.ReadTotalTimeoutConstant = t.ReadTotalConstant();
        ct.WriteTotalTimeoutMultiplier = t.WriteTotalMultiplier();
        ct.WriteTotalTimeoutConstant = t.WriteTotalConstant();
        return ::SetCommTimeouts(port_.get(), &ct) ? 0 : LastError();
    }

    TIoResult PlatformRead(std::uint8_t* buf, std::int32_t count) override {
        TAsync async(TOperationKind::okRead);
        if (!async.Event) return {0, LastError()};
        if (!::ReadFile(port_.get(), buf, static_cast<DWORD>(count), nullptr, &async.Overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) return {0, ErrorNumber(error)};
        }
        return WaitForAsync(async, WaitLimit(ReadPlan(count).totalMs));
    }

    TIoResult PlatformWrite(const std::uint8_t* buf, std::int32_t count) override {
        TAsync async(TOperationKind::okWrite);
        if (!async.Event) return {0, LastError()};
        async.Data.assign(buf, buf + (count > 0 ? count : 0));
        if (!::WriteFile(port_.get(), async.Data.data(), static_cast<DWORD>(async.Data.size()),
                         nullptr, &async.Overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) return {0, ErrorNumber(error)};
        }
        return WaitForAsync(async, WaitLimit(WriteLimit(count)));
    }

    int PlatformClearErrors(std::uint32_t& inQueue) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(port_.get(), &errors, &stat)) return LastError();
        inQueue = stat.cbInQue;
        return 0;
    }

    int PlatformPurge(bool abortIo, bool rxClear, bool txClear) override {
        DWORD flags = 0;
        if (abortIo) flags |= PURGE_TXABORT | PURGE_RXABORT;
        if (rxClear) flags |= PURGE_RXCLEAR;
        if (txClear) flags |= PURGE_TXCLEAR;
        if (flags == 0) return 0;
        return ::PurgeComm(port_.get(), flags) ? 0 : LastError();
    }

    int PlatformSetBreak(bool on) override {
        return ::EscapeCommFunction(port_.get(), on ? SETBREAK : CLRBREAK) ? 0 : LastError();
    }

    int PlatformModemStatus(std::uint32_t& lines) override {
        DWORD status = 0;
        lines = 0;
        if (!::GetCommModemStatus(port_.get(), &status)) {
            const DWORD error = ::GetLastError();
            return NoModemLines(error) && ToleratesNoModemLines() ? 0 : ErrorNumber(error);
        }
        if (status & MS_CTS_ON) lines |= mlCTS;
        if (status & MS_DSR_ON) lines |= mlDSR;
        if (status & MS_RING_ON) lines |= mlRing;
        if (status & MS_RLSD_ON) lines |= mlRLSD;
        return 0;
    }

    // ------------------------------------------------------------ the watcher

    void PlatformBeginWatch(TComEvents events) override {
        watchStop_ = TKernelHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        watchEvent_ = TKernelHandle(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
        watchMask_ = ToEvMask(events);
        if (!WatchLineEventsHere()) watchMask_ = 0;
        watchPending_ = false;
        ::SetCommMask(port_.get(), watchMask_);
    }

    TComEvents PlatformWaitEvents() override {
        for (;;) {
            if (!watchPending_) {
                if (auto done = StartEventWait()) return *done;
                if (!watchPending_) return WaitForStopOnly();
            }
            const HANDLE waits[] = {watchStop_.get(), watchEvent_.get()};
            const DWORD w = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (w != WAIT_OBJECT_0 + 1) return 0;  // stopping (or the wait itself failed)
            watchPending_ = false;
            DWORD unused = 0;
            if (::GetOverlappedResult(port_.get(), &watchOverlapped_, &unused, FALSE)) {
                return FromEvMask(watchResult_);
            }
            // A failed wait is started again, but not faster than a device that fails
            // every wait at once could keep the processor busy.
            if (::WaitForSingleObject(watchStop_.get(), 10) == WAIT_OBJECT_0) return 0;
        }
    }

    void PlatformWakeWatch() override {
        ::SetEvent(watchStop_.get());
        ::Sleep(0);
    }

    void PlatformEndWatch() override {
        // Clearing the mask ends a pending event wait (wine ignores a cancel of it).
        ::SetCommMask(port_.get(), 0);
        if (watchPending_) {
            if (::WaitForSingleObject(watchEvent_.get(), WatchEndLimit) != WAIT_OBJECT_0) {
                ::CancelIoEx(port_.get(), &watchOverlapped_);
            }
            DWORD unused = 0;
            ::GetOverlappedResult(port_.get(), &watchOverlapped_, &unused, TRUE);
            watchPending_ = false;
        }
        ::PurgeComm(port_.get(), PURGE_TXCLEAR | PURGE_RXCLEAR);
        // The two events stay until the port closes (PlatformClose): the owning thread
        // may still be signalling the stop event at this moment.
    }

  private:
    static DWORD DtrControl(TDTRFlowControl c) {
        switch (c) {
            case TDTRFlowControl::dtrDisable:
                return DTR_CONTROL_DISABLE;
            case TDTRFlowControl::dtrEnable:
                return DTR_CONTROL_ENABLE;
            case TDTRFlowControl::dtrHandshake:
                return DTR_CONTROL_HANDSHAKE;
        }
        return DTR_CONTROL_DISABLE;
    }

    static DWORD RtsControl(TRTSFlowControl c) {
        switch (c) {
            case TRTSFlowControl::rtsDisable:
                return RTS_CONTROL_DISABLE;
            case TRTSFlowControl::rtsEnable:
                return RTS_CONTROL_ENABLE;
            case TRTSFlowControl::rtsHandshake:
                return RTS_CONTROL_HANDSHAKE;
            case TRTSFlowControl::rtsToggle:
                return RTS_CONTROL_TOGGLE;
        }
        return RTS_CONTROL_DISABLE;
    }

    static BYTE ParityByte(TParityBits p) {
        switch (p) {
            case TParityBits::prNone:
                return NOPARITY;
            case TParityBits::prOdd:
                return ODDPARITY;
            case TParityBits::prEven:
                return EVENPARITY;
            case TParityBits::prMark:
                return MARKPARITY;
            case TParityBits::prSpace:
                return SPACEPARITY;
        }
        return NOPARITY;
    }

    static BYTE StopBitsByte(TStopBits s) {
        switch (s) {
            case TStopBits::sbOneStopBit:
                return ONESTOPBIT;
            case TStopBits::sbOne5StopBits:
                return ONE5STOPBITS;
            case TStopBits::sbTwoStopBits:
                return TWOSTOPBITS;
        }
        return ONESTOPBIT;
    }

    // Waits until the request ends, `limit` passes, or the cancel token is cancelled.
    // A request still running then is cancelled and waited for, so that its record is
    // never freed under the driver.
    TIoResult WaitForAsync(TAsync& async, DWORD limit) {
        OVERLAPPED* ov = &async.Overlapped;
        const TWaitEnd end = WaitCancellable(async.Event.get(), limit, CancelToken());
        DWORD bytes = 0;
        if (end == TWaitEnd::Signalled) {
            if (::GetOverlappedResult(port_.get(), ov, &bytes, FALSE)) return {Int(bytes), 0};
            return {Int(bytes), LastError()};
        }
        const int waitError = end == TWaitEnd::Failed ? LastError() : 0;
        ::CancelIoEx(port_.get(), ov);
        const BOOL done = ::GetOverlappedResult(port_.get(), ov, &bytes, TRUE);
        const DWORD error = done ? 0 : ::GetLastError();
        if (end == TWaitEnd::Cancelled) return {Int(bytes), 0, true};
        if (waitError != 0) return {Int(bytes), waitError};
        if (done || EndedByTimeLimit(error)) return {Int(bytes), 0};
        return {Int(bytes), ErrorNumber(error)};
    }

    static std::int32_t Int(DWORD n) { return static_cast<std::int32_t>(n); }

    // Starts an event wait. Returns the events when it completed at once; otherwise
    // nullopt, with watchPending_ telling whether it is running.
    std::optional<TComEvents> StartEventWait() {
        while (watchMask_ != 0) {
            watchOverlapped_ = OVERLAPPED{};
            watchOverlapped_.hEvent = watchEvent_.get();
            watchResult_ = 0;
            if (::WaitCommEvent(port_.get(), &watchResult_, &watchOverlapped_)) {
                return FromEvMask(watchResult_);
            }
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                watchPending_ = true;
                return std::nullopt;
            }
            // A device without modem lines refuses to wait for their changes: watch
            // the other events alone.
            if (NoModemLines(error) && (watchMask_ & ModemLineEvMask) != 0) {
                watchMask_ &= ~ModemLineEvMask;
                if (watchMask_ != 0 && ::SetCommMask(port_.get(), watchMask_)) continue;
            }
            return std::nullopt;
        }
        return std::nullopt;
    }

    // A device that cannot wait for line events has none to report: the watcher
    // only waits to be stopped.
    TComEvents WaitForStopOnly() {
        ::WaitForSingleObject(watchStop_.get(), INFINITE);
        return 0;
    }

    TKernelHandle port_;

    TKernelHandle watchStop_;
    TKernelHandle watchEvent_;
    OVERLAPPED watchOverlapped_{};
    DWORD watchResult_ = 0;
    DWORD watchMask_ = 0;
    bool watchPending_ = false;
};

}  // namespace

std::unique_ptr<TComPort> TComPort::Create() {
    return std::make_unique<TComPortWin32>();
}

}  // namespace kordel

#include "ComPort.h"

#include "CancelToken.h"
#include "ComThread.h"

namespace kordel {

// ---------------------------------------------------------------- EComPort

std::string EComPort::ConditionText(TComExceptions condition) {
    switch (condition) {
        case CE_OpenFailed:
            return "Unable to open com port";
        case CE_WriteFailed:
            return "WriteFile function failed";
        case CE_ReadFailed:
            return "ReadFile function failed";
        case CE_PurgeFailed:
            return "PurgeComm function failed";
        case CE_SetStateFailed:
            return "SetCommState function failed";
        case CE_TimeoutsFailed:
            return "SetCommTimeouts failed";
        case CE_SetupComFailed:
            return "SetupComm function failed";
        case CE_ClearComFailed:
            return "ClearCommError function failed";
        case CE_ModemStatFailed:
            return "GetCommModemStatus function failed";
        case CE_EscapeComFailed:
            return "EscapeCommFunction function failed";
        case CEPortNotOpen:
            return "Port Not Open";
    }
    return "Serial port failure";
}

namespace {

// The platform's error number that the exception carries, or -1: a closed port has
// none, whatever the caller passed.
int CarriedErrorNumber(TComExceptions condition, int platformError) {
    return platformError > 0 && condition != CEPortNotOpen ? platformError : -1;
}

std::string ComPortMessage(TComExceptions condition, int platformError) {
    std::string text = EComPort::ConditionText(condition);
    const int carried = CarriedErrorNumber(condition, platformError);
    if (carried > 0) text += " (Error: " + std::to_string(carried) + ")";
    return text;
}

void RaiseIf(int platformError, TComExceptions condition) {
    if (platformError != 0) throw EComPort(condition, platformError);
}

}  // namespace

EComPort::EComPort(TComExceptions condition, int platformError)
    : std::runtime_error(ComPortMessage(condition, platformError)),
      code_(static_cast<int>(condition) + 1),
      winCode_(CarriedErrorNumber(condition, platformError)) {}

// ---------------------------------------------------------------- settings groups

void TComTimeouts::Changed() {
    port_.ApplyTimeouts();
}
void TComBuffer::Changed() {
    port_.ApplyBuffer();
}
void TComFlowControl::Changed() {
    port_.ApplyLineSettings();
}
void TComParity::Changed() {
    port_.ApplyLineSettings();
}

// ---------------------------------------------------------------- time-out rules

TReadPlan PlanRead(const TComTimeoutValues& t, std::int32_t count) {
    const bool noInterval = t.readInterval == MAXDWORD;
    if (noInterval && t.readTotalMultiplier == 0 && t.readTotalConstant == 0) return {0, 0, 0};
    if (noInterval && t.readTotalMultiplier == MAXDWORD && t.readTotalConstant < MAXDWORD) {
        return {t.readTotalConstant, t.readTotalConstant, 0};
    }
    TReadPlan plan;
    if (t.readTotalMultiplier != 0 || t.readTotalConstant != 0) {
        const std::uint64_t n = count > 0 ? static_cast<std::uint64_t>(count) : 0;
        plan.totalMs = std::uint64_t{t.readTotalMultiplier} * n + t.readTotalConstant;
        plan.firstByteMs = plan.totalMs;
    }
    if (t.readInterval != 0 && !noInterval) plan.intervalMs = t.readInterval;
    return plan;
}

std::optional<std::uint64_t> WriteLimitMs(const TComTimeoutValues& t, std::int32_t count) {
    if (t.writeTotalMultiplier == 0 && t.writeTotalConstant == 0) return std::nullopt;
    const std::uint64_t n = count > 0 ? static_cast<std::uint64_t>(count) : 0;
    return std::uint64_t{t.writeTotalMultiplier} * n + t.writeTotalConstant;
}

std::uint32_t BaudRateValue(TBaudRate rate, std::uint32_t custom) {
    switch (rate) {
        case TBaudRate::brCustom:
            return custom;
        case TBaudRate::br110:
            return 110;
        case TBaudRate::br300:
            return 300;
        case TBaudRate::br600:
            return 600;
        case TBaudRate::br1200:
            return 1200;
        case TBaudRate::br2400:
            return 2400;
        case TBaudRate::br4800:
            return 4800;
        case TBaudRate::br9600:
            return 9600;
        case TBaudRate::br14400:
            return 14400;
        case TBaudRate::br19200:
            return 19200;
        case TBaudRate::br38400:
            return 38400;
        case TBaudRate::br56000:
            return 56000;
        case TBaudRate::br57600:
            return 57600;
        case TBaudRate::br115200:
            return 115200;
        case TBaudRate::br128000:
            return 128000;
        case TBaudRate::br256000:
            return 256000;
    }
    return custom;
}

void TComPort::SetBaudRate(TBaudRate v) {
    if (baudRate_ == v) return;
    baudRate_ = v;
    ApplyLineSettings();
}

void TComPort::SetCustomBaudRate(std::uint32_t v) {
    if (customBaudRate_ == v) return;
    customBaudRate_ = v;
    ApplyLineSettings();
}

TLineSettings TComPort::CurrentLineSettings() const {
    TLineSettings s;
    s.baud = BaudRateValue(baudRate_, customBaudRate_);
    s.dataBits = 5 + static_cast<int>(DataBits);
    s.stopBits = StopBits;
    s.parity = Parity.Bits();
    s.parityCheck = Parity.Check();
    s.outCTSFlow = FlowControl.OutCTSFlow();
    s.outDSRFlow = FlowControl.OutDSRFlow();
    s.controlDTR = FlowControl.ControlDTR();
    s.controlRTS = FlowControl.ControlRTS();
    s.xonXoffOut = FlowControl.XonXoffOut();
    s.xonXoffIn = FlowControl.XonXoffIn();
    s.xonChar = FlowControl.XonChar();
    s.xoffChar = FlowControl.XoffChar();
    s.discardNull = DiscardNull;
    s.parityReplace = Parity.Replace();
    s.dsrSensitivity = FlowControl.DSRSensitivity();
    s.txContinueOnXoff = FlowControl.TxContinueOnXoff();
    s.eventChar = EventChar;
    s.xonLim = s.xoffLim = static_cast<std::uint16_t>(Buffer.InputSize() / 4);
    return s;
}

void TComPort::ApplyTimeouts() {
    if (!connected_) return;
    RaiseIf(PlatformApplyTimeouts(Timeouts), CE_TimeoutsFailed);
    timeoutsInForce_ = Timeouts.Values();
}

void TComPort::ApplyBuffer() {
    if (connected_) {
        RaiseIf(PlatformSetupQueues(Buffer.InputSize(), Buffer.OutputSize()), CE_SetupComFailed);
    }
}

void TComPort::ApplyLineSettings() {
    if (connected_) {
        RaiseIf(PlatformApplyLineSettings(CurrentLineSettings()), CE_SetStateFailed);
    }
}

// ---------------------------------------------------------------- open and close

TComPort::TComPort() = default;
TComPort::~TComPort() = default;

void TComPort::Open() {
    if (connected_) return;
    RaiseIf(PlatformOpen(Port), CE_OpenFailed);
    connected_ = true;
    try {
        ApplyBuffer();
        ApplyLineSettings();
        ApplyTimeouts();
    } catch (...) {
        PlatformClose();
        connected_ = false;
        throw;
    }
    if (Events != 0) StartWatcher();
    if (OnAfterOpen) OnAfterOpen(*this);
    // The CTS, DSR and RLSD change events have no handler; reading the lines here
    // still proves that the driver answers.
    for (int line = 0; line < 3; ++line) ModemStatus();
}

void TComPort::Close() {
    if (!connected_) return;
    // A port whose device went away fails the purge (a removed USB adapter on Windows).
    // It is closed all the same, or it could never be opened again without a restart;
    // the failure is reported once, after the close.
    const int purgeError = PlatformPurge(true, false, false);
    StopWatcher();
    PlatformClose();
    connected_ = false;
    if (OnAfterClose) OnAfterClose(*this);
    RaiseIf(purgeError, CE_PurgeFailed);
}

void TComPort::StartWatcher() {
    watcher_ = std::make_unique<TComThread>(*this, Events);
}

void TComPort::CloseQuietly() noexcept {
    try {
        Close();
    } catch (...) {
        // Close has released everything before it reports; nobody is left to tell.
    }
}

void TComPort::StopWatcher() {
    if (!watcher_) return;
    watcher_->Stop();
    watcher_.reset();
}

void TComPort::HandleLineEvents(TComEvents events) {
    if (events & (evRxChar | evError)) {
        std::uint32_t inQueue = 0;
        PlatformClearErrors(inQueue);
    }
    if (events & (evCTS | evDSR | evRLSD)) {
        std::uint32_t lines = 0;
        PlatformModemStatus(lines);
    }
    if (OnLineEvents) OnLineEvents(*this, events);
}

// ---------------------------------------------------------------- I/O

void TComPort::CheckOpen() const {
    if (!connected_) throw EComPort(CEPortNotOpen, 0);
}

void TComPort::CheckCancelled() const {
    if (cancel_) cancel_->ThrowIfCancelled();
}

void TComPort::RaiseIfCancelled(const TIoResult& r) const {
    if (r.cancelled) throw ECancelled(CancelReason(cancel_));
}

std::int32_t TComPort::ReadStr(std::string& Str, std::int32_t Count) {
    CheckOpen();
    CheckCancelled();
    Str.assign(Count > 0 ? static_cast<std::size_t>(Count) : 0, '\0');
    TIoResult r = PlatformRead(reinterpret_cast<std::uint8_t*>(Str.data()), Count);
    RaiseIfCancelled(r);
    RaiseIf(r.error, CE_ReadFailed);
    std::uint32_t inQueue = 0;
    RaiseIf(PlatformClearErrors(inQueue), CE_ClearComFailed);
    Str.resize(static_cast<std::size_t>(r.bytes));
    return r.bytes;
}

std::int32_t TComPort::Write(const void* Buffer, std::int32_t Count) {
    CheckOpen();
    CheckCancelled();
    TIoResult r = PlatformWrite(static_cast<const std::uint8_t*>(Buffer), Count);
    RaiseIfCancelled(r);
    RaiseIf(r.error, CE_WriteFailed);
    return r.bytes;
}

// Purge, break and modem status go to the platform even on a closed port: it answers
// with its own bad-handle error, under the operation's own failure code. Only reads and
// writes have "Port Not Open".
void TComPort::ClearBuffer(bool Input, bool Output) {
    RaiseIf(PlatformPurge(false, Input, Output), CE_PurgeFailed);
}

void TComPort::SetBreak(bool OnOff) {
    RaiseIf(PlatformSetBreak(OnOff), CE_EscapeComFailed);
}

std::uint32_t TComPort::ModemStatus() {
    std::uint32_t lines = 0;
    RaiseIf(PlatformModemStatus(lines), CE_ModemStatFailed);
    return lines;
}

}  // namespace kordel

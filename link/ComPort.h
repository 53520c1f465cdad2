// The serial port under the link to the module: settings, open/close, byte I/O, break,
// modem lines and the line-event watcher. The shared part here keeps the Win32 names,
// failure codes and ordering; each OS supplies one backend (ComPortLinux.cpp, ...)
// that implements the protected Platform* operations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace kordel {

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

// Failure conditions of the port layer; the ordinal is the exception's Code - 1.
enum TComExceptions : int {
    CE_OpenFailed = 0,
    CE_WriteFailed = 1,
    CE_ReadFailed = 2,
    CE_PurgeFailed = 4,
    CE_SetStateFailed = 6,
    CE_TimeoutsFailed = 7,
    CE_SetupComFailed = 8,
    CE_ClearComFailed = 9,
    CE_ModemStatFailed = 10,
    CE_EscapeComFailed = 11,
    CEPortNotOpen = 23,
};

// What a backend's platform call returns when it failed but the platform gave no
// error number: the failure's text then stands alone.
inline constexpr int NoErrorNumber = -1;

// The port layer's exception. Code is the condition (1..24); WinCode the platform's
// error number, or -1 when the failure carries none.
class EComPort : public std::runtime_error {
  public:
    EComPort(TComExceptions condition, int platformError);
    int Code() const { return code_; }
    int WinCode() const { return winCode_; }

    static std::string ConditionText(TComExceptions condition);

  private:
    int code_;
    int winCode_;
};

// Line events, in the order the port declares them.
enum TComEvent : std::uint32_t {
    evRxChar = 1u << 0,
    evTxEmpty = 1u << 1,
    evRxFlag = 1u << 2,
    evRing = 1u << 3,
    evBreak = 1u << 4,
    evCTS = 1u << 5,
    evDSR = 1u << 6,
    evError = 1u << 7,
    evRLSD = 1u << 8,
    evRx80Full = 1u << 9,
};
using TComEvents = std::uint32_t;
inline constexpr TComEvents AllComEvents = 0x3FF;

// Modem input lines as read by ModemStatus().
enum TModemLine : std::uint32_t {
    mlCTS = 1u << 0,
    mlDSR = 1u << 1,
    mlRing = 1u << 2,
    mlRLSD = 1u << 3,
};

enum class TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
};
enum class TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum class TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum class TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum class TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

class TComPort;

// A settings group: assigning a new value applies the whole group to an open port;
// assigning the value it already holds applies nothing; a closed port only stores.
class TComSettingsGroup {
  public:
    explicit TComSettingsGroup(TComPort& port) : port_(port) {}
    TComSettingsGroup(const TComSettingsGroup&) = delete;
    TComSettingsGroup& operator=(const TComSettingsGroup&) = delete;

  protected:
    template <typename T>
    void Assign(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    virtual void Changed() = 0;
    TComPort& port_;
};

// The five time-outs as plain values, in milliseconds, holding the port's defaults: a
// read returns at once with what is there, a write of n bytes may take 100 x n + 1000.
struct TComTimeoutValues {
    std::uint32_t readInterval = MAXDWORD;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 100;
    std::uint32_t writeTotalConstant = 1000;
    bool operator==(const TComTimeoutValues&) const = default;
};

class TComTimeouts : public TComSettingsGroup {
  public:
    using TComSettingsGroup::TComSettingsGroup;
    const TComTimeoutValues& Values() const { return v_; }
    std::uint32_t ReadInterval() const { return v_.readInterval; }
    std::uint32_t ReadTotalMultiplier() const { return v_.readTotalMultiplier; }
    std::uint32_t ReadTotalConstant() const { return v_.readTotalConstant; }
    std::uint32_t WriteTotalMultiplier() const { return v_.writeTotalMultiplier; }
    std::uint32_t WriteTotalConstant() const { return v_.writeTotalConstant; }
    void SetReadInterval(std::uint32_t v) { Assign(v_.readInterval, v); }
    void SetReadTotalMultiplier(std::uint32_t v) { Assign(v_.readTotalMultiplier, v); }
    void SetReadTotalConstant(std::uint32_t v) { Assign(v_.readTotalConstant, v); }
    void SetWriteTotalMultiplier(std::uint32_t v) { Assign(v_.writeTotalMultiplier, v); }
    void SetWriteTotalConstant(std::uint32_t v) { Assign(v_.writeTotalConstant, v); }

  private:
    void Changed() override;
    TComTimeoutValues v_;
};

// What one read waits for under a set of time-outs, by the rules of the serial time-outs
// of Win32 (which every backend follows). Milliseconds; nullopt means without limit.
struct TReadPlan {
    std::optional<std::uint64_t> firstByteMs;  // the wait for the first byte
    std::optional<std::uint64_t> totalMs;      // the whole read, from its start
    // Once a byte came, the longest quiet gap before the read ends with what it has;
    // 0: it takes what is waiting and ends.
    std::optional<std::uint64_t> intervalMs;
    bool operator==(const TReadPlan&) const = default;
};

// The plan of a read of `count` bytes:
// - interval MAXDWORD, both totals 0: take what is there and return at once;
// - interval and multiplier MAXDWORD, a constant below MAXDWORD: wait up to the
//   constant for the first byte, then take what is there (ReadByte's rule);
// - otherwise a total of multiplier x count + constant (none when both are 0), and
//   the interval between bytes (none when it is 0 or MAXDWORD).
TReadPlan PlanRead(const TComTimeoutValues& t, std::int32_t count);

// The time limit of a write of `count` bytes: multiplier x count + constant, nullopt
// when both are 0. A write that reaches it ends with the bytes sent so far.
std::optional<std::uint64_t> WriteLimitMs(const TComTimeoutValues& t, std::int32_t count);

class TComBuffer : public TComSettingsGroup {
  public:
    using TComSettingsGroup::TComSettingsGroup;
    std::uint32_t InputSize() const { return inputSize_; }
    std::uint32_t OutputSize() const { return outputSize_; }
    void SetInputSize(std::uint32_t v) { Assign(inputSize_, v); }
    void SetOutputSize(std::uint32_t v) { Assign(outputSize_, v); }

  private:
    void Changed() override;
    std::uint32_t inputSize_ = 1024;
    std::uint32_t outputSize_ = 1024;
};

class TComFlowControl : public TComSettingsGroup {
  public:
    using TComSettingsGroup::TComSettingsGroup;
    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    std::uint8_t XonChar() const { return xonChar_; }
    std::uint8_t XoffChar() const { return xoffChar_; }
    void SetOutCTSFlow(bool v) { Assign(outCTSFlow_, v); }
    void SetOutDSRFlow(bool v) { Assign(outDSRFlow_, v); }
    void SetControlDTR(TDTRFlowControl v) { Assign(controlDTR_, v); }
    void SetControlRTS(TRTSFlowControl v) { Assign(controlRTS_, v); }
    void SetXonXoffOut(bool v) { Assign(xonXoffOut_, v); }
    void SetXonXoffIn(bool v) { Assign(xonXoffIn_, v); }
    void SetDSRSensitivity(bool v) { Assign(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { Assign(txContinueOnXoff_, v); }
    void SetXonChar(std::uint8_t v) { Assign(xonChar_, v); }
    void SetXoffChar(std::uint8_t v) { Assign(xoffChar_, v); }

  private:
    void Changed() override;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = TDTRFlowControl::dtrDisable;
    TRTSFlowControl controlRTS_ = TRTSFlowControl::rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    std::uint8_t xonChar_ = 0x11;
    std::uint8_t xoffChar_ = 0x13;
};

class TComParity : public TComSettingsGroup {
  public:
    using TComSettingsGroup::TComSettingsGroup;
    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    void SetBits(TParityBits v) { Assign(bits_, v); }
    void SetCheck(bool v) { Assign(check_, v); }
    void SetReplace(bool v) { Assign(replace_, v); }

  private:
    void Changed() override;
    TParityBits bits_ = TParityBits::prNone;
    bool check_ = false;
    bool replace_ = false;
};

// Everything the backend needs to program the line, gathered from the settings.
struct TLineSettings {
    std::uint32_t baud = 0;
    int dataBits = 8;
    TStopBits stopBits = TStopBits::sbOneStopBit;
    TParityBits parity = TParityBits::prNone;
    bool parityCheck = false;
    bool outCTSFlow = false;
    bool outDSRFlow = false;
    TDTRFlowControl controlDTR = TDTRFlowControl::dtrDisable;
    TRTSFlowControl controlRTS = TRTSFlowControl::rtsDisable;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
    bool discardNull = false;
    bool parityReplace = false;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    std::uint8_t eventChar = 0;
    // Receive-queue fill levels for XON/XOFF: a quarter of the input queue.
    std::uint16_t xonLim = 256;
    std::uint16_t xoffLim = 256;
};

// Result of a platform read or write: bytes moved, and the platform's error number
// (0 when the operation succeeded).
struct TIoResult {
    std::int32_t bytes = 0;
    int error = 0;
    bool cancelled = false;  // ended early: the port's cancel token was cancelled
};

// Hands line events from the watcher thread to the thread that owns the link.
// Post() may run `work` at once on the calling thread (a console front end) or queue
// it to an event loop (a window front end); the watcher waits until it has run or
// the port closes.
class TLineEventDispatcher {
  public:
    virtual ~TLineEventDispatcher() = default;
    virtual void Post(std::function<void()> work) = 0;
};

class TComThread;
class TCancelToken;

class TComPort {
  public:
    // The backend of the OS this program was built for.
    static std::unique_ptr<TComPort> Create();
    virtual ~TComPort();

    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // --- settings ---
    std::string Port;  // the port name; on Linux a device path such as /dev/ttyUSB0
    TBaudRate BaudRate() const { return baudRate_; }
    std::uint32_t CustomBaudRate() const { return customBaudRate_; }
    void SetBaudRate(TBaudRate v);
    void SetCustomBaudRate(std::uint32_t v);
    TDataBits DataBits = TDataBits::dbEight;
    TStopBits StopBits = TStopBits::sbOneStopBit;
    bool DiscardNull = false;
    std::uint8_t EventChar = 0;
    TComEvents Events = AllComEvents;
    TComParity Parity{*this};
    TComFlowControl FlowControl{*this};
    TComTimeouts Timeouts{*this};
    TComBuffer Buffer{*this};

    // --- events ---
    std::function<void(TComPort&)> OnAfterOpen;
    std::function<void(TComPort&)> OnAfterClose;
    std::function<void(TComPort&, TComEvents)> OnLineEvents;
    // Where the watcher hands its events; nullptr runs them on the watcher thread.
    TLineEventDispatcher* Dispatcher = nullptr;

    // The token whose cancellation ends a read or write, before or while it waits
    // (nullptr: never cancelled). TComIo::SetCancelToken sets it.
    void SetCancelToken(const TCancelToken* token) { cancel_ = token; }
    const TCancelToken* CancelToken() const { return cancel_; }

    // --- operations ---
    bool Connected() const { return connected_; }
    void Open();
    void Close();
    // ReadStr and Write raise EComPort on a port failure, and ECancelled (CancelToken.h)
    // once the cancel token is cancelled: nothing is read or written then.
    std::int32_t ReadStr(std::string& Str, std::int32_t Count);
    std::int32_t Write(const void* Buffer, std::int32_t Count);
    void ClearBuffer(bool Input, bool Output);
    void SetBreak(bool OnOff);
    std::uint32_t ModemStatus();  // TModemLine bits; 0 on a device without modem lines

    // Applies a settings group to the open port (called by the groups themselves).
    void ApplyTimeouts();
    void ApplyBuffer();
    void ApplyLineSettings();

  protected:
    TComPort();
    void StopWatcher();
    // What a read or write waits for under the time-outs applied last.
    TReadPlan ReadPlan(std::int32_t count) const { return PlanRead(timeoutsInForce_, count); }
    std::optional<std::uint64_t> WriteLimit(std::int32_t count) const {
        return WriteLimitMs(timeoutsInForce_, count);
    }
    // For a backend's destructor: closes the port without raising. A port being
    // destroyed has nobody left to tell; it still must not leave its watcher running.
    // The backend then releases its device itself.
    void CloseQuietly() noexcept;

    // Each returns 0, the platform's error number, or NoErrorNumber when the platform
    // failed without giving one, unless stated otherwise. PlatformPurge, PlatformSetBreak
    // and PlatformModemStatus are also called on a closed port and must then fail with
    // the platform's bad-handle error (EBADF, ERROR_INVALID_HANDLE).
    // None of them raises. PlatformRead and PlatformWrite follow ReadPlan and
    // WriteLimit, and end early with `cancelled` set once CancelToken() is cancelled.
    virtual int PlatformOpen(const std::string& name) = 0;
    virtual int PlatformClose() = 0;
    virtual int PlatformSetupQueues(std::uint32_t input, std::uint32_t output) = 0;
    virtual int PlatformApplyLineSettings(const TLineSettings& s) = 0;
    virtual int PlatformApplyTimeouts(const TComTimeouts& t) = 0;
    // Reads up to `count` bytes as ReadPlan(count) says.
    virtual TIoResult PlatformRead(std::uint8_t* buf, std::int32_t count) = 0;
    // Writes `count` bytes within WriteLimit(count); fewer bytes is no error.
    virtual TIoResult PlatformWrite(const std::uint8_t* buf, std::int32_t count) = 0;
    // Reads the input-queue count and clears the driver's line-error flags.
    virtual int PlatformClearErrors(std::uint32_t& inQueue) = 0;
    virtual int PlatformPurge(bool abortIo, bool rxClear, bool txClear) = 0;
    virtual int PlatformSetBreak(bool on) = 0;
    virtual int PlatformModemStatus(std::uint32_t& lines) = 0;

    // Line-event watching, on the watcher thread: begin, wait (returns the events seen,
    // or 0 once woken for stopping), end. Wake is called from the owning thread, maybe
    // after the watcher has ended its wait and run End: what it signals must live until
    // the port closes (PlatformClose comes only after the watcher thread has ended).
    virtual void PlatformBeginWatch(TComEvents events) = 0;
    virtual TComEvents PlatformWaitEvents() = 0;
    virtual void PlatformWakeWatch() = 0;
    virtual void PlatformEndWatch() = 0;

  private:
    friend class TComThread;
    TLineSettings CurrentLineSettings() const;
    void StartWatcher();
    void HandleLineEvents(TComEvents events);
    void CheckOpen() const;
    void CheckCancelled() const;
    void RaiseIfCancelled(const TIoResult& r) const;

    bool connected_ = false;
    const TCancelToken* cancel_ = nullptr;
    TComTimeoutValues timeoutsInForce_;
    TBaudRate baudRate_ = TBaudRate::br9600;
    std::uint32_t customBaudRate_ = 9600;
    std::unique_ptr<TComThread> watcher_;
};

// Line speed in bits per second of a standard rate setting.
std::uint32_t BaudRateValue(TBaudRate rate, std::uint32_t custom);

}  // namespace kordel

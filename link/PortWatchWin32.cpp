// Noticing on Windows that serial ports may have come or gone. A thread of the watch
// owns a message-only window and waits on two sources:
// - device-change notifications (WM_DEVICECHANGE) for the interfaces serial port
//   drivers register: the COM port interface, and the serial enumerator interface that
//   older USB-serial drivers register instead (same GUID as the Ports setup class);
// - a change notification on the registry's list of serial ports (SERIALCOMM), which
//   every serial driver writes when a port comes or goes and which the port listing
//   reads. It catches virtual ports whose driver registers no interface, and it is what
//   wine changes: wine sends no device-change message for a COM mapping (a dosdevices
//   link or a value under HKLM\Software\Wine\Ports) made while a program runs.
// Either source sets an auto-reset event, which Wait waits on together with the cancel
// token's events. Nothing is polled: with nothing happening, both threads sleep.
//
// The folders of the --port patterns mean nothing here: a Windows port is a name in the
// system's list, not a file in a folder.
#include <windows.h>
// After <windows.h>:
#include <dbt.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "CancelTokenWin32.h"
#include "PortWatch.h"
#include "UniqueHandleWin32.h"

namespace kordel {

namespace {

// {86E0D1E0-8089-11D0-9CE4-08003E301F73}: the COM port device interface.
constexpr GUID ComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
// {4D36E978-E325-11CE-BFC1-08002BE10318}: the serial enumerator interface, the same
// GUID as the Ports setup class.
constexpr GUID SerialEnumeratorInterface = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const wchar_t* const SerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// A machine that never had a serial port has no SERIALCOMM key: its parent is watched,
// with its subkeys, until the key appears.
const wchar_t* const DeviceMapKey = L"HARDWARE\\DEVICEMAP";
const wchar_t* const WindowClass = L"KordelPortWatch";

std::string ErrorText(const char* what, DWORD error) {
    return std::string(what) + " (Error: " + std::to_string(error) + ")";
}

// A new event, not signalled.
TKernelHandle NewEvent(bool manualReset) {
    TKernelHandle event(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
    if (!event) throw std::runtime_error(ErrorText("Cannot create an event", ::GetLastError()));
    return event;
}

LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_DEVICECHANGE &&
               (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE ||
                wParam == DBT_DEVNODES_CHANGED)) {
        ::SetEvent(reinterpret_cast<HANDLE>(::GetWindowLongPtrW(window, GWLP_USERDATA)));
        return TRUE;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// The window class, registered once per process; it stays for the process's life.
ATOM WatchWindowClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WatchWindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = WindowClass;
        return ::RegisterClassExW(&windowClass);
    }();
    return atom;
}

// The registry's port list, watched for new, changed and removed values.
class TSerialCommWatch {
  public:
    HANDLE Event() const { return event_.get(); }

    // Asks for the next change to be signalled; "" or what failed.
    std::string Arm() {
        const bool hasList = Open(SerialCommKey) == ERROR_SUCCESS;
        if (!hasList) {
            const LONG opened = Open(DeviceMapKey);
            if (opened != ERROR_SUCCESS) return ErrorText("Cannot open HKLM\\HARDWARE\\DEVICEMAP", opened);
        }
        const LONG armed = ::RegNotifyChangeKeyValue(
            key_.get(), hasList ? FALSE : TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
            event_.get(), TRUE);
        if (armed != ERROR_SUCCESS) return ErrorText("Cannot watch the list of serial ports", armed);
        return {};
    }

  private:
    LONG Open(const wchar_t* path) {
        key_.reset();
        HKEY key = nullptr;
        const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY, &key);
        key_.reset(key);
        return opened;
    }

    TKernelHandle event_ = NewEvent(false);
    TRegKeyHandle key_;
};

}  // namespace

struct TPortWatch::TPlatform {
    TKernelHandle changed = NewEvent(false);
    TKernelHandle stop = NewEvent(true);
    TKernelHandle started = NewEvent(true);
    std::mutex mutex;
    std::string failure;  // what stopped the watch; under mutex
    std::thread thread;

    TPlatform() {
        thread = std::thread([this] { Run(); });
        ::WaitForSingleObject(started.get(), INFINITE);
        const std::string failed = Failure();
        if (!failed.empty()) {
            thread.join();
            throw std::runtime_error(failed);
        }
    }

    ~TPlatform() {
        ::SetEvent(stop.get());
        thread.join();
    }

    std::string Failure() {
        const std::lock_guard<std::mutex> lock(mutex);
        return failure;
    }

    void Fail(const std::string& what) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            failure = what;
        }
        ::SetEvent(changed.get());
        ::SetEvent(started.get());
    }

    // The window, its notifications and the registry watch live on this thread: a
    // window's messages come to the thread that made it, and a registry notification
    // lasts as long as the thread that asked for it.
    void Run() {
        try {
            Watch();
        } catch (const std::exception& e) {
            Fail(e.what());
        }
    }

    void Watch() {
        if (!WatchWindowClass()) {
            return Fail(ErrorText("Cannot register the port watch's window class", ::GetLastError()));
        }
        const TWindowHandle window(::CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0,
                                                     HWND_MESSAGE, nullptr,
                                                     ::GetModuleHandleW(nullptr), changed.get()));
        if (!window) {
            return Fail(ErrorText("Cannot create the port watch's window", ::GetLastError()));
        }
        const TDeviceNotifyHandle comPorts(Register(window.get(), ComPortInterface));
        const TDeviceNotifyHandle serialPorts(Register(window.get(), SerialEnumeratorInterface));
        if (!comPorts || !serialPorts) {
            return Fail(ErrorText("Cannot register for device-change notifications",
                                  ::GetLastError()));
        }
        TSerialCommWatch serialComm;
        std::string armed = serialComm.Arm();
        if (!armed.empty()) return Fail(armed);
        ::SetEvent(started.get());
        const HANDLE waits[] = {stop.get(), serialComm.Event()};
        for (;;) {
            const DWORD woken = ::MsgWaitForMultipleObjectsEx(2, waits, INFINITE, QS_ALLINPUT,
                                                              MWMO_INPUTAVAILABLE);
            if (woken == WAIT_OBJECT_0) return;
            if (woken == WAIT_OBJECT_0 + 1) {
                // Armed again before the waiter is woken: a change after the waiter's
                // listing is never missed.
                armed = serialComm.Arm();
                if (!armed.empty()) return Fail(armed);
                ::SetEvent(changed.get());
            } else if (woken == WAIT_FAILED) {
                return Fail(ErrorText("The port watch cannot wait", ::GetLastError()));
            }
            DispatchMessages();
        }
    }

    static HDEVNOTIFY Register(HWND window, const GUID& interfaceClass) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        return ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }

    static void DispatchMessages() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
};

TPortWatch::TPortWatch(const std::vector<std::string>&)
    : platform_(std::make_unique<TPlatform>()) {}

TPortWatch::~TPortWatch() = default;

TPortWatch::TWake TPortWatch::Wait(std::chrono::milliseconds limit, const TCancelToken& cancel) {
    const std::string failedBefore = platform_->Failure();
    if (!failedBefore.empty()) throw std::runtime_error(failedBefore);
    // INFINITE is no limit; a longer limit waits as long as a wait can.
    const auto ms = std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, INFINITE - 1);
    switch (WaitCancellable(platform_->changed.get(), static_cast<DWORD>(ms), &cancel)) {
        case TWaitEnd::Cancelled:
            return TWake::Cancelled;
        case TWaitEnd::TimedOut:
            return TWake::TimedOut;
        case TWaitEnd::Failed:
            throw std::runtime_error(ErrorText("Cannot wait for ports to change", ::GetLastError()));
        case TWaitEnd::Signalled:
            break;
    }
    const std::string failed = platform_->Failure();
    if (!failed.empty()) throw std::runtime_error(failed);
    return TWake::Changed;
}

}  // namespace kordel

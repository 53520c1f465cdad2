// The main window: image info, port list, START and EXIT, status bar with progress
// bar, and the LED of the serial port. Its behaviour lives in TMainController.
#pragma once

// The core's headers come before <windows.h>: its macros (MAXDWORD) would change them.
#include "FormStorage.h"
#include "IniFile.h"
#include "MainController.h"
#include "StartFocus.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Gdi.h"

namespace kordel {
class TComIo;
}

namespace kordel::win32 {

// Tells the window that work waits in its queue (PostWork).
inline constexpr UINT RunPostedWork = WM_APP + 1;

class TMain : public TMainView, public TPlacementWindow {
  public:
    explicit TMain(TPortListSource ports = {});
    ~TMain() override;
    TMain(const TMain&) = delete;
    TMain& operator=(const TMain&) = delete;

    HWND Handle() const { return window_; }

    // The link the START handler uses (the global ComIo, created after the window).
    std::function<TComIo*()> Link;

    // controls
    HWND JvgGroupBox2 = nullptr;
    HWND LabBiosVersion = nullptr;
    HWND LabBiosInfo = nullptr;
    HWND JvgGroupBox1 = nullptr;
    HWND Label1 = nullptr;
    HWND cbPort = nullptr;
    HWND LED1 = nullptr;
    HWND ButStart = nullptr;
    HWND ButExit = nullptr;
    HWND sBar = nullptr;
    HWND pBar = nullptr;
    HWND Hints = nullptr;

    // non-visual components
    TIniFile IniFile;
    std::unique_ptr<TFormStorage> JvFormStorage1;
    std::unique_ptr<TMainController> Controller;

    // The first show restores the placement and runs FormShow before the window
    // appears; later calls only show it.
    void Show();
    // The port's open (green) and close (red) notifications.
    void SetLed(bool open);
    // Runs `work` on the window's thread when its message comes up; callable from any
    // thread (the serial port's watcher hands its line events over this way). The work
    // waits in a queue of the window's own: the message carries nothing, so a message
    // of the same number from elsewhere only runs what is queued.
    void PostWork(std::function<void()> work);

    // The progress values as the update set them (the bar shows them clamped).
    std::uint32_t ProgressMaximum() const { return progress_.Maximum(); }
    std::uint32_t ProgressPosition() const { return progress_.Position(); }

    // handlers
    void FormCreate(HWND Sender);
    void FormShow(HWND Sender);
    void FormClose(HWND Sender);
    void cbPortDropDown(HWND Sender);
    void ButStartClick(HWND Sender);
    void ButExitClick(HWND Sender);
    void JvgGroupBox1Click(HWND Sender);

    // TMainView
    void SetTitle(const std::string& title) override;
    void SetBiosLabels(const std::string& version, const std::string& info) override;
    void SetStatus(const std::string& text) override;
    void SetProgressMaximum(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void SetStartEnabled(bool enabled) override;
    void SetPortList(const TPortSelector& selector) override;
    std::string PortText() override;
    void ProcessPendingEvents() override;
    void ShowUpdateError(const std::string& message) override;
    void ShowStandardError(const std::string& message) override;
    void RequestEnd() override;
    void CloseWindow() override;
    std::vector<std::string> Arguments() override;
    bool DevEnvironmentPresent() override;
    void ShowDebugLog() override;
    void LogLine(const std::string& line) override;
    std::string ExecutablePath() override;

    // TPlacementWindow
    TWindowPlacement GetPlacement() override;
    void SetPlacement(const TWindowPlacement& placement) override;
    bool ApplicationMinimized() override;
    int ScreenPixelsPerInch() override;
    TPoint VirtualDesktopSize() override;
    bool PointOnMonitor(TPoint work) override;
    void UseOwnPosition() override;
    void SetWindowState(TWindowState state) override;
    void PostMinimize() override;
    TPoint ThinBorder() override;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id, int code);
    void OnClose();
    void OnActivate(bool active);
    void IgnoreStartupShowState();
    void BuildControls();
    void BuildStatusBar();
    void AddHint(HWND control, const wchar_t* text);
    void ShowProgress(const TShownProgress& shown);
    TFocusAt FocusAt(HWND focus) const;
    void ShowPortHint();
    bool PortNameFits(const std::wstring& name);
    void RunPostedWorkNow();

    HWND window_ = nullptr;
    FontHandle defaultFont_;
    FontHandle groupFont_;
    FontHandle infoFont_;
    FontHandle buttonFont_;
    bool shown_ = false;
    int showCmd_ = SW_SHOWNORMAL;
    bool minimizePending_ = false;
    HWND lastFocus_ = nullptr;
    TStartFocus startFocus_;
    TProgressState progress_;
    std::mutex workMutex_;
    std::deque<std::function<void()>> work_;
};

}  // namespace kordel::win32

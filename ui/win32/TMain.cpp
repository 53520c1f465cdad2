#include "TMain.h"

#include <commctrl.h>

#include "ComIo.h"
#include "CommonControls.h"
#include "Controls.h"
#include "DistCopy.h"
#include "Globals.h"
#include "MessagePump.h"
#include "TDebug.h"
#include "TMsgBox.h"
#include "TextWin32.h"
#include "WindowNames.h"

namespace kordel::win32 {

namespace {

constexpr int ClientWidth = 355;
constexpr int ClientHeight = 185;
constexpr DWORD MainStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// The combo box's height at creation is that of the closed box and its opened list.
constexpr int PortListDropHeight = 200;
constexpr int PortBoxHeight = 21;
// Wide enough for a port name of MaxPortNameLength characters on one line.
constexpr LPARAM MaxHintWidth = 1000;

// The closed box of a drop-down list is its item field plus a frame. Wine answers
// CB_GETITEMHEIGHT with 2 more than what CB_SETITEMHEIGHT took, so the field is set and
// the box measured until the box has the height asked for.
void FitClosedHeight(HWND combo, int height) {
    auto field =
        static_cast<int>(::SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT box;
        ::GetWindowRect(combo, &box);
        const int difference = height - (box.bottom - box.top);
        if (difference == 0) return;
        field += difference;
        ::SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
}

RECT WorkArea() {
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

std::string WindowTextUtf8(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Utf16ToUtf8(text);
}

}  // namespace

TMain::TMain(TPortListSource ports) {
    // The first window of the program: the common controls are loaded before it.
    CommonControls();
    RegisterControlClasses();
    RegisterWindowClass(MainClass, &TMain::WindowProc, true);
    defaultFont_ = PixelFont(L"MS Sans Serif", 11);
    groupFont_ = PixelFont(L"Tahoma", 11, true);
    infoFont_ = PixelFont(L"Tahoma", 12, true);
    buttonFont_ = PixelFont(L"Verdana", 11, true);
    RECT outer{0, 0, ClientWidth, ClientHeight};
    ::AdjustWindowRectEx(&outer, MainStyle, FALSE, 0);
    window_ = ::CreateWindowExW(0, MainClass, L"Main", MainStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                nullptr, ::GetModuleHandleW(nullptr), this);
    IgnoreStartupShowState();
    BuildControls();
    AddDialogWindow(window_);
    JvFormStorage1 = std::make_unique<TFormStorage>(IniFile, *this, "Main");
    Controller =
        std::make_unique<TMainController>(*this, IniFile, *JvFormStorage1, std::move(ports));
    FormCreate(window_);
}

// Windows shows a process's first captioned top-level window in the state the process
// was started with (a shortcut set to "Run: Minimised" or "Maximised") when that first
// ShowWindow asks for a plain normal show; the first ShowWindow of such a window uses
// the rule up, whatever it asks. Hiding the still hidden window uses it up here, so that
// the first show follows the saved placement alone.
void TMain::IgnoreStartupShowState() {
    ::ShowWindow(window_, SW_HIDE);
}

// A main window destroyed without having been closed (the program asked to end by
// other means) still saves its placement.
TMain::~TMain() {
    RemoveDialogWindow(window_);
    if (!::IsWindow(window_)) return;
    if (!JvFormStorage1->Saved()) {
        try {
            JvFormStorage1->SaveFormPlacement();
        } catch (const std::exception&) {
            // No window is left to report to; the file keeps what it held.
        }
    }
    ::DestroyWindow(window_);
}

// Children are created in tab order: START, EXIT, then the two panels (the port list
// inside the second).
void TMain::BuildControls() {
    ButStart = CreateChild(L"BUTTON", L"START", WS_TABSTOP | BS_PUSHBUTTON, 8, 135, 185, 25,
                           window_, IdButStart, buttonFont_.get());
    ButExit = CreateChild(L"BUTTON", L"EXIT", WS_TABSTOP | BS_PUSHBUTTON, 272, 135, 75, 25, window_,
                          IdButExit, buttonFont_.get());

    JvgGroupBox2 = CreateChild(GroupPanelClass, L"  BIOS-INFO", 0, 8, 4, 339, 69, window_,
                               IdJvgGroupBox2, groupFont_.get(), WS_EX_CONTROLPARENT);
    LabBiosVersion = CreateChild(L"STATIC", L"---", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 9, 21,
                                 232, 16, JvgGroupBox2, IdLabBiosVersion, infoFont_.get());
    LabBiosInfo = CreateChild(L"STATIC", L"---", SS_LEFT | SS_NOPREFIX, 9, 43, 233, 22,
                              JvgGroupBox2, IdLabBiosInfo, infoFont_.get());
    SetTextColour(LabBiosVersion, Maroon);
    SetTextColour(LabBiosInfo, Maroon);

    JvgGroupBox1 = CreateChild(GroupPanelClass, L" SERIAL INTERFACE", 0, 8, 79, 339, 50, window_,
                               IdJvgGroupBox1, groupFont_.get(), WS_EX_CONTROLPARENT);
    const SIZE label = TextExtent(JvgGroupBox1, groupFont_.get(), L"COM-Port:");
    Label1 = CreateChild(L"STATIC", L"COM-Port:", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 25, 27, label.cx,
                         label.cy, JvgGroupBox1, IdLabel1, groupFont_.get());
    SetTextColour(Label1, RGB(0, 0, 0));
    // Drawn by the panel, so that its entries show in maroon with any visual style.
    cbPort = CreateChild(
        L"COMBOBOX", L"",
        WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, 88, 23,
        81, PortListDropHeight, JvgGroupBox1, IdCbPort, groupFont_.get());
    SetTextColour(cbPort, Maroon);
    FitClosedHeight(cbPort, PortBoxHeight);
    LED1 = CreateChild(LedClass, L"", 0, 175, 25, 17, 17, JvgGroupBox1, IdLed1, nullptr);

    BuildStatusBar();

    Hints = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    // Without a maximum width a tool tip stays on one line whatever line breaks it holds.
    ::SendMessageW(Hints, TTM_SETMAXTIPWIDTH, 0, MaxHintWidth);
    AddHint(cbPort, Utf8ToUtf16(PortHint).c_str());
    AddHint(ButStart, L"Start update for Halvern and Halvern expert");
    AddHint(ButExit, L"Exit");
    lastFocus_ = ButStart;
}

// Two panels, 250 and 50 wide, no size grip; the progress bar lies over the second
// panel and reaches to the bar's right end.
void TMain::BuildStatusBar() {
    sBar = CreateChild(STATUSCLASSNAMEW, L"", CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0,
                       166, 355, 19, window_, IdSBar, groupFont_.get());
    int edges[] = {250, 300};
    ::SendMessageW(sBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
    pBar = CreateChild(PROGRESS_CLASSW, L"", PBS_SMOOTH, 252, 2, 102, 17, sBar, IdPBar, nullptr);
    ::SendMessageW(pBar, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(pBar, PBM_SETPOS, 0, 0);
}

void TMain::AddHint(HWND control, const wchar_t* text) {
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ::GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    ::SendMessageW(Hints, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TMain::Show() {
    if (!shown_) {
        shown_ = true;
        Controller->FirstShow();
    }
    ::ShowWindow(window_, minimizePending_ ? SW_SHOWMINIMIZED : showCmd_);
    minimizePending_ = false;
    ::UpdateWindow(window_);
}

void TMain::SetLed(bool open) {
    ::SendMessageW(LED1, LedSetState, open ? 1 : 0, 0);
}

// ---------------------------------------------------------------- handlers

void TMain::FormCreate(HWND) {
    Controller->FormCreate();
}
void TMain::FormShow(HWND) {
    Controller->FormShow();
}
void TMain::FormClose(HWND) {
    Controller->FormClose();
}
void TMain::cbPortDropDown(HWND) {
    Controller->cbPortDropDown();
}
void TMain::ButStartClick(HWND) {
    if (TComIo* io = Link ? Link() : nullptr) Controller->ButStartClick(*io);
}
void TMain::ButExitClick(HWND) {
    ::SendMessageW(window_, WM_CLOSE, 0, 0);
}
void TMain::JvgGroupBox1Click(HWND) {}

// ---------------------------------------------------------------- messages

LRESULT CALLBACK TMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        reinterpret_cast<TMain*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<TMain*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT TMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(defaultFont_.get());
        case RunPostedWork:
            RunPostedWorkNow();
            return 0;
        case WM_DESTROY:
            MarkEnding();
            ::PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void TMain::OnCommand(int id, int code) {
    if (id == IdButStart && code == BN_CLICKED) ButStartClick(ButStart);
    if (id == IdButExit && code == BN_CLICKED) ButExitClick(ButExit);
    if (id == IdCbPort && code == CBN_DROPDOWN) cbPortDropDown(cbPort);
    if (id == IdCbPort && code == CBN_SELCHANGE) ShowPortHint();
}

// EXIT, the close button, the system menu and Alt+F4 all come here. During an update
// the settings are saved at once and the window closes when the update has ended.
void TMain::OnClose() {
    if (Controller->CloseRequested()) ::DestroyWindow(window_);
}

// The focus comes back to the control that had it when the window was left.
void TMain::OnActivate(bool active) {
    if (!active) {
        const HWND focus = ::GetFocus();
        if (focus && ::IsChild(window_, focus)) lastFocus_ = focus;
        return;
    }
    if (::IsIconic(window_)) return;
    ::SetFocus(lastFocus_ && ::IsWindowEnabled(lastFocus_) ? lastFocus_ : window_);
}

void TMain::PostWork(std::function<void()> work) {
    {
        std::lock_guard lock(workMutex_);
        work_.push_back(std::move(work));
    }
    ::PostMessageW(window_, RunPostedWork, 0, 0);
}

// Work left in the queue when the window is gone is dropped with it; the port's close
// releases a watcher that waits for it.
void TMain::RunPostedWorkNow() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(workMutex_);
            if (work_.empty()) return;
            work = std::move(work_.front());
            work_.pop_front();
        }
        if (work) work();
    }
}

// ---------------------------------------------------------------- TMainView

// The main window is the task-bar entry: its caption is the application title.
void TMain::SetTitle(const std::string& title) {
    ::SetWindowTextW(window_, Utf8ToUtf16(title).c_str());
}

void TMain::SetBiosLabels(const std::string& version, const std::string& info) {
    ::SetWindowTextW(LabBiosVersion, Utf8ToUtf16(version).c_str());
    ::SetWindowTextW(LabBiosInfo, Utf8ToUtf16(info).c_str());
}

void TMain::SetStatus(const std::string& text) {
    ::SendMessageW(sBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Utf8ToUtf16(text).c_str()));
    ::UpdateWindow(sBar);
}

void TMain::SetProgressMaximum(std::uint32_t maximum) {
    ShowProgress(progress_.SetMaximum(maximum));
}

void TMain::SetProgressPosition(std::uint32_t position) {
    ShowProgress(progress_.SetPosition(position));
}

void TMain::ShowProgress(const TShownProgress& shown) {
    ::SendMessageW(pBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(shown.maximum));
    ::SendMessageW(pBar, PBM_SETPOS, static_cast<WPARAM>(shown.position), 0);
}

TFocusAt TMain::FocusAt(HWND focus) const {
    if (!focus) return TFocusAt::Nothing;
    if (focus == window_) return TFocusAt::Window;
    if (focus == ButStart) return TFocusAt::Start;
    return TFocusAt::OtherControl;
}

// A disabled control loses the focus; TStartFocus keeps it on the window. The focus to
// restore when the window is activated again (lastFocus_) follows the same rule.
void TMain::SetStartEnabled(bool enabled) {
    if (enabled) {
        ::EnableWindow(ButStart, TRUE);
        if (startFocus_.OnEnabling(FocusAt(::GetFocus())) == TFocusAt::Start) ::SetFocus(ButStart);
        if (startFocus_.OnEnabling(FocusAt(lastFocus_)) == TFocusAt::Start) lastFocus_ = ButStart;
        startFocus_.Enabled();
        return;
    }
    const bool startHasFocus = ::GetFocus() == ButStart || lastFocus_ == ButStart;
    const TFocusAt focus = startHasFocus ? TFocusAt::Start : TFocusAt::OtherControl;
    if (startFocus_.Disabling(focus) == TFocusAt::Window) {
        if (::GetFocus() == ButStart) ::SetFocus(window_);
        lastFocus_ = window_;
    }
    ::EnableWindow(ButStart, FALSE);
}

void TMain::SetPortList(const TPortSelector& selector) {
    ::SendMessageW(cbPort, CB_RESETCONTENT, 0, 0);
    for (const auto& item : selector.Items) {
        ::SendMessageW(cbPort, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(Utf8ToUtf16(item.Name).c_str()));
    }
    ::SendMessageW(cbPort, CB_SETCURSEL, static_cast<WPARAM>(selector.ItemIndex), 0);
    ShowPortHint();
}

// The closed box draws the name from its item field's left edge plus the list's indent.
bool TMain::PortNameFits(const std::wstring& name) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (!::GetComboBoxInfo(cbPort, &info)) return true;
    const SIZE extent = TextExtent(cbPort, groupFont_.get(), name);
    return extent.cx + ListEntryIndent <= info.rcItem.right - info.rcItem.left;
}

void TMain::ShowPortHint() {
    const std::string name = WindowTextUtf8(cbPort);
    std::wstring hint = Utf8ToUtf16(PortBoxHint(name, PortNameFits(Utf8ToUtf16(name))));
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = ::GetParent(cbPort);
    tool.uId = reinterpret_cast<UINT_PTR>(cbPort);
    tool.lpszText = hint.data();
    ::SendMessageW(Hints, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::string TMain::PortText() {
    return WindowTextUtf8(cbPort);
}

void TMain::ProcessPendingEvents() {
    ProcessPendingMessages();
}

void TMain::ShowUpdateError(const std::string& message) {
    MsgBox->Execute(message, mtError, "Error", TMsgBut{mbClose}, true);
}

void TMain::ShowStandardError(const std::string& message) {
    std::string caption = WindowTextUtf8(window_);
    if (caption.empty() || caption == "Main") caption = "kordel-update";
    ::MessageBoxW(::IsWindowVisible(window_) ? window_ : nullptr, Utf8ToUtf16(message).c_str(),
                  Utf8ToUtf16(caption).c_str(), MB_OK | MB_ICONERROR);
}

void TMain::RequestEnd() {
    MarkEnding();
}

void TMain::CloseWindow() {
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
}

std::vector<std::string> TMain::Arguments() {
    auto args = CommandLineArguments().value_or(std::vector<std::string>{});
    if (!args.empty()) args.erase(args.begin());  // the program's own path
    return args;
}

bool TMain::DevEnvironmentPresent() {
    return ::FindWindowW(Utf8ToUtf16(DevEnvironmentClass).c_str(), nullptr) != nullptr;
}

void TMain::ShowDebugLog() {
    Debug->Show();
}

void TMain::LogLine(const std::string& line) {
    Debug->S(line);
}

std::string TMain::ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return Utf16ToUtf8(path);
        }
        path.resize(path.size() * 2);
    }
}

// ---------------------------------------------------------------- TPlacementWindow

// The window system's placement record as it is: work-area coordinates.
TWindowPlacement TMain::GetPlacement() {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    ::GetWindowPlacement(window_, &wp);
    TWindowPlacement p;
    p.flags = static_cast<int>(wp.flags);
    p.showCmd = static_cast<int>(wp.showCmd);
    p.minPosition = {wp.ptMinPosition.x, wp.ptMinPosition.y};
    p.maxPosition = {wp.ptMaxPosition.x, wp.ptMaxPosition.y};
    p.normalPosition = {wp.rcNormalPosition.left, wp.rcNormalPosition.top,
                        wp.rcNormalPosition.right, wp.rcNormalPosition.bottom};
    return p;
}

void TMain::SetPlacement(const TWindowPlacement& placement) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    wp.flags = static_cast<UINT>(placement.flags);
    wp.showCmd = static_cast<UINT>(placement.showCmd);
    wp.ptMinPosition = {placement.minPosition.x, placement.minPosition.y};
    wp.ptMaxPosition = {placement.maxPosition.x, placement.maxPosition.y};
    const TRect& r = placement.normalPosition;
    wp.rcNormalPosition = {r.left, r.top, r.right, r.bottom};
    ::SetWindowPlacement(window_, &wp);
}

// The main window is the application's task-bar entry.
bool TMain::ApplicationMinimized() {
    return ::IsIconic(window_) != FALSE;
}

int TMain::ScreenPixelsPerInch() {
    WindowDC screen(nullptr);
    return ::GetDeviceCaps(screen, LOGPIXELSY);
}

TPoint TMain::VirtualDesktopSize() {
    return {::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

bool TMain::PointOnMonitor(TPoint work) {
    const RECT area = WorkArea();
    const POINT screen{work.x + area.left, work.y + area.top};
    return ::MonitorFromPoint(screen, MONITOR_DEFAULTTONULL) != nullptr;
}

// The window was created at the window system's default place; the placement applied
// next moves it.
void TMain::UseOwnPosition() {}

void TMain::SetWindowState(TWindowState state) {
    showCmd_ = state == TWindowState::Maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    if (::IsWindowVisible(window_)) {
        ::ShowWindow(window_, showCmd_);
        ::InvalidateRect(window_, nullptr, TRUE);
    }
}

// Before the first show the window is shown minimised straight away: a minimise
// command posted to a window that has just been shown can reach a window manager
// before it manages the window, which then stays on screen while Windows' side counts
// it minimised (measured with wine and openbox).
void TMain::PostMinimize() {
    if (::IsWindowVisible(window_)) {
        ::PostMessageW(window_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else {
        minimizePending_ = true;
    }
}

TPoint TMain::ThinBorder() {
    return {::GetSystemMetrics(SM_CXBORDER), ::GetSystemMetrics(SM_CYBORDER)};
}

}  // namespace kordel::win32

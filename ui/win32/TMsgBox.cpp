#include "TMsgBox.h"

#include "Controls.h"
#include "MessagePump.h"
#include "TextWin32.h"
#include "WindowNames.h"

namespace kordel::win32 {

namespace {

constexpr int DesignClientWidth = 295;
constexpr int DesignClientHeight = 123;
constexpr DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
constexpr DWORD DialogExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;

// The other enabled top-level windows of this thread, disabled while the dialog is
// shown and enabled again afterwards.
class DisabledWindows {
  public:
    explicit DisabledWindows(HWND dialog) : dialog_(dialog) {
        ::EnumThreadWindows(::GetCurrentThreadId(), &DisabledWindows::Collect,
                            reinterpret_cast<LPARAM>(this));
        for (HWND w : windows_) ::EnableWindow(w, FALSE);
    }
    ~DisabledWindows() {
        for (HWND w : windows_) ::EnableWindow(w, TRUE);
    }
    DisabledWindows(const DisabledWindows&) = delete;
    DisabledWindows& operator=(const DisabledWindows&) = delete;

  private:
    static BOOL CALLBACK Collect(HWND window, LPARAM self) {
        auto* me = reinterpret_cast<DisabledWindows*>(self);
        if (window != me->dialog_ && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
            me->windows_.push_back(window);
        }
        return TRUE;
    }
    HWND dialog_;
    std::vector<HWND> windows_;
};

}  // namespace

TMsgBox::TMsgBox() {
    RegisterWindowClass(MsgBoxClass, &TMsgBox::WindowProc, false);
    font_ = PixelFont(L"MS Sans Serif", 11);
    labelFont_ = PixelFont(L"Verdana", 11);
    static const wchar_t* const iconNames[] = {L"WARNING", L"ERROR", L"INFORMATION",
                                               L"CONFIRMATION"};
    for (std::size_t i = 0; i < IconImg.size(); ++i) {
        IconImg[i].reset(
            static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), iconNames[i], IMAGE_ICON,
                                            MsgImageSize, MsgImageSize, LR_DEFAULTCOLOR)));
    }
    RECT outer{0, 0, DesignClientWidth, DesignClientHeight};
    ::AdjustWindowRectEx(&outer, DialogStyle, FALSE, DialogExStyle);
    window_.reset(::CreateWindowExW(DialogExStyle, MsgBoxClass, L"MsgBox", DialogStyle,
                                    CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                                    outer.bottom - outer.top, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), this));
    ::SendMessageW(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    Img = CreateChild(L"STATIC", L"", SS_OWNERDRAW, MsgImageLeft, MsgImageTop, MsgImageSize,
                      MsgImageSize, window_.get(), IdMsgImg, nullptr);
    InfoLabel = CreateChild(L"STATIC", L"", SS_LEFTNOWORDWRAP, 68, 8, 0, 0, window_.get(),
                            IdMsgInfoLabel, labelFont_.get());
    AddDialogWindow(window_.get());
}

TMsgBox::~TMsgBox() {
    RemoveDialogWindow(window_.get());
}

// The dialog belongs to the main window, so that it stays above it.
void TMsgBox::SetCentreOver(HWND window) {
    centreOver_ = window;
    ::SetWindowLongPtrW(window_.get(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(window));
}

int TMsgBox::Execute(const std::string& MsgText, TMsgDlgType DlgType,
                     const std::string& CaptionTitle, TMsgBut Buttons, bool MsgBeep) {
    const std::wstring text = Utf8ToUtf16(MsgText);
    const SIZE label = TextExtent(InfoLabel, labelFont_.get(), text);
    const TMsgBoxLayout layout = LayoutMsgBox(DlgType, CaptionTitle, Buttons, label.cx, label.cy);

    iconIndex_ = layout.iconIndex;
    ::ShowWindow(Img, layout.imageVisible ? SW_SHOWNA : SW_HIDE);
    ::InvalidateRect(Img, nullptr, TRUE);
    ::MoveWindow(InfoLabel, layout.labelLeft, layout.labelTop, label.cx, label.cy, FALSE);
    ::SetWindowTextW(InfoLabel, text.c_str());
    ::SetWindowTextW(window_.get(), Utf8ToUtf16(layout.caption).c_str());
    PlaceOverOwner(layout.outerWidth, layout.outerHeight);
    AddButtons(layout);
    if (MsgBeep) ::MessageBeep(MB_ICONHAND);
    const int result = Ending() ? mrCancel : ShowModal();
    FreeButtons();
    return result;
}

void TMsgBox::AddButtons(const TMsgBoxLayout& layout) {
    ButCnt = 0;
    But.clear();
    results_.clear();
    for (const auto& spec : layout.buttons) {
        ++ButCnt;
        But.push_back(CreateChild(L"BUTTON", Utf8ToUtf16(spec.caption).c_str(),
                                  WS_TABSTOP | BS_PUSHBUTTON, spec.left, spec.top, spec.width,
                                  spec.height, window_.get(), IdMsgButtonBase + ButCnt,
                                  font_.get()));
        results_.push_back(spec.result);
    }
}

void TMsgBox::FreeButtons() {
    for (HWND button : But) ::DestroyWindow(button);
    But.clear();
    focus_ = nullptr;
}

// Centred over the main window; the size is the outer one, frame and caption included.
void TMsgBox::PlaceOverOwner(int outerWidth, int outerHeight) {
    RECT over{};
    if (!centreOver_ || !::GetWindowRect(centreOver_, &over)) {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    }
    const int x = (over.left + over.right) / 2 - outerWidth / 2;
    const int y = (over.top + over.bottom) / 2 - outerHeight / 2;
    ::SetWindowPos(window_.get(), nullptr, x, y, outerWidth, outerHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

int TMsgBox::ShowModal() {
    modalResult_ = mrNone;
    {
        DisabledWindows others(window_.get());
        ::ShowWindow(window_.get(), SW_SHOW);
        ::SetForegroundWindow(window_.get());
        FormShow();
        MSG message;
        while (modalResult_ == mrNone && !Ending()) {
            const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
            if (got <= 0) {
                MarkEnding();
                ::PostQuitMessage(got == 0 ? static_cast<int>(message.wParam) : 1);
                break;
            }
            DispatchWithDialogKeys(message);
        }
    }
    // The owner is enabled again first, so that it takes the activation back.
    ::ShowWindow(window_.get(), SW_HIDE);
    return modalResult_ == mrNone ? mrCancel : modalResult_;
}

void TMsgBox::FormShow() {
    focus_ = ::GetDlgItem(window_.get(), IdMsgButtonBase + 1);
    if (focus_) ::SetFocus(focus_);
}

// A window manager activates the dialog after it was shown, and the default handling
// would then put the focus on the dialog itself: it goes back to the control that had it.
void TMsgBox::OnActivate(bool active) {
    const HWND focus = ::GetFocus();
    if (!active) {
        if (focus && ::IsChild(window_.get(), focus)) focus_ = focus;
        return;
    }
    if (focus_ && ::IsChild(window_.get(), focus_)) ::SetFocus(focus_);
}

// The icons carry the white of their inside as opaque pixels and nothing (alpha 0)
// around it: drawn over the face colour, the inside stays white and the surround shows
// the dialog's face. (A white fill first and the bottom-left pixel's colour made
// see-through afterwards would take the white inside away with the surround.)
void TMsgBox::DrawPicture(const DRAWITEMSTRUCT& item) {
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    if (iconIndex_ < 0 || iconIndex_ >= static_cast<int>(IconImg.size())) return;
    ::DrawIconEx(item.hDC, 0, 0, IconImg[static_cast<std::size_t>(iconIndex_)].get(), MsgImageSize,
                 MsgImageSize, 0, nullptr, DI_NORMAL);
}

LRESULT CALLBACK TMsgBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TMsgBox*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->window_) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT TMsgBox::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = window_.get();
    switch (message) {
        case WM_COMMAND: {
            const int index = LOWORD(wParam) - IdMsgButtonBase - 1;
            if (HIWORD(wParam) == BN_CLICKED && index >= 0 &&
                index < static_cast<int>(results_.size())) {
                modalResult_ = results_[static_cast<std::size_t>(index)];
            }
            return 0;
        }
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        case WM_CLOSE:
            // Closing without a button gives the close button's code.
            modalResult_ = mrCancel;
            return 0;
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item.CtlID == IdMsgImg) {
                DrawPicture(item);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC: {
            const auto dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            ::SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kordel::win32

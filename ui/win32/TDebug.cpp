#include "TDebug.h"

#include "CommonControls.h"
#include "Controls.h"
#include "TextWin32.h"
#include "WindowNames.h"

namespace kordel::win32 {

namespace {

constexpr int OuterWidth = 594;
constexpr int OuterHeight = 554;

}  // namespace

TDebug::TDebug() {
    RegisterWindowClass(DebugClass, &TDebug::WindowProc, true);
    font_ = PixelFont(L"MS Sans Serif", 11);
    memoFont_ = PixelFont(L"Courier New", 11);
    window_.reset(::CreateWindowExW(0, DebugClass, L"Debug", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                    CW_USEDEFAULT, CW_USEDEFAULT, OuterWidth, OuterHeight, nullptr,
                                    nullptr, ::GetModuleHandleW(nullptr), this));
    ::SendMessageW(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    RECT client;
    ::GetClientRect(window_.get(), &client);
    // No horizontal scrolling: long lines wrap at the box's width.
    Memo = CreateChild(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, 0, 0,
                       client.right, client.bottom, window_.get(), IdMemo, memoFont_.get());
    ::SendMessageW(Memo, EM_SETLIMITTEXT, 0, 0);
    CommonControls().SetWindowSubclass(Memo, &TDebug::MemoProc, 1,
                                       reinterpret_cast<DWORD_PTR>(this));
    append = [this](const std::string& line) { AppendLine(line); };
    clear = [this] { ::SetWindowTextW(Memo, L""); };
}

TDebug::~TDebug() {
    if (::IsWindow(Memo)) CommonControls().RemoveWindowSubclass(Memo, &TDebug::MemoProc, 1);
}

void TDebug::Show() {
    ::ShowWindow(window_.get(), SW_SHOWNORMAL);
}

// One entry per line: a line break goes before every line but the first.
void TDebug::AppendLine(const std::string& line) {
    const int length = ::GetWindowTextLengthW(Memo);
    std::wstring text = length > 0 ? L"\r\n" : L"";
    text += Utf8ToUtf16(line);
    ::SendMessageW(Memo, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    ::SendMessageW(Memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TDebug::MemoDblClick(HWND) {
    C();
}

LRESULT CALLBACK TDebug::MemoProc(HWND memo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR self) {
    if (message == WM_LBUTTONDBLCLK) {
        reinterpret_cast<TDebug*>(self)->MemoDblClick(memo);
        return 0;
    }
    return CommonControls().DefSubclassProc(memo, message, wParam, lParam);
}

LRESULT CALLBACK TDebug::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TDebug*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_SIZE:
            if (self && self->Memo) {
                ::MoveWindow(self->Memo, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            }
            return 0;
        case WM_CTLCOLORSTATIC: {
            // Read-only, the box would take the face colour; the log stays on white.
            const auto dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
        }
        case WM_CLOSE:
            // Closing only hides the log; it lives until the program ends.
            ::ShowWindow(window, SW_HIDE);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace kordel::win32

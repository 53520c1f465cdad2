#include "Controls.h"

#include <algorithm>
#include <string>

#include "Gdi.h"
#include "WindowNames.h"

namespace kordel::win32 {

namespace {

constexpr wchar_t TextColourProp[] = L"KordelTextColour";
// Set in the property so that black (0) differs from "no colour set".
constexpr ULONG_PTR ColourPresent = 0x01000000;

bool TextColourOf(HWND control, COLORREF& colour) {
    // A control without a colour of its own takes that of the control it belongs to
    // (the opened list of a drop-down list that of its box).
    for (HWND w = control; w; w = ::GetParent(w)) {
        const auto value = reinterpret_cast<ULONG_PTR>(::GetPropW(w, TextColourProp));
        if (value & ColourPresent) {
            colour = static_cast<COLORREF>(value & 0xFFFFFF);
            return true;
        }
        if (::GetWindowLongPtrW(w, GWL_STYLE) & WS_CHILD) continue;
        break;
    }
    return false;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void PaintGroupPanel(HWND panel, HDC dc) {
    RECT client;
    ::GetClientRect(panel, &client);
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    RECT frame = client;
    ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    RECT bar{client.left + 2, client.top + 2, client.right - 2, client.top + CaptionBarHeight};
    BrushHandle barBrush(::CreateSolidBrush(CaptionBarColour));
    ::FillRect(dc, &bar, barBrush.get());
    const auto font = reinterpret_cast<HFONT>(::GetWindowLongPtrW(panel, GWLP_USERDATA));
    Selected selected(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_CAPTIONTEXT));
    const std::wstring caption = WindowText(panel);
    RECT text = bar;
    text.left += 2;
    ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

// Labels on the panel's face colour; list boxes on the window colour.
LRESULT ColourChild(UINT message, WPARAM wParam, LPARAM lParam) {
    const auto dc = reinterpret_cast<HDC>(wParam);
    COLORREF colour = RGB(0, 0, 0);
    TextColourOf(reinterpret_cast<HWND>(lParam), colour);
    ::SetTextColor(dc, colour);
    if (message == WM_CTLCOLORSTATIC) {
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
}

// The entries of a drop-down list in the list's text colour; the selected one in the
// system's highlight colours.
void DrawListEntry(const DRAWITEMSTRUCT& item) {
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    COLORREF colour = RGB(0, 0, 0);
    TextColourOf(item.hwndItem, colour);
    ::FillRect(item.hDC, &item.rcItem,
               ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    ::SetBkMode(item.hDC, TRANSPARENT);
    ::SetTextColor(item.hDC, selected ? ::GetSysColor(COLOR_HIGHLIGHTTEXT) : colour);
    if (item.itemID != static_cast<UINT>(-1)) {
        const auto length = ::SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
        std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        ::SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID,
                       reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
        RECT r = item.rcItem;
        r.left += ListEntryIndent;
        // A name too long for the closed box ends in "...": its tool tip shows it whole.
        ::DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
                    DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
        ::DrawFocusRect(item.hDC, &item.rcItem);
    }
}

// An entry is as high as a line of the panel's font (the list's own) and a margin.
void MeasureListEntry(HWND panel, MEASUREITEMSTRUCT& item) {
    const auto font = reinterpret_cast<HFONT>(::GetWindowLongPtrW(panel, GWLP_USERDATA));
    WindowDC dc(panel);
    Selected selected(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    item.itemHeight = static_cast<UINT>(metrics.tmHeight + 2);
}

// Clicks on the panel (its caption bar included) do nothing; commands and notices of
// its children go on to the window that holds the panel.
LRESULT CALLBACK GroupPanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC dc = ::BeginPaint(panel, &ps);
            PaintGroupPanel(panel, dc);
            ::EndPaint(panel, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_SETFONT:
            ::SetWindowLongPtrW(panel, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
            if (LOWORD(lParam)) ::InvalidateRect(panel, nullptr, TRUE);
            return 0;
        case WM_GETFONT:
            return ::GetWindowLongPtrW(panel, GWLP_USERDATA);
        case WM_SETTEXT: {
            const LRESULT result = ::DefWindowProcW(panel, message, wParam, lParam);
            ::InvalidateRect(panel, nullptr, TRUE);
            return result;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORLISTBOX:
            return ColourChild(message, wParam, lParam);
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item.CtlType != ODT_COMBOBOX) break;
            DrawListEntry(item);
            return TRUE;
        }
        case WM_MEASUREITEM: {
            auto& item = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (item.CtlType != ODT_COMBOBOX) break;
            MeasureListEntry(panel, item);
            return TRUE;
        }
        case WM_COMMAND:
        case WM_NOTIFY:
            return ::SendMessageW(::GetParent(panel), message, wParam, lParam);
        case WM_DESTROY:
            // The children still exist here: their colour properties go before they do.
            ::EnumChildWindows(
                panel,
                [](HWND child, LPARAM) {
                    ::RemovePropW(child, TextColourProp);
                    return TRUE;
                },
                0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(panel, message, wParam, lParam);
}

void PaintLed(HWND led, HDC dc) {
    RECT client;
    ::GetClientRect(led, &client);
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    const bool on = ::GetWindowLongPtrW(led, GWLP_USERDATA) != 0;
    BrushHandle fill(::CreateSolidBrush(on ? RGB(0, 224, 0) : RGB(224, 0, 0)));
    Selected brush(dc, fill.get());
    Selected pen(dc, ::GetStockObject(BLACK_PEN));
    ::Ellipse(dc, client.left + 1, client.top + 1, client.right - 1, client.bottom - 1);
}

LRESULT CALLBACK LedProc(HWND led, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC dc = ::BeginPaint(led, &ps);
            PaintLed(led, dc);
            ::EndPaint(led, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case LedSetState:
            ::SetWindowLongPtrW(led, GWLP_USERDATA, wParam ? 1 : 0);
            ::InvalidateRect(led, nullptr, FALSE);
            return 0;
        case LedGetState:
            return ::GetWindowLongPtrW(led, GWLP_USERDATA);
        default:
            return ::DefWindowProcW(led, message, wParam, lParam);
    }
}

void Register(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    ::RegisterClassExW(&wc);
}

}  // namespace

void RegisterControlClasses() {
    static const bool registered = [] {
        Register(GroupPanelClass, GroupPanelProc);
        Register(LedClass, LedProc);
        return true;
    }();
    (void)registered;
}

void RegisterWindowClass(const wchar_t* name, WNDPROC proc, bool withIcon) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (::GetClassInfoExW(instance, name, &wc)) return;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (withIcon) wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.lpszClassName = name;
    ::RegisterClassExW(&wc);
}

void SetTextColour(HWND control, COLORREF colour) {
    ::SetPropW(control, TextColourProp, reinterpret_cast<HANDLE>(ColourPresent | colour));
}

HWND CreateChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y,
                 int width, int height, HWND parent, int id, HFONT font, DWORD exStyle) {
    const HWND child = ::CreateWindowExW(
        exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    if (child && font) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

}  // namespace kordel::win32

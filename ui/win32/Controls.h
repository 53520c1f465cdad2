// The controls drawn by this program: the group panel (a framed body under a caption
// bar) and the LED (a red or green disc); and the text colours of standard labels.
#pragma once

#include <windows.h>

namespace kordel::win32 {

// Registers the window classes TJvgGroupBox and TLed (once per process).
void RegisterControlClasses();

// Registers a top-level window class on the button-face background, with the program's
// icon when `withIcon`. A class registered before stays as it is.
void RegisterWindowClass(const wchar_t* name, WNDPROC proc, bool withIcon);

// The light orange of the group panels' caption bars.
inline constexpr COLORREF CaptionBarColour = RGB(255, 207, 159);
inline constexpr COLORREF Maroon = RGB(128, 0, 0);
// The height of a group panel's caption bar, frame line included.
inline constexpr int CaptionBarHeight = 17;

// LED: sets the disc's colour (wParam: nonzero green, zero red); LedGetState answers
// 1 for green, 0 for red.
inline constexpr UINT LedSetState = WM_USER + 1;
inline constexpr UINT LedGetState = WM_USER + 2;

// Where a drop-down list's entry text starts, from the entry's left edge.
inline constexpr int ListEntryIndent = 2;

// The text colour a label or list box child of a group panel is drawn in (black
// unless set).
void SetTextColour(HWND control, COLORREF colour);

// A child window with a font.
HWND CreateChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y,
                 int width, int height, HWND parent, int id, HFONT font, DWORD exStyle = 0);

}  // namespace kordel::win32

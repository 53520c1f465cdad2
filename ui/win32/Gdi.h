// Owned GDI objects and the fonts of the windows, created at their pixel heights.
#pragma once

#include <windows.h>

#include <string>

#include "UniqueHandleWin32.h"

namespace kordel::win32 {

using FontHandle = UniqueHandle<THandleDeleter<HFONT, &::DeleteObject>>;
using BrushHandle = UniqueHandle<THandleDeleter<HBRUSH, &::DeleteObject>>;
using IconHandle = UniqueHandle<THandleDeleter<HICON, &::DestroyIcon>>;

// The font `face` whose characters are `pixels` high (a negative height asks for the
// character height, not the cell height), as the designs give them.
FontHandle PixelFont(const wchar_t* face, int pixels, bool bold = false);

// A device context of a window, released with this object.
class WindowDC {
  public:
    explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~WindowDC() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    operator HDC() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// Selects a GDI object into a device context for the life of this object.
class Selected {
  public:
    Selected(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(object ? ::SelectObject(dc, object) : nullptr) {}
    ~Selected() {
        if (previous_) ::SelectObject(dc_, previous_);
    }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The size that `text` takes in `font`, with "&" marking an accelerator as a label
// shows it; line breaks start new lines, long lines are not wrapped.
SIZE TextExtent(HWND window, HFONT font, const std::wstring& text);

}  // namespace kordel::win32

#include "Gdi.h"

#include <string>

namespace kordel::win32 {

FontHandle PixelFont(const wchar_t* face, int pixels, bool bold) {
    return FontHandle(::CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face));
}

SIZE TextExtent(HWND window, HFONT font, const std::wstring& text) {
    WindowDC dc(window);
    Selected selected(dc, font);
    RECT r{0, 0, 0, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_CALCRECT | DT_LEFT | DT_EXPANDTABS | DT_NOCLIP);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace kordel::win32

// The debug log window: one read-only text box and the log operations of TDebugLog.
#pragma once

#include <windows.h>

#include "DebugLog.h"
#include "Gdi.h"

namespace kordel::win32 {

class TDebug : public TDebugLog {
  public:
    TDebug();
    ~TDebug();
    TDebug(const TDebug&) = delete;
    TDebug& operator=(const TDebug&) = delete;

    HWND Handle() const { return window_.get(); }
    HWND Memo = nullptr;

    void Show();
    void MemoDblClick(HWND Sender);

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK MemoProc(HWND memo, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    void AppendLine(const std::string& line);

    TWindowHandle window_;
    FontHandle font_;
    FontHandle memoFont_;
};

}  // namespace kordel::win32

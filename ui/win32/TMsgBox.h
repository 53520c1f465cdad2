// The tool's own modal message dialog: an icon by message type, a caption, the text
// and a centred row of German buttons, returning the pressed button's result code.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "Gdi.h"
#include "MsgBoxLayout.h"

namespace kordel::win32 {

class TMsgBox {
  public:
    TMsgBox();
    ~TMsgBox();
    TMsgBox(const TMsgBox&) = delete;
    TMsgBox& operator=(const TMsgBox&) = delete;

    // Texts are UTF-8. Returns at once with 2 while the program is ending.
    int Execute(const std::string& MsgText, TMsgDlgType DlgType, const std::string& CaptionTitle,
                TMsgBut Buttons, bool MsgBeep);

    // The window the dialog is centred over and owned by (the main window).
    void SetCentreOver(HWND window);

    HWND Handle() const { return window_.get(); }

    std::array<IconHandle, 4> IconImg;
    HWND Img = nullptr;
    HWND InfoLabel = nullptr;
    std::vector<HWND> But;
    int ButCnt = 0;

    // Runs when the dialog has been shown and before the modal loop: focuses But1.
    void FormShow();

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void DrawPicture(const DRAWITEMSTRUCT& item);
    void AddButtons(const TMsgBoxLayout& layout);
    void PlaceOverOwner(int outerWidth, int outerHeight);
    int ShowModal();
    void FreeButtons();
    void OnActivate(bool active);

    TWindowHandle window_;
    FontHandle font_;
    FontHandle labelFont_;
    HWND centreOver_ = nullptr;
    int iconIndex_ = -1;
    std::vector<int> results_;
    int modalResult_ = mrNone;
    HWND focus_ = nullptr;  // the control that gets the focus back on activation
};

}  // namespace kordel::win32

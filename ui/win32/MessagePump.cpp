#include "MessagePump.h"

#include <algorithm>
#include <vector>

namespace kordel::win32 {

namespace {

std::vector<HWND> dialogWindows;
bool ending = false;

bool IsPushButton(HWND window) {
    const LRESULT code = ::SendMessageW(window, WM_GETDLGCODE, 0, 0);
    return (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

// Enter presses the focused push button: no window here has a default button, and
// the dialog manager would send IDOK to the window instead. Elsewhere (the port list)
// Enter goes its usual way.
bool PressFocusedButton(const MSG& message, HWND root) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
    const HWND focus = ::GetFocus();
    if (!focus || ::GetAncestor(focus, GA_ROOT) != root || !IsPushButton(focus)) return false;
    if (::IsWindowEnabled(focus)) ::SendMessageW(focus, BM_CLICK, 0, 0);
    return true;
}

}  // namespace

void AddDialogWindow(HWND window) {
    if (window) dialogWindows.push_back(window);
}

void RemoveDialogWindow(HWND window) {
    dialogWindows.erase(std::remove(dialogWindows.begin(), dialogWindows.end(), window),
                        dialogWindows.end());
}

void DispatchWithDialogKeys(MSG& message) {
    const HWND root = message.hwnd ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    const bool dialog =
        root && std::find(dialogWindows.begin(), dialogWindows.end(), root) != dialogWindows.end();
    if (dialog) {
        if (PressFocusedButton(message, root)) return;
        if (::IsDialogMessageW(root, &message)) return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void ProcessPendingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            MarkEnding();
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchWithDialogKeys(message);
    }
}

int RunMessageLoop() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) DispatchWithDialogKeys(message);
    MarkEnding();
    return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 1;
}

void MarkEnding() {
    ending = true;
}

bool Ending() {
    return ending;
}

}  // namespace kordel::win32

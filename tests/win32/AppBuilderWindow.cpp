// Stands in for the development environment's main window: a top-level window of the
// class TAPPBUILDER, shown until the program is ended or the window is closed. Prints
// "ready" once the window exists, so a test knows when kordel-update.exe can find it.
#include <windows.h>

#include <cstdio>

namespace {

LRESULT CALLBACK AppBuilderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterAppBuilderClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AppBuilderProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"TAPPBUILDER";
    return RegisterClassW(&windowClass) != 0;
}

}  // namespace

int main() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterAppBuilderClass(instance)) {
        std::fprintf(stderr, "appbuilder-window: RegisterClassW failed (%lu)\n", GetLastError());
        return 1;
    }
    // Small and out of the way, in the screen's bottom-right corner.
    HWND window = CreateWindowExW(0, L"TAPPBUILDER", L"AppBuilder", WS_OVERLAPPEDWINDOW,
                                  GetSystemMetrics(SM_CXSCREEN) - 160, GetSystemMetrics(SM_CYSCREEN) - 120,
                                  150, 100, nullptr, nullptr, instance, nullptr);
    if (!window) {
        std::fprintf(stderr, "appbuilder-window: CreateWindowExW failed (%lu)\n", GetLastError());
        return 1;
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    std::puts("ready");
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

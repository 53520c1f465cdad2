// Reports the windows of another program running in the same wine prefix (or on the
// same Windows desktop), for the end-to-end window tests. Wine's child controls are no
// X windows, so only a Win32 program can see them.
//
//   window-probe CLASS...   every top-level window of each class, hidden ones too
//
// One record per line, fields as name=value, the text always last (the rest of the
// line, with backslash, CR and LF written as \\, \r and \n):
//   screen virtual=X,Y,W,H dpi=N border=CX,CY
//   window class=C visible=0|1 enabled=0|1 rect=L,T,R,B client=W,H origin=X,Y
//          placement=SHOW,FLAGS,MINX,MINY,MAXX,MAXY,L,T,R,B focus=ID title=TEXT
//   child id=N parent=ID class=C visible=0|1 enabled=0|1 focus=0|1 rect=L,T,R,B
//          pos=X,Y,W,H [value=POS/MAX] text=TEXT
// rect is on the screen, and so is origin, the client area's top-left corner; pos is in the parent's client area. value is a progress bar's
// position and upper limit. A control that does not answer within a second (its
// program is busy) shows the text <no answer>. Exit status 1 when no window was found.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// The screen's device context, released with the object.
class ScreenDc {
  public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

  private:
    HDC dc_;
};

// The argument vector of CommandLineToArgvW, freed with the object.
class Arguments {
  public:
    Arguments() : argv_(CommandLineToArgvW(GetCommandLineW(), &argc_)) {}
    ~Arguments() {
        if (argv_) LocalFree(argv_);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    int count() const { return argv_ ? argc_ : 0; }
    const wchar_t* operator[](int i) const { return argv_[i]; }

  private:
    int argc_ = 0;
    wchar_t** argv_;
};

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string Escaped(const std::wstring& text) {
    std::string out;
    for (char c : Utf8(text)) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// Written unconverted: the C runtime's text mode would put a CR before each LF.
void WriteLine(const std::string& line) {
    const std::string withEnd = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), withEnd.data(), static_cast<DWORD>(withEnd.size()),
              &written, nullptr);
}

std::string Pair(long a, long b) { return std::to_string(a) + "," + std::to_string(b); }
std::string Rect(const RECT& r) { return Pair(r.left, r.top) + "," + Pair(r.right, r.bottom); }
std::string Flag(bool on) { return on ? "1" : "0"; }

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// The text a control shows, asked from its own thread (a status bar or a combo box keeps
// its text to itself); the wait is bounded, since that thread may be busy.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length))
        return L"<no answer>";
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, 1000, &copied))
        return L"<no answer>";
    return std::wstring(buffer.data(), copied);
}

std::string ProgressValue(HWND bar) {
    DWORD_PTR position = 0, limit = 0;
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position) ||
        !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &limit))
        return " value=?";
    return " value=" + std::to_string(static_cast<int>(position)) + "/" + std::to_string(static_cast<int>(limit));
}

HWND FocusOf(HWND topLevel) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(topLevel, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void ReportScreen() {
    ScreenDc screen;
    WriteLine("screen virtual=" +
              Pair(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)) + "," +
              Pair(GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)) +
              " dpi=" + std::to_string(GetDeviceCaps(screen.get(), LOGPIXELSY)) +
              " border=" + Pair(GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER)));
}

struct ChildWalk {
    HWND focus;
};

void ReportChild(HWND child, HWND focus) {
    HWND parent = GetParent(child);
    RECT onScreen{};
    GetWindowRect(child, &onScreen);
    POINT topLeft{onScreen.left, onScreen.top};
    ScreenToClient(parent, &topLeft);
    const std::wstring className = ClassOf(child);
    std::string line = "child id=" + std::to_string(GetDlgCtrlID(child)) +
                       " parent=" + std::to_string(GetDlgCtrlID(parent)) +
                       " class=" + Utf8(className) + " visible=" + Flag(IsWindowVisible(child)) +
                       " enabled=" + Flag(IsWindowEnabled(child)) + " focus=" + Flag(child == focus) +
                       " rect=" + Rect(onScreen) + " pos=" + Pair(topLeft.x, topLeft.y) + "," +
                       Pair(onScreen.right - onScreen.left, onScreen.bottom - onScreen.top);
    if (className == PROGRESS_CLASSW) line += ProgressValue(child);
    WriteLine(line + " text=" + Escaped(TextOf(child)));
}

// EnumChildWindows walks the whole tree, grandchildren included.
BOOL CALLBACK ReportChildCallback(HWND child, LPARAM walk) {
    ReportChild(child, reinterpret_cast<ChildWalk*>(walk)->focus);
    return TRUE;
}

void ReportWindow(HWND window) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    HWND focus = FocusOf(window);
    // The title bar's text as the window system keeps it: no message to a busy program.
    wchar_t title[512] = {};
    InternalGetWindowText(window, title, 512);
    WriteLine("window class=" + Utf8(ClassOf(window)) + " visible=" + Flag(IsWindowVisible(window)) +
              " enabled=" + Flag(IsWindowEnabled(window)) + " rect=" + Rect(outer) +
              " client=" + Pair(client.right, client.bottom) + " origin=" + Pair(origin.x, origin.y) +
              " placement=" + Pair(static_cast<long>(placement.showCmd), static_cast<long>(placement.flags)) +
              "," + Pair(placement.ptMinPosition.x, placement.ptMinPosition.y) + "," +
              Pair(placement.ptMaxPosition.x, placement.ptMaxPosition.y) + "," +
              Rect(placement.rcNormalPosition) +
              " focus=" + std::to_string(focus ? GetDlgCtrlID(focus) : 0) + " title=" + Escaped(title));
    ChildWalk walk{focus};
    EnumChildWindows(window, ReportChildCallback, reinterpret_cast<LPARAM>(&walk));
}

struct ClassSearch {
    std::wstring className;
    int found = 0;
};

BOOL CALLBACK ReportIfOfClass(HWND window, LPARAM search) {
    auto* wanted = reinterpret_cast<ClassSearch*>(search);
    if (ClassOf(window) == wanted->className) {
        ReportWindow(window);
        ++wanted->found;
    }
    return TRUE;
}

}  // namespace

int main() {
    Arguments args;
    ReportScreen();
    int found = 0;
    for (int i = 1; i < args.count(); ++i) {
        ClassSearch search{args[i]};
        EnumWindows(ReportIfOfClass, reinterpret_cast<LPARAM>(&search));
        found += search.found;
    }
    return found > 0 ? 0 : 1;
}

// Reports the windows of another program running in the same wine prefix (or on the
// same Windows desktop), for the end-to-end window tests. Wine's child controls are no
// X windows, so only a Win32 program can see them.
//
//   window-probe CLASS...   every top-level window of each class, hidden ones too
//   window-probe --serve    the same for each line of CLASS... on standard input,
//                           each answer ending with a line "end"
//
// One record per line, fields as name=value, the text always last (the rest of the
// line, with backslash, CR and LF written as \\, \r and \n):
//   screen virtual=X,Y,W,H dpi=N border=CX,CY
//   window class=C visible=0|1 enabled=0|1 style=HEX exstyle=HEX rect=L,T,R,B
//          client=W,H origin=X,Y placement=SHOW,FLAGS,MINX,MINY,MAXX,MAXY,L,T,R,B
//          focus=ID title=TEXT
//   child id=N parent=ID class=C visible=0|1 enabled=0|1 focus=0|1 rect=L,T,R,B
//          pos=X,Y,W,H [value=POS/MAX] text=TEXT
// rect is on the screen, and so is origin, the client area's top-left corner; pos is in
// the parent's client area; placement is GetWindowPlacement's record; value is a
// progress bar's position and upper limit. A control that does not answer within two
// seconds (its program is busy) shows the text <no answer>. Exit status 1 when no
// window was found.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <future>
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

std::string Hex(LONG value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(static_cast<DWORD>(value)));
    return text;
}

// A window's handle as wine's logs write it: 0x20034.
std::string HandleText(HWND window) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// Controls that keep their text to themselves answer only a message, which their
// thread handles when it next looks at its queue (once per block during an update).
// The others' text is the window system's, read without disturbing the program.
bool SameClass(const std::wstring& className, const wchar_t* other) {
    return lstrcmpiW(className.c_str(), other) == 0;
}

bool KeepsItsText(const std::wstring& className) {
    return SameClass(className, STATUSCLASSNAMEW) || SameClass(className, WC_COMBOBOXW) ||
           SameClass(className, WC_EDITW);
}

std::wstring AskedText(HWND window) {
    std::vector<wchar_t> buffer(4096, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return L"<no answer>";
    return std::wstring(buffer.data(), copied);
}

std::wstring StoredText(HWND window) {
    wchar_t text[1024] = {};
    InternalGetWindowText(window, text, 1024);
    return text;
}

std::string ProgressValue(HWND bar) {
    DWORD_PTR position = 0, limit = 0;
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position) ||
        !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &limit))
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

// Everything of a control but what needs a message.
std::string DescribeChild(HWND child, HWND focus) {
    HWND parent = GetParent(child);
    RECT onScreen{};
    GetWindowRect(child, &onScreen);
    POINT topLeft{onScreen.left, onScreen.top};
    ScreenToClient(parent, &topLeft);
    return "child id=" + std::to_string(GetDlgCtrlID(child)) +
           " parent=" + std::to_string(GetDlgCtrlID(parent)) + " class=" + Utf8(ClassOf(child)) +
           " visible=" + Flag(IsWindowVisible(child)) + " enabled=" + Flag(IsWindowEnabled(child)) +
           " focus=" + Flag(child == focus) + " rect=" + Rect(onScreen) + " pos=" +
           Pair(topLeft.x, topLeft.y) + "," +
           Pair(onScreen.right - onScreen.left, onScreen.bottom - onScreen.top);
}

// The part that may need messages: the value of a progress bar, then the text.
std::string AskChild(HWND child) {
    const std::wstring className = ClassOf(child);
    std::string tail = SameClass(className, PROGRESS_CLASSW) ? ProgressValue(child) : "";
    return tail + " text=" + Escaped(KeepsItsText(className) ? AskedText(child) : StoredText(child));
}

BOOL CALLBACK CollectChild(HWND child, LPARAM children) {
    reinterpret_cast<std::vector<HWND>*>(children)->push_back(child);
    return TRUE;
}

// The messages go out all at once, one thread each, so that a program that looks at
// its queue only now and then answers them all in one go.
void ReportChildren(HWND window, HWND focus) {
    std::vector<HWND> children;  // EnumChildWindows walks the whole tree
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::vector<std::future<std::string>> answers;
    for (HWND child : children) answers.push_back(std::async(std::launch::async, AskChild, child));
    for (size_t i = 0; i < children.size(); ++i) WriteLine(DescribeChild(children[i], focus) + answers[i].get());
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
    WriteLine("window class=" + Utf8(ClassOf(window)) + " handle=" + HandleText(window) +
              " visible=" + Flag(IsWindowVisible(window)) +
              " enabled=" + Flag(IsWindowEnabled(window)) + " style=" + Hex(GetWindowLongW(window, GWL_STYLE)) +
              " exstyle=" + Hex(GetWindowLongW(window, GWL_EXSTYLE)) + " rect=" + Rect(outer) +
              " client=" + Pair(client.right, client.bottom) + " origin=" + Pair(origin.x, origin.y) +
              " placement=" + Pair(static_cast<long>(placement.showCmd), static_cast<long>(placement.flags)) +
              "," + Pair(placement.ptMinPosition.x, placement.ptMinPosition.y) + "," +
              Pair(placement.ptMaxPosition.x, placement.ptMaxPosition.y) + "," +
              Rect(placement.rcNormalPosition) +
              " focus=" + std::to_string(focus ? GetDlgCtrlID(focus) : 0) + " title=" + Escaped(title));
    ReportChildren(window, focus);
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

int ReportClasses(const std::vector<std::wstring>& classNames) {
    ReportScreen();
    int found = 0;
    for (const std::wstring& className : classNames) {
        ClassSearch search{className};
        EnumWindows(ReportIfOfClass, reinterpret_cast<LPARAM>(&search));
        found += search.found;
    }
    return found;
}

std::vector<std::wstring> Words(const std::string& line) {
    std::vector<std::wstring> words;
    std::wstring word;
    for (char c : line + ' ') {
        if (c == ' ' || c == '\r') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
    }
    return words;
}

// One request per line of standard input, each answered by its records and a line
// "end": a test that polls a window often saves wine's start of a process each time.
int Serve() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        ReportClasses(Words(line));
        WriteLine("end");
        line.clear();
    }
    return 0;
}

}  // namespace

int main() {
    Arguments args;
    if (args.count() == 2 && std::wstring(args[1]) == L"--serve") return Serve();
    std::vector<std::wstring> classNames;
    for (int i = 1; i < args.count(); ++i) classNames.push_back(args[i]);
    return ReportClasses(classNames) > 0 ? 0 : 1;
}

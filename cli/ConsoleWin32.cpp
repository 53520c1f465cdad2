// The Windows console: Ctrl-C, Ctrl-Break and closing through a console control handler,
// and progress bars only where the console understands virtual-terminal sequences.
#include <windows.h>

#include <atomic>

#include <csignal>

#include "CancelToken.h"
#include "Console.h"

namespace kordel::cli {

namespace {

// How long a closing console window waits for the update to close its port; Windows
// ends the process when the handler returns.
constexpr DWORD CloseGraceMs = 3000;

// The token the control handler cancels; set and cleared by CancelHandlers.
std::atomic<TCancelToken*> cancelTarget{nullptr};

void CancelAll(int signal) {
    if (TCancelToken* token = cancelTarget.load()) token->Cancel(signal);
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            CancelAll(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            CancelAll(SIGTERM);
            ::Sleep(CloseGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

// Puts the console's output code page and mode back when the program ends.
class ConsoleRestorer {
  public:
    void Remember(HANDLE out, DWORD mode) {
        if (active_) return;
        out_ = out;
        mode_ = mode;
        codePage_ = ::GetConsoleOutputCP();
        active_ = true;
    }
    ~ConsoleRestorer() {
        if (!active_) return;
        ::SetConsoleMode(out_, mode_);
        ::SetConsoleOutputCP(codePage_);
    }

  private:
    bool active_ = false;
    HANDLE out_ = nullptr;
    DWORD mode_ = 0;
    UINT codePage_ = 0;
};

ConsoleRestorer restorer;

}  // namespace

CancelHandlers::CancelHandlers(TCancelToken& all) {
    cancelTarget.store(&all);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CancelHandlers::~CancelHandlers() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    cancelTarget.store(nullptr);
}

int CancelExitCode(int signal) {
    return 128 + signal;
}

// A console that takes virtual-terminal sequences gets UTF-8 output and progress bars;
// an older console, a file or a pipe gets plain lines.
bool StdoutIsTerminal() {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return false;
    restorer.Remember(out, mode);
    ::SetConsoleOutputCP(CP_UTF8);
    return ::SetConsoleMode(out, mode | ENABLE_PROCESSED_OUTPUT |
                                     ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

int TerminalRows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

// A console tells of a new size only through its input queue, which this program never
// reads; the width is measured anew on each redraw instead.
void WatchTerminalSize() {}

bool TerminalSizeChanged() {
    static std::atomic<int> lastColumns{-1};
    const int columns = TerminalColumns();
    const int before = lastColumns.exchange(columns);
    return before != -1 && before != columns;
}

const char* const ExamplePortName = "COM3";

}  // namespace kordel::cli

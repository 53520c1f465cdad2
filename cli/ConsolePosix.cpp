#include <signal.h>

#include <atomic>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Cancel.h"
#include "Console.h"

namespace kordel::cli {

namespace {
extern "C" void OnCancelSignal(int signal) {
    RequestCancel(signal);
}

std::atomic<bool> sizeChanged{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
extern "C" void OnWindowChange(int) {
    sizeChanged.store(true);
}
}  // namespace

void InstallCancelHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnCancelSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int CancelExitCode(int signal) {
    return 128 + signal;
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0) return 0;
    return ws.ws_col;
}

int TerminalRows() {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0) return 0;
    return ws.ws_row;
}

void WatchTerminalSize() {
    struct sigaction sa {};
    sa.sa_handler = OnWindowChange;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
}

bool TerminalSizeChanged() {
    return sizeChanged.exchange(false);
}

const char* const ExamplePortName = "/dev/ttyUSB0";

}  // namespace kordel::cli

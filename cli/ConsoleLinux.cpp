#include <signal.h>

#include <atomic>
#include <sys/ioctl.h>
#include <unistd.h>

#include "CancelToken.h"
#include "Console.h"

namespace kordel::cli {

namespace {

constexpr int CancelSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The token the signal handlers cancel; set and cleared by CancelHandlers.
std::atomic<TCancelToken*> cancelTarget{nullptr};
static_assert(std::atomic<TCancelToken*>::is_always_lock_free, "read in a signal handler");

extern "C" void OnCancelSignal(int signal) {
    if (TCancelToken* token = cancelTarget.load()) token->Cancel(signal);
}

void HandleCancelSignals(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int signal : CancelSignals) sigaction(signal, &sa, nullptr);
}

std::atomic<bool> sizeChanged{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
extern "C" void OnWindowChange(int) {
    sizeChanged.store(true);
}
}  // namespace

CancelHandlers::CancelHandlers(TCancelToken& all) {
    cancelTarget.store(&all);
    HandleCancelSignals(OnCancelSignal);
}

CancelHandlers::~CancelHandlers() {
    HandleCancelSignals(SIG_DFL);
    cancelTarget.store(nullptr);
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

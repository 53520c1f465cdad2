#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Cancel.h"
#include "Console.h"

namespace kordel::cli {

namespace {
extern "C" void OnCancelSignal(int signal) {
    RequestCancel(signal);
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

const char* const ExamplePortName = "/dev/ttyUSB0";

}  // namespace kordel::cli

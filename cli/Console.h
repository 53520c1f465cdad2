// The console kordel-flash runs in: how Ctrl-C, termination and hang-up reach the
// updates' cancel token, and what kind of output the program writes to. One file per OS.
#pragma once

namespace kordel {
class TCancelToken;
}

namespace kordel::cli {

// For as long as it lives, Ctrl-C (SIGINT), termination (SIGTERM) and hang-up (SIGHUP,
// the terminal closed) cancel `all` with the signal's number, which ends any running
// read, write or pause of every port at once. On Windows the console's Ctrl-C and
// Ctrl-Break count as SIGINT, closing the console, logging off and shutting down as
// SIGTERM. Afterwards these signals end the program as they normally do. Only one may
// live at a time.
class CancelHandlers {
  public:
    explicit CancelHandlers(TCancelToken& all);
    ~CancelHandlers();
    CancelHandlers(const CancelHandlers&) = delete;
    CancelHandlers& operator=(const CancelHandlers&) = delete;
};

// The exit status for a run ended by `signal`: 128 + the signal number (130 for
// Ctrl-C, 143 for SIGTERM, 129 for SIGHUP).
int CancelExitCode(int signal);

// True when standard output is an interactive terminal (progress bars), false for a
// file or pipe (plain lines).
bool StdoutIsTerminal();

// The terminal's width in columns, or 0 when it is unknown.
int TerminalColumns();

// The terminal's height in rows, or 0 when it is unknown.
int TerminalRows();

// Starts noticing changes of the terminal's size (SIGWINCH on POSIX).
void WatchTerminalSize();

// True once after each change of the terminal's size since the last call.
// Async-signal-safe on POSIX; may be called from any thread.
bool TerminalSizeChanged();

// A port name as users of this system write it, for examples in the help text: a
// device path on Linux, a COM name on Windows.
extern const char* const ExamplePortName;

}  // namespace kordel::cli

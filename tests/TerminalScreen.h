// What a terminal of a given width shows for a program's output: a small emulator of
// the sequences kordel-flash writes (text, CR, LF, erase to end of line, cursor to an
// earlier line) with the auto-wrap of a real terminal, and a runner that starts a
// program on a pseudo-terminal of a given size as its controlling terminal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kordel::testing {

class TerminalScreen {
  public:
    explicit TerminalScreen(int columns) : columns_(columns) { rows_.emplace_back(); }

    void Feed(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                i = Csi(bytes, i + 2);
            } else if (c == '\r') {
                column_ = 0, pendingWrap_ = false;
            } else if (c == '\n') {
                Down();
                pendingWrap_ = false;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                unknown_ += c;
            } else {
                Put(c);
            }
        }
    }

    // The screen's lines (scrolled-off ones included), trailing blanks removed.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& r : rows_) {
            std::string text = r.text;
            while (!text.empty() && text.back() == ' ') text.pop_back();
            lines.push_back(text);
        }
        while (!lines.empty() && lines.back().empty()) lines.pop_back();
        return lines;
    }
    // The rows whose line was too long for the terminal and went on in the next row.
    std::vector<std::string> WrappedLines() const {
        std::vector<std::string> lines;
        for (std::size_t i = 1; i < rows_.size(); ++i) {
            if (rows_[i].wrapped) lines.push_back(rows_[i - 1].text);
        }
        return lines;
    }
    // Control bytes and sequences this emulator does not know.
    const std::string& Unknown() const { return unknown_; }

  private:
    struct Row {
        std::string text;
        bool wrapped = false;
    };

    // Bytes of a UTF-8 character after the first take no column of their own.
    void Put(char c) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (continuation) {
            rows_[row_].text += c;
            return;
        }
        if (pendingWrap_) {
            Down();
            rows_[row_].wrapped = true;
            column_ = 0;
            pendingWrap_ = false;
        }
        auto& text = rows_[row_].text;
        if (text.size() < static_cast<std::size_t>(column_)) text.resize(column_, ' ');
        if (static_cast<std::size_t>(column_) < text.size()) {
            text[column_] = c;  // the tests' screens hold ASCII where lines are redrawn
        } else {
            text += c;
        }
        if (column_ == columns_ - 1) {
            pendingWrap_ = true;
        } else {
            ++column_;
        }
    }

    void Down() {
        ++row_;
        if (row_ == static_cast<int>(rows_.size())) rows_.emplace_back();
    }

    std::size_t Csi(const std::string& bytes, std::size_t i) {
        std::string parameter;
        while (i < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[i])) != 0)) {
            parameter += bytes[i++];
        }
        if (i >= bytes.size()) return i;
        const int n = parameter.empty() ? 1 : std::atoi(parameter.c_str());
        switch (bytes[i]) {
            case 'K':  // erase to the end of the line
                if (rows_[row_].text.size() > static_cast<std::size_t>(column_)) {
                    rows_[row_].text.resize(column_);
                }
                break;
            case 'F':  // to the start of the n-th line above
                row_ = std::max(0, row_ - n), column_ = 0;
                break;
            case 'A':
                row_ = std::max(0, row_ - n);
                break;
            default:
                unknown_ += "CSI" + parameter + bytes[i];
        }
        pendingWrap_ = false;
        return i;
    }

    int columns_;
    std::vector<Row> rows_;
    int row_ = 0;
    int column_ = 0;
    bool pendingWrap_ = false;
    std::string unknown_;
};

struct PtyRun {
    int exitCode = -1;
    std::string output;  // everything the program wrote to the terminal
};

// Runs `argv` with a new pseudo-terminal of `columns` x `rows` as its controlling
// terminal and standard output and error. `during(masterFd, elapsedMs)` is called
// while it runs, e.g. to resize the terminal.
inline PtyRun RunOnPty(const std::vector<std::string>& argv, int columns, int rows,
                       const std::function<void(int, long)>& during = {}) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    ::ptsname_r(master, name, sizeof name);
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(columns);
    ws.ws_row = static_cast<unsigned short>(rows);
    ::ioctl(master, TIOCSWINSZ, &ws);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::setsid();
        const int slave = ::open(name, O_RDWR);  // becomes the controlling terminal
        if (slave < 0) ::_exit(126);
        ::dup2(slave, 0), ::dup2(slave, 1), ::dup2(slave, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    PtyRun run;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 20);
        if (p.revents & POLLIN) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                run.output.append(buf, static_cast<std::size_t>(n));
                continue;
            }
        }
        if (p.revents & (POLLHUP | POLLERR)) break;  // every slave descriptor closed
        if (during) {
            during(master, std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// The output as a terminal shows it.
inline TerminalScreen Screen(const std::string& output, int columns) {
    TerminalScreen screen(columns);
    screen.Feed(output);
    return screen;
}

}  // namespace kordel::testing

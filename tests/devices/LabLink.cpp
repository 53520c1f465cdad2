// kordel-lab-link: the device lab's small programs around the link, run in the guest.
//
//   updates PORT N       N updates through one link object kept for the whole run, as the
//                        window keeps it: a failed update is followed by DisConnect, and
//                        the next one starts once PORT is back (after an unplug the node
//                        goes away and returns under the same name)
//   hangup-read PORT BAUD  opens PORT, reads until the device is unplugged, then reads
//                        and closes the dead port, reporting each step's time and error
//   free PORT            whether another process holds PORT ("free" or "held")
//   now                  the monotonic clock in microseconds, the clock of every time here
//   timed CMD [ARG...]   runs CMD and prints when it ended and how
//   stamp                copies standard input line by line, each line after the time
//                        it arrived ("<us> LINE"), until the input ends
//   nodes DIR            prints "<us> + NAME" and "<us> - NAME" as entries of DIR are
//                        made and removed, until killed
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "ComIo.h"
#include "Update.h"

namespace {

using namespace kordel;
using Clock = std::chrono::steady_clock;

long long NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Waits until the node is gone (it goes once the old descriptor is closed) and back.
bool WaitForReplug(const std::string& port, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool gone = !Exists(port);
    while (Clock::now() < deadline) {
        const bool there = Exists(port);
        if (!there) gone = true;
        if (gone && there) {
            // cdc_acm makes the node before its probe has set the device's line coding;
            // an open before that may have its line speed overwritten.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

int Updates(const std::string& port, int count) {
    TFirmwareImage image;
    image.LoadBiosInfo();
    TComIo io;
    io.PortNameSource = [&port] { return port; };
    TBootInfo bootInfo;
    int failures = 0;
    for (int run = 1; run <= count; ++run) {
        if (run > 1 && !WaitForReplug(port, 60000)) {
            std::cout << "run " << run << " " << port << " did not come back" << std::endl;
            return 1;
        }
        const auto start = Clock::now();
        std::string result = "ok";
        try {
            RunUpdate(io, {image.rs, image.BufBiosInfo, nullptr, {}}, bootInfo);
        } catch (const std::exception& e) {
            result = std::string("failed: ") + e.what();
            ++failures;
        }
        const long long end = NowUs();
        std::string closing;
        try {
            io.DisConnect();
        } catch (const std::exception& e) {
            closing = std::string(" (closing: ") + e.what() + ")";
        }
        std::printf("run %d end %lld after %.0f ms open %d %s%s\n", run, end, MsSince(start),
                    io.cPort->Connected() ? 1 : 0, result.c_str(), closing.c_str());
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}

// One read of one byte with the module's first-byte rule, as ReadByte does.
std::string ReadOnce(TComPort& port, std::uint32_t timeoutMs) {
    port.Timeouts.SetReadTotalMultiplier(MAXDWORD);
    port.Timeouts.SetReadTotalConstant(timeoutMs);
    std::string s;
    try {
        return port.ReadStr(s, 1) == 0 ? "timeout" : "byte";
    } catch (const EComPort& e) {
        return std::string("error ") + std::to_string(e.WinCode()) + " " + e.what();
    }
}

int HangupRead(const std::string& name, std::uint32_t baud) {
    auto port = TComPort::Create();
    port->Port = name;
    port->SetBaudRate(TBaudRate::brCustom);
    port->SetCustomBaudRate(baud);
    try {
        port->Open();
    } catch (const EComPort& e) {
        std::cout << "open failed: " << e.what() << std::endl;
        return 1;
    }
    std::cout << "open" << std::endl;
    // Reads of 1 s each until one fails: the unplug comes while one of them waits.
    const double cpuBefore = CpuMs();
    std::string result;
    Clock::time_point failedReadStart;
    for (int i = 0; i < 120; ++i) {
        failedReadStart = Clock::now();
        result = ReadOnce(*port, 1000);
        if (result.rfind("error", 0) == 0) break;
    }
    const long long failedAt = NowUs();
    std::printf("read %s\nfailed %lld within %.0f ms of its 1000 ms, cpu %.0f ms while waiting\n",
                result.c_str(), failedAt, MsSince(failedReadStart), CpuMs() - cpuBefore);
    const auto again = Clock::now();
    const std::string second = ReadOnce(*port, 1000);
    std::printf("again %s after %.1f ms\n", second.c_str(), MsSince(again));
    const auto closing = Clock::now();
    std::string closed = "closed";
    try {
        port->Close();
    } catch (const EComPort& e) {
        closed = std::string("close reported ") + e.what();
    }
    std::printf("%s after %.1f ms, open %d\n", closed.c_str(), MsSince(closing),
                port->Connected() ? 1 : 0);
    return 0;
}

int Free(const std::string& port) {
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::cout << (errno == EBUSY ? "held" : std::string("cannot open: ") + std::strerror(errno))
                  << std::endl;
        return 1;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    std::cout << (locked ? "free" : "held") << std::endl;
    return locked ? 0 : 1;
}

int Timed(char** argv) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[0], argv);
        std::perror(argv[0]);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const long long end = NowUs();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::fprintf(stderr, "timed end %lld status %d\n", end, code);
    return code;
}

int Stamp() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::cout << NowUs() << ' ' << line << std::endl;
    }
    return 0;
}

int Nodes(const std::string& dir) {
    const int fd = ::inotify_init1(IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, dir.c_str(), IN_CREATE | IN_DELETE) < 0) {
        std::perror(dir.c_str());
        return 1;
    }
    std::cout << NowUs() << " watching " << dir << std::endl;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        const long long at = NowUs();
        if (n <= 0) return 1;
        for (ssize_t i = 0; i < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + i);
            if (e->len > 0) {
                std::cout << at << ((e->mask & IN_CREATE) ? " + " : " - ") << e->name << '\n';
            }
            i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
        std::cout.flush();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "updates" && argc == 4) return Updates(argv[2], std::atoi(argv[3]));
    if (mode == "hangup-read" && argc == 4) {
        return HangupRead(argv[2], static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    }
    if (mode == "free" && argc == 3) return Free(argv[2]);
    if (mode == "now" && argc == 2) {
        std::cout << NowUs() << std::endl;
        return 0;
    }
    if (mode == "timed" && argc > 2) return Timed(argv + 2);
    if (mode == "stamp" && argc == 2) return Stamp();
    if (mode == "nodes" && argc == 3) return Nodes(argv[2]);
    std::cerr << "usage: kordel-lab-link updates PORT N | hangup-read PORT BAUD | free PORT | now"
                 " | timed CMD [ARG...] | stamp | nodes DIR\n";
    return 2;
}

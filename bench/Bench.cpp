// Measures the updater against simulated modules with no injected delay: the wall time
// of a full update against the protocol's fixed pauses, the CPU the updater spends,
// and eight modules in parallel against one. The simulators run as separate processes,
// so the CPU figures are the updater's alone.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AuditLog.h"
#include "AuditRecord.h"
#include "Resources.h"
#include "Update.h"

extern char** environ;

namespace {

using namespace kordel;
using Clock = std::chrono::steady_clock;

// Starts `args[0]` with `args` and its standard output on a pipe (standard error to
// /dev/null); returns the child and sets `output` to the pipe's reading end.
pid_t SpawnWithOutputPipe(std::vector<std::string> args, int& output) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + args[0]);
    }
    output = out[0];
    return pid;
}

// A kordel-sim process; its first output line is the port.
class SimProcess {
  public:
    explicit SimProcess(const char* program) {
        int out = -1;
        pid_ = SpawnWithOutputPipe({program}, out);
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n') port_ += c;
        ::close(out);
        if (port_.empty()) throw std::runtime_error("kordel-sim printed no port");
    }
    ~SimProcess() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    const std::string& Port() const { return port_; }

  private:
    pid_t pid_ = 0;
    std::string port_;
};

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Flash(const std::string& port, const TFirmwareImage& image) {
    TComIo io;
    io.PortNameSource = [&] { return port; };
    TBootInfo boot;
    RunUpdate(io, TUpdateInput{image.rs, image.BufBiosInfo, nullptr, nullptr}, boot);
}

// Wall seconds for updating every port at once, one thread each.
double FlashInParallel(const std::vector<std::unique_ptr<SimProcess>>& sims,
                       const TFirmwareImage& image) {
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (const auto& s : sims) threads.emplace_back([&] { Flash(s->Port(), image); });
    for (auto& t : threads) t.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Appends records of a typical size to a new log in the temporary folder, each one
// locked, written and flushed to the disk as kordel-flash --log does; prints the
// median and the slowest tenth.
void BenchAuditAppend(const TFirmwareImage& image) {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "kordel-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) throw std::runtime_error("mkdtemp");
    const std::string path = folder + "/station.log";
    cli::TAuditRecord record;
    record.station = {"bench", std::nullopt, "kordel-flash"};
    record.image = cli::DescribeImage(image.rs, image.BufBiosInfo);
    record.port = "/dev/ttyUSB0";
    record.module =
        cli::TAuditModule{std::vector<std::uint8_t>(48, 0x41), std::array<std::uint8_t, 12>{}};
    record.ok = true;
    record.message = "Update OK";
    const std::string line = cli::AuditLine(record);
    std::vector<double> ms;
    {
        cli::TAuditLog log(path);
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            log.Append(line);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    fs::remove_all(folder);
    std::sort(ms.begin(), ms.end());
    std::printf(
        "audit record append with fsync (%zu bytes, %s): median %.2f ms, 90th %.2f ms, "
        "max %.2f ms\n",
        line.size() + 1, fs::temp_directory_path().c_str(), ms[ms.size() / 2],
        ms[ms.size() * 9 / 10], ms.back());
}

// kordel-flash --watch over a folder, its --json lines read as they come, each with
// the time it arrived.
class WatchProcess {
  public:
    WatchProcess(const std::string& flash, const std::string& folder) {
        int out = -1;
        pid_ = SpawnWithOutputPipe({flash, "--watch", "--json", "--port", folder + "/ttySIM*"}, out);
        reader_ = std::thread([this, out] { Read(out); });
    }
    ~WatchProcess() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        reader_.join();
    }
    // When a line holding every one of `parts` arrived; waits up to `limit`.
    Clock::time_point WaitFor(const std::vector<std::string>& parts, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        Clock::time_point when{};
        const auto found = [&] {
            // Not a structured binding: clang 14 cannot capture one in the lambda below.
            for (const auto& arrived : lines_) {
                const std::string& line = arrived.second;
                const bool all = std::all_of(parts.begin(), parts.end(), [&](const std::string& p) {
                    return line.find(p) != std::string::npos;
                });
                if (all) {
                    when = arrived.first;
                    return true;
                }
            }
            return false;
        };
        if (!arrived_.wait_for(lock, limit, found)) throw std::runtime_error("no line " + parts[0]);
        return when;
    }
    // The process's CPU time so far (utime + stime), in seconds.
    double CpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15) ticks += std::stoll(field);
        }
        return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

  private:
    void Read(int fd) {
        std::string line;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            const auto now = Clock::now();
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\n') {
                    line += buffer[i];
                    continue;
                }
                lines_.emplace_back(now, std::move(line));
                line.clear();
            }
            arrived_.notify_all();
        }
        ::close(fd);
    }

    pid_t pid_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::pair<Clock::time_point, std::string>> lines_;
};

std::string PortField(const std::string& path) {
    return "\"port\":\"" + path + "\"";
}

// Links `count` simulated modules into the watched folder at once (names from `first`
// on) and returns the seconds until the last of their updates ended.
double PlugAtOnce(WatchProcess& watch, const std::string& folder,
                  const std::vector<std::unique_ptr<SimProcess>>& sims, int first) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < sims.size(); ++i) {
        std::filesystem::create_symlink(sims[i]->Port(),
                                        folder + "/ttySIM" + std::to_string(first + i));
    }
    Clock::time_point last = start;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        const std::string port = folder + "/ttySIM" + std::to_string(first + i);
        last = std::max(last, watch.WaitFor({"\"event\":\"result\"", PortField(port)},
                                            std::chrono::seconds(120)));
    }
    return std::chrono::duration<double>(last - start).count();
}

// Watch mode: how soon a port that appears is opened, what waiting with nothing
// happening costs, and 64 modules plugged at once against one.
void BenchWatch(const std::string& flash, const char* simProgram, int rounds) {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "kordel-bench-watch-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) throw std::runtime_error("mkdtemp");
    {
        WatchProcess watch(flash, folder);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // started and waiting
        const double cpu0 = watch.CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        std::printf("watch mode, waiting 3 s with nothing happening: %.0f ms of CPU "
                    "(limit 30 ms)\n",
                    (watch.CpuSeconds() - cpu0) * 1000);

        // The link appears; the update begins with the port's opening (the connecting
        // step, whose first act is the open).
        std::vector<double> ms;
        std::vector<std::unique_ptr<SimProcess>> sims;
        for (int r = 0; r < rounds; ++r) {
            sims.push_back(std::make_unique<SimProcess>(simProgram));
            const std::string port = folder + "/ttySIM" + std::to_string(r);
            const auto made = Clock::now();
            fs::create_symlink(sims.back()->Port(), port);
            const auto opened = watch.WaitFor(
                {"\"step\":\"connecting\"", PortField(port)}, std::chrono::seconds(30));
            ms.push_back(std::chrono::duration<double, std::milli>(opened - made).count());
            watch.WaitFor({"\"event\":\"result\"", PortField(port)}, std::chrono::seconds(30));
        }
        std::sort(ms.begin(), ms.end());
        std::printf("watch mode, link made -> update started (port opened): median %.1f ms, "
                    "max %.1f ms over %d plugs (limit 300 ms)\n",
                    ms[ms.size() / 2], ms.back(), rounds);

        std::vector<std::unique_ptr<SimProcess>> one, many;
        one.push_back(std::make_unique<SimProcess>(simProgram));
        for (int i = 0; i < 64; ++i) many.push_back(std::make_unique<SimProcess>(simProgram));
        const double single = PlugAtOnce(watch, folder, one, 1000);
        const double all = PlugAtOnce(watch, folder, many, 2000);
        std::printf("watch mode, 64 modules plugged at once: %.3f s, one: %.3f s, %.3f x "
                    "(limit 1.05 x)\n",
                    all, single, all / single);
    }
    fs::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const char* simProgram = argc > 1 ? argv[1] : "kordel-sim";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    // kordel-flash for the watch mode: given, or next to the simulator's folder.
    const std::string flash =
        argc > 3 ? argv[3]
                 : (std::filesystem::path(simProgram).parent_path().parent_path() / "cli" /
                    "kordel-flash")
                       .string();
    TFirmwareImage image;
    image.LoadBiosInfo();
    const std::uint32_t blocks = BlockCount(image.BufBiosInfo.UpdateLength());
    const double floor = (20 + 20 + 100 + 25.0 * blocks + 200) / 1000;

    std::vector<std::unique_ptr<SimProcess>> one;
    one.push_back(std::make_unique<SimProcess>(simProgram));
    double best = 1e9, cpu = 0, wall = 0;
    for (int r = 0; r < rounds; ++r) {
        const double cpu0 = CpuSeconds();
        const double t = FlashInParallel(one, image);
        cpu += CpuSeconds() - cpu0;
        wall += t;
        best = std::min(best, t);
    }
    std::printf("image: %u bytes in %u blocks; protocol floor %.3f s\n",
                image.BufBiosInfo.UpdateLength(), blocks, floor);
    std::printf("one update: best %.3f s, mean %.3f s, ratio to floor %.4f (best) %.4f (mean)\n",
                best, wall / rounds, best / floor, wall / rounds / floor);
    std::printf("updater CPU: %.1f ms per update, %.2f %% of wall time\n", cpu / rounds * 1000,
                cpu / wall * 100);

    std::vector<std::unique_ptr<SimProcess>> eight;
    for (int i = 0; i < 8; ++i) eight.push_back(std::make_unique<SimProcess>(simProgram));
    double eightWall = 0;
    for (int r = 0; r < rounds; ++r) eightWall += FlashInParallel(eight, image);
    std::printf("8 modules in parallel: mean %.3f s, %.4f x one update\n", eightWall / rounds,
                eightWall / wall);
    BenchAuditAppend(image);
    BenchWatch(flash, simProgram, std::max(rounds, 10));
    return 0;
}

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
#include <cstdio>
#include <filesystem>
#include <memory>
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

// A kordel-sim process; its first output line is the port.
class SimProcess {
  public:
    explicit SimProcess(const char* program) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>(program), nullptr};
        if (posix_spawn(&pid_, program, &actions, nullptr, argv, environ) != 0) {
            throw std::runtime_error(std::string("cannot start ") + program);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') port_ += c;
        ::close(out[0]);
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

}  // namespace

int main(int argc, char** argv) {
    const char* simProgram = argc > 1 ? argv[1] : "kordel-sim";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    TFirmwareImage image;
    image.LoadBiosInfo();
    const std::uint32_t blocks = (image.BufBiosInfo.UpdateLength() + BlockSize - 1) / BlockSize;
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
    return 0;
}

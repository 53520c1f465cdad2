// The Windows port watch under wine: a port registered or removed by another process
// (reg.exe writing the system's list of serial ports, as a serial driver does) wakes a
// waiting watch; a cancelled token ends the wait; with nothing happening it times out
// without spending the processor's time.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <limits>
#include <string>
#include <thread>

#include "CancelToken.h"
#include "PortWatch.h"

namespace kordel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TWake = TPortWatch::TWake;

// Generous: a change or a cancel wakes the watch long before this.
constexpr auto Long = 20s;

const wchar_t* const TestValue = L"\\Device\\KordelWatchTest";

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs reg.exe of the system folder with `arguments` and waits for it; its exit code.
DWORD RunReg(const std::wstring& arguments) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ~0u;
    const std::wstring program = std::wstring(folder) + L"\\reg.exe";
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        return ~0u;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = ~0u;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

DWORD AddPort(const wchar_t* name) {
    return RunReg(std::wstring(L"add HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM /v ") + TestValue +
                  L" /t REG_SZ /d " + name + L" /f");
}

DWORD RemovePort() {
    return RunReg(std::wstring(L"delete HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM /v ") + TestValue +
                  L" /f");
}

// The processor time of this process (every thread), in milliseconds.
double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

struct TChangeCase {
    const char* name;
    DWORD (*before)();  // the list before the watches start
    DWORD (*change)();  // the change made while they wait
};

class PortWatchChange : public testing::TestWithParam<TChangeCase> {
  protected:
    void SetUp() override { ASSERT_EQ(GetParam().before(), 0u) << "reg.exe failed"; }
    void TearDown() override { RemovePort(); }
};

DWORD Nothing() {
    return 0;
}

// Each change, made while two watches wait, wakes both; the wake is used up, so that
// the next wait without a change times out.
TEST_P(PortWatchChange, WakesEveryWaitingWatchOnce) {
    TPortWatch first;
    TPortWatch second;
    TCancelToken never;
    std::thread changer([] {
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(GetParam().change(), 0u) << "reg.exe failed";
    });
    const auto start = Clock::now();
    EXPECT_EQ(first.Wait(Long, never), TWake::Changed);
    changer.join();
    EXPECT_GE(MsSince(start), 199.0) << "woken before the change";
    EXPECT_EQ(second.Wait(Long, never), TWake::Changed);
    EXPECT_EQ(first.Wait(300ms, never), TWake::TimedOut);
    EXPECT_EQ(second.Wait(300ms, never), TWake::TimedOut);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, PortWatchChange,
    testing::Values(TChangeCase{"PortAdded", Nothing, [] { return AddPort(L"COM42"); }},
                    TChangeCase{"PortRenamed", [] { return AddPort(L"COM42"); },
                                [] { return AddPort(L"COM43"); }},
                    TChangeCase{"PortRemoved", [] { return AddPort(L"COM42"); }, RemovePort}),
    [](const testing::TestParamInfo<TChangeCase>& info) { return std::string(info.param.name); });

// A change made while nobody waits wakes the next wait.
TEST(PortWatchTest, KeepsAChangeForTheNextWait) {
    TPortWatch watch;
    TCancelToken never;
    ASSERT_EQ(AddPort(L"COM44"), 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(watch.Wait(Long, never), TWake::Changed);
    ASSERT_EQ(RemovePort(), 0u);
}

struct TCancelCase {
    const char* name;
    bool parentCancels;
    std::chrono::milliseconds cancelAfter;  // negative: before the wait
    std::chrono::milliseconds limit;
};

class PortWatchCancel : public testing::TestWithParam<TCancelCase> {};

TEST_P(PortWatchCancel, EndsTheWait) {
    const TCancelCase& c = GetParam();
    TPortWatch watch;
    TCancelToken all;
    TCancelToken port(&all);
    TCancelToken& cancelled = c.parentCancels ? all : port;
    if (c.cancelAfter < 0ms) cancelled.Cancel(SIGINT);
    std::thread canceller([&] {
        if (c.cancelAfter < 0ms) return;
        std::this_thread::sleep_for(c.cancelAfter);
        cancelled.Cancel(SIGTERM);
    });
    const auto start = Clock::now();
    EXPECT_EQ(watch.Wait(c.limit, port), TWake::Cancelled);
    canceller.join();
    EXPECT_GE(MsSince(start), static_cast<double>(c.cancelAfter.count()) - 1.0);
    EXPECT_LT(MsSince(start), 10000.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cancels, PortWatchCancel,
    testing::Values(TCancelCase{"Before", false, -1ms, Long},
                    TCancelCase{"During", false, 200ms, Long},
                    TCancelCase{"ParentDuring", true, 200ms, Long},
                    TCancelCase{"DuringTheLongestLimit", false, 200ms,
                                std::chrono::milliseconds::max()}),
    [](const testing::TestParamInfo<TCancelCase>& info) { return std::string(info.param.name); });

// With nothing happening the wait lasts its limit and sleeps: under 1 % of one core.
TEST(PortWatchTest, TimesOutWithoutSpendingTheProcessor) {
    TPortWatch watch;
    TCancelToken never;
    const double cpuBefore = ProcessCpuMs();
    const auto start = Clock::now();
    EXPECT_EQ(watch.Wait(3s, never), TWake::TimedOut);
    const double wallMs = MsSince(start);
    const double cpuMs = ProcessCpuMs() - cpuBefore;
    EXPECT_GE(wallMs, 2990.0);
    EXPECT_LT(cpuMs, 30.0);
    std::printf("Waiting 3 s with nothing happening took %.1f ms of processor time\n", cpuMs);
}

TEST(PortWatchTest, ANegativeLimitTimesOutAtOnce) {
    TPortWatch watch;
    TCancelToken never;
    const auto start = Clock::now();
    EXPECT_EQ(watch.Wait(-5ms, never), TWake::TimedOut);
    EXPECT_LT(MsSince(start), 10000.0);
}

}  // namespace
}  // namespace kordel

// kordel-flash as a user or script runs it, against simulated modules.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "KordelSim.h"
#include "Reporter.h"

extern char** environ;

namespace kordel {
namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs kordel-flash with `args`; sends SIGINT after `interruptAfterMs` when given.
Result RunFlash(const std::vector<std::string>& args, int interruptAfterMs = -1) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(::pipe(outPipe), 0);
    EXPECT_EQ(::pipe(errPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<std::string> all = {KORDEL_FLASH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, KORDEL_FLASH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    Result r;
    const auto start = std::chrono::steady_clock::now();
    bool interrupted = false;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0) {
        ::poll(fds, 2, 20);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        if (interruptAfterMs >= 0 && !interrupted && ms >= interruptAfterMs) {
            ::kill(pid, SIGINT);
            interrupted = true;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

TEST(CliTest, SimulatedModuleGetsTheImage) {
    const Result r = RunFlash({"--sim"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Update OK\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("holds exactly the image's 7900 bytes, then 36 filler bytes FF"),
              std::string::npos)
        << r.out;
}

TEST(CliTest, ParallelPortsWithOneFailingInJson) {
    sim::KordelSim good;
    sim::KordelSim bad;
    std::string error;
    bad.AddFault(*sim::ParseFaultRule("F9@2=status:195", error));
    const Result r = RunFlash({"--json", "--port", good.SlavePath(), "--port", bad.SlavePath()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"port\":\"" + good.SlavePath() +
                         "\",\"run\":1,\"result\":\"ok\",\"message\":\"Update OK\"}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"port\":\"" + bad.SlavePath() +
                         "\",\"run\":1,\"result\":\"error\",\"message\":\"Error writing "
                         "Flash\\r\\nCRYPT ERROR\"}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(good.Flash().size(), 31u * 256);
    EXPECT_EQ(Count(r.out, "\"event\":\"progress\""), 32u + 3u) << "31 blocks + start, 2 + start";
}

TEST(CliTest, FailureTextGoesToStandardErrorWithAHint) {
    const Result r = RunFlash({"--port", "/dev/ttyKORDEL-missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Unable to open com port (Error: 2)\nhint: no such device"),
              std::string::npos)
        << r.err;

    const Result crypt = RunFlash({"--sim", "--sim-fault", "F9=status:0xC3", "--quiet"});
    EXPECT_EQ(crypt.exitCode, 1);
    EXPECT_EQ(crypt.err, "Error writing Flash\nCRYPT ERROR\n");
    EXPECT_EQ(crypt.out, "");
}

TEST(CliTest, RepeatRunsOnTheSameLink) {
    sim::KordelSim module;
    const Result r = RunFlash({"--quiet", "--repeat", "2", "--port", module.SlavePath()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Update OK\nUpdate OK\n");
    const auto requests = module.Requests();
    ASSERT_EQ(requests.size(), 2u * 34);
    EXPECT_EQ(requests[34].sequence, 35) << "the sequence number goes on";
}

TEST(CliTest, InterruptClosesThePortAndExits130) {
    sim::KordelSim module;
    std::string error;
    module.AddFault(*sim::ParseFaultRule("F9=delay:50", error));
    const Result r = RunFlash({"--quiet", "--port", module.SlavePath()}, 600);
    EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
    EXPECT_TRUE(module.WaitForCloses(1, 2000)) << "the port was closed";
    EXPECT_LT(module.Requests().size(), 34u);
}

struct UsageCase {
    std::vector<std::string> args;
    int exitCode;
    const char* output;
};

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, ExitCodeAndMessage) {
    const Result r = RunFlash(GetParam().args);
    EXPECT_EQ(r.exitCode, GetParam().exitCode);
    EXPECT_NE((r.out + r.err).find(GetParam().output), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Args, UsageTest,
    ::testing::Values(UsageCase{{}, 2, "name a port with --port"},
                      UsageCase{{"--frobnicate"}, 2, "unknown option '--frobnicate'"},
                      UsageCase{{"--port"}, 2, "--port needs a port name"},
                      UsageCase{{"--sim", "--repeat", "0"}, 2, "--repeat needs a number"},
                      UsageCase{{"--sim", "--sim-fault", "F9"}, 2, "bad --sim-fault rule"},
                      UsageCase{{"--help"}, 0, "Usage: kordel-flash"},
                      UsageCase{{"--version"}, 0, "kordel-flash 1."},
                      UsageCase{{"--info"}, 0, "Kordel Update v1.3.1\nVersion 1.3 (00C1-"},
                      UsageCase{{"--list"}, 0, ""}));

TEST(JsonStringTest, EscapesWhatJsonRequires) {
    EXPECT_EQ(cli::JsonString("a\"b\\c\r\n\x01"), "\"a\\\"b\\\\c\\r\\n\\u0001\"");
}

}  // namespace
}  // namespace kordel

// The desktop entry starts the window in $XDG_CONFIG_HOME/kordel (made first), so that a
// menu launch keeps its settings file there. The Exec line is read with the desktop
// entry rules (string escapes, then quoting) and run against a stand-in kordel-update
// that reports the folder it was started in.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"

namespace kordel {
namespace {

std::string ExecValue() {
    std::ifstream file(KORDEL_SOURCE_DIR "/resources/kordel-update.desktop");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("Exec=", 0) == 0) return line.substr(5);
    }
    return "";
}

// The value's string escapes (\s \n \t \r \\), then its arguments: separated by
// spaces; inside double quotes a backslash escapes " ` $ and \.
std::vector<std::string> ExecArguments(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char e = value[++i];
        text += e == 's' ? ' ' : e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
    }
    std::vector<std::string> args;
    std::string arg;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) {
            arg += text[++i];
        } else if (c == '"') {
            quoted = !quoted, any = true;
        } else if (c == ' ' && !quoted) {
            if (any) args.push_back(arg);
            arg.clear(), any = false;
        } else {
            arg += c, any = true;
        }
    }
    if (any) args.push_back(arg);
    return args;
}

// Runs the Exec line with `environment` and returns the stand-in's working folder.
std::string StartedIn(const std::vector<std::string>& environment) {
    auto args = ExecArguments(ExecValue());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (argv.empty() || posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data())) {
        return "(not started)";
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "(failed)";
}

class DesktopEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin_ = dir_.Path() / "bin";
        std::filesystem::create_directories(bin_);
        std::ofstream script(bin_ / "kordel-update");
        script << "#!/bin/sh\npwd > \"$KORDEL_TEST_OUT\"\n";
        script.close();
        ::chmod((bin_ / "kordel-update").c_str(), 0755);
        std::filesystem::create_directories(dir_.Path() / "home");
    }

    std::string Run(std::vector<std::string> environment) {
        environment.push_back("PATH=" + bin_.string() + ":/usr/bin:/bin");
        environment.push_back("HOME=" + (dir_.Path() / "home").string());
        environment.push_back("KORDEL_TEST_OUT=" + (dir_.Path() / "pwd").string());
        const std::string failure = StartedIn(environment);
        if (!failure.empty()) return failure;
        std::ifstream out(dir_.Path() / "pwd");
        std::string folder;
        std::getline(out, folder);
        return folder;
    }

    testing::TempDir dir_;
    std::filesystem::path bin_;
};

TEST_F(DesktopEntryTest, StartsInTheConfigFolderOfTheUser) {
    EXPECT_EQ(Run({}), (dir_.Path() / "home/.config/kordel").string());
    EXPECT_EQ(Run({"XDG_CONFIG_HOME="}), (dir_.Path() / "home/.config/kordel").string());
    const auto config = dir_.Path() / "my config";  // a space, and not made yet
    EXPECT_EQ(Run({"XDG_CONFIG_HOME=" + config.string()}), (config / "kordel").string());
    EXPECT_TRUE(std::filesystem::is_directory(config / "kordel"));
}

TEST(DesktopEntryFileTest, NamesTheProgramAndItsIcon) {
    std::ifstream file(KORDEL_SOURCE_DIR "/resources/kordel-update.desktop");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("\nTryExec=kordel-update\n"), std::string::npos);
    EXPECT_NE(text.str().find("\nIcon=kordel-update\n"), std::string::npos);
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string s = std::to_string(size);
        EXPECT_TRUE(std::filesystem::exists(KORDEL_SOURCE_DIR "/resources/icons/hicolor/" + s +
                                            "x" + s + "/kordel-update.png"))
            << size;
    }
}

}  // namespace
}  // namespace kordel

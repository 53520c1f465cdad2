// A raw pseudo-terminal pair for tests: the test plays the far end on the master while
// the code under test opens the slave's path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "UniqueFd.h"

namespace kordel::testing {

class PtyPair {
  public:
    PtyPair() {
        master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        char name[128];
        ::ptsname_r(master_.get(), name, sizeof name);
        path_ = name;
        // Hold the slave open so the pair survives the client closing it; raw from the start.
        slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios tio{};
        ::tcgetattr(slave_.get(), &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_.get(), TCSANOW, &tio);
    }

    const std::string& Path() const { return path_; }
    int Master() const { return master_.get(); }

    void Send(const std::vector<std::uint8_t>& bytes) const {
        if (::write(master_.get(), bytes.data(), bytes.size()) !=
            static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("pty write failed");
        }
    }

    // Everything that arrives within `ms` of quiet.
    std::vector<std::uint8_t> Receive(int ms = 100) const {
        std::vector<std::uint8_t> got;
        for (;;) {
            pollfd p{master_.get(), POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0) return got;
            std::uint8_t buf[512];
            ssize_t n = ::read(master_.get(), buf, sizeof buf);
            if (n <= 0) return got;
            got.insert(got.end(), buf, buf + n);
        }
    }

    void CloseMaster() {
        slave_.reset();
        master_.reset();
    }

  private:
    UniqueFd master_;
    UniqueFd slave_;
    std::string path_;
};

inline double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace kordel::testing

// Opening a device as an unprivileged user, from a forked child: the tests run as root,
// which exclusive opens do not keep out.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kordel {

// Opens `path` in a child process that runs as an unprivileged user (nobody); returns 0
// when that open succeeded, else its errno. A port left exclusive refuses it.
inline int OpenAsUnprivilegedUser(const std::string& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

}  // namespace kordel

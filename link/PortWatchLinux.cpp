// Noticing ports on Linux: inotify on /dev and on the extra folders (a node made by the
// kernel, a link made by udev or a simulator), and the kernel's uevent socket for the
// tty devices that come and go. Both sit in one epoll set, which the link's cancellable
// wait watches beside the token's eventfds; nothing wakes it while nothing happens.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "CancelTokenLinux.h"
#include "PortWatch.h"
#include "UniqueFd.h"

namespace kordel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t FolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;
// A burst of uevents (a hub with many ports) must not overflow the socket's queue.
constexpr int UeventBufferBytes = 1 << 20;

std::string ErrnoText(int error = errno) {
    return std::strerror(error);
}

// The kernel's device events, or an invalid descriptor where the socket cannot be had
// (a container without netlink): inotify on /dev then notices the nodes alone.
UniqueFd OpenUeventSocket() {
    UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK,
                         NETLINK_KOBJECT_UEVENT));
    if (!fd) return fd;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &UeventBufferBytes, sizeof UeventBufferBytes);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own events (udev's come on group 2)
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        fd.reset();
    }
    return fd;
}

// Whether one uevent ("ACTION@DEVPATH\0KEY=VALUE\0...") is about a tty device: a serial
// port that came or went. Other subsystems' events (disks, input, power) are noise here.
bool IsTtyEvent(std::string_view message) {
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t end = std::min(message.find('\0', at), message.size());
        const std::string_view field = message.substr(at, end - at);
        if (field == "SUBSYSTEM=tty" || field == "SUBSYSTEM=usb-serial") return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

struct TPortWatch::TPlatform {
    UniqueFd inotify;
    UniqueFd uevents;
    UniqueFd sources;  // epoll over the two: readable when either is

    void AddSource(const UniqueFd& fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd.get();
        if (::epoll_ctl(sources.get(), EPOLL_CTL_ADD, fd.get(), &event) != 0) {
            throw std::runtime_error("Cannot watch for ports that appear (epoll): " + ErrnoText());
        }
    }

    void WatchFolder(const std::string& folder) {
        if (::inotify_add_watch(inotify.get(), folder.c_str(), FolderEvents | IN_ONLYDIR) < 0) {
            throw std::runtime_error("Cannot watch the folder " + folder +
                                     " for ports that appear: " + ErrnoText());
        }
    }

    // Reads what inotify queued; true when anything came (every event in a watched
    // folder may be a port, and an overflowed queue may have held one).
    bool DrainInotify() {
        alignas(inotify_event) char buffer[16 * 1024];
        bool any = false;
        for (;;) {
            const ssize_t n = ::read(inotify.get(), buffer, sizeof buffer);
            if (n <= 0) return any;
            any = true;
        }
    }

    // Reads the queued uevents; true when one of them was about a tty, or when the
    // queue overflowed and events were lost.
    bool DrainUevents() {
        char buffer[8 * 1024];
        bool tty = false;
        if (!uevents) return false;
        for (;;) {
            const ssize_t n = ::recv(uevents.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0) return tty || errno == ENOBUFS;
            if (n == 0) return tty;
            tty = tty || IsTtyEvent(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
};

TPortWatch::TPortWatch(const std::vector<std::string>& extraFolders)
    : platform_(std::make_unique<TPlatform>()) {
    platform_->inotify.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!platform_->inotify) {
        throw std::runtime_error("Cannot watch for ports that appear (inotify): " + ErrnoText());
    }
    platform_->WatchFolder("/dev");
    for (const auto& folder : extraFolders) platform_->WatchFolder(folder);
    platform_->uevents = OpenUeventSocket();
    platform_->sources.reset(::epoll_create1(EPOLL_CLOEXEC));
    if (!platform_->sources) {
        throw std::runtime_error("Cannot watch for ports that appear (epoll): " + ErrnoText());
    }
    platform_->AddSource(platform_->inotify);
    if (platform_->uevents) platform_->AddSource(platform_->uevents);
}

TPortWatch::~TPortWatch() = default;

TPortWatch::TWake TPortWatch::Wait(std::chrono::milliseconds limit, const TCancelToken& cancel) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const TPollResult ready = PollCancellable(platform_->sources.get(), POLLIN, deadline, &cancel);
        if (ready.cancelled) return TWake::Cancelled;
        if (ready.error != 0) {
            throw std::runtime_error("Cannot wait for ports that appear: " + ErrnoText(ready.error));
        }
        if (ready.revents == 0) return TWake::TimedOut;
        // Both are read empty, so that the set is quiet again for the next wait.
        const bool inFolders = platform_->DrainInotify();
        const bool ttyEvent = platform_->DrainUevents();
        if (inFolders || ttyEvent) return TWake::Changed;
    }
}

}  // namespace kordel

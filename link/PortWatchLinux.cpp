// Noticing ports on Linux: inotify on /dev and on the extra folders (a node made by the
// kernel, a link made by udev or a simulator), and the kernel's uevent socket for the
// tty devices that come and go. One ppoll() waits on all of them and on the cancel
// token's eventfds; nothing wakes it while nothing happens.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "PortWatch.h"
#include "UniqueFd.h"

namespace kordel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t FolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;
// A burst of uevents (a hub with many ports) must not overflow the socket's queue.
constexpr int UeventBufferBytes = 1 << 20;

std::string ErrnoText() {
    return std::strerror(errno);
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
}

TPortWatch::~TPortWatch() = default;

TPortWatch::TWake TPortWatch::Wait(std::chrono::milliseconds limit, const TCancelToken& cancel) {
    const auto deadline = Clock::now() + limit;
    TCancelWakeHandle wakes[TCancelToken::MaxChain];
    const std::size_t nWakes = CancelWakeHandles(&cancel, wakes);
    pollfd p[2 + TCancelToken::MaxChain] = {{platform_->inotify.get(), POLLIN, 0},
                                            {platform_->uevents.get(), POLLIN, 0}};
    for (std::size_t i = 0; i < nWakes; ++i) p[2 + i] = {wakes[i], POLLIN, 0};
    for (;;) {
        if (cancel.Reason() != 0) return TWake::Cancelled;
        const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec ts{static_cast<time_t>(ns / 1'000'000'000),
                          static_cast<long>(ns % 1'000'000'000)};
        const int n = ::ppoll(p, 2 + nWakes, &ts, nullptr);
        if (n < 0 && errno != EINTR) {
            throw std::runtime_error("Cannot wait for ports that appear: " + ErrnoText());
        }
        if (cancel.Reason() != 0) return TWake::Cancelled;
        // An eventfd readable without a reason (a token reset meanwhile, or shared with a
        // forked process) would wake this wait again and again: it is left out.
        for (std::size_t i = 2; i < 2 + nWakes; ++i) {
            if (n > 0 && p[i].revents != 0) p[i].fd = -1;
        }
        bool changed = false;
        if (n > 0 && p[0].revents != 0) changed = platform_->DrainInotify() || changed;
        if (n > 0 && p[1].revents != 0) changed = platform_->DrainUevents() || changed;
        if (changed) return TWake::Changed;
        if (Clock::now() >= deadline) return TWake::TimedOut;
    }
}

}  // namespace kordel

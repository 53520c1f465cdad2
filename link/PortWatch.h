// Noticing that serial ports may have come or gone, without polling: the watch mode
// of the command line waits here, lists the ports again when woken and compares.
//
// Linux: inotify on /dev (and on each extra folder, so that a link made there by a
// simulator or udev counts) plus the kernel's uevent netlink socket where it can be
// opened. Windows: device-change notifications on a message-only window owned by a
// thread of the watch.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "CancelToken.h"

namespace kordel {

class TPortWatch {
  public:
    // `extraFolders`: folders besides the system's device folder where ports may appear
    // (the folders of the --port patterns). Raises std::runtime_error naming what could
    // not be watched.
    explicit TPortWatch(const std::vector<std::string>& extraFolders = {});
    ~TPortWatch();
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

    enum class TWake { Changed, TimedOut, Cancelled };
    // Waits until the ports may have changed, `limit` has passed or `cancel` (with its
    // parents) is cancelled. Changes that came since the last call wake it at once;
    // several changes may be reported by one wake.
    TWake Wait(std::chrono::milliseconds limit, const TCancelToken& cancel);

  private:
    struct TPlatform;
    std::unique_ptr<TPlatform> platform_;
};

}  // namespace kordel

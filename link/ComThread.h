// The line-event watcher: a thread that runs while the port is open, waits for line
// events and hands each batch to the thread that owns the link, waiting until it ran.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ComPort.h"

namespace kordel {

class TComThread {
  public:
    TComThread(TComPort& port, TComEvents events);
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Ends the thread. Never blocks on a pending hand-over: one that has not run yet
    // is cancelled and will do nothing when its turn comes.
    void Stop();

  private:
    // One batch of events on its way to the owning thread.
    struct HandOver {
        std::mutex mutex;
        std::condition_variable cv;
        bool finished = false;
        bool cancelled = false;
    };

    void Run(TComEvents events);
    void Deliver(TComEvents events);

    TComPort& port_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::shared_ptr<HandOver> pending_;
    std::thread thread_;
};

}  // namespace kordel

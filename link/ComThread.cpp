#include "ComThread.h"

namespace kordel {

TComThread::TComThread(TComPort& port, TComEvents events) : port_(port) {
    port_.PlatformBeginWatch(events);
    thread_ = std::thread([this, events] { Run(events); });
}

TComThread::~TComThread() {
    Stop();
}

void TComThread::Run(TComEvents events) {
    for (;;) {
        TComEvents seen = port_.PlatformWaitEvents() & events;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
        }
        if (seen != 0) Deliver(seen);
    }
    port_.PlatformEndWatch();
}

void TComThread::Deliver(TComEvents events) {
    auto handOver = std::make_shared<HandOver>();
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        pending_ = handOver;
    }
    auto work = [handOver, &port = port_, events] {
        std::lock_guard lock(handOver->mutex);
        if (handOver->cancelled) return;
        port.HandleLineEvents(events);
        handOver->finished = true;
        handOver->cv.notify_all();
    };
    if (port_.Dispatcher != nullptr) {
        port_.Dispatcher->Post(work);
    } else {
        work();
    }
    std::unique_lock lock(handOver->mutex);
    handOver->cv.wait(lock, [&] { return handOver->finished || handOver->cancelled; });
}

void TComThread::Stop() {
    if (!thread_.joinable()) return;
    std::shared_ptr<HandOver> pending;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending = pending_;
    }
    if (pending) {
        std::lock_guard lock(pending->mutex);
        pending->cancelled = true;
        pending->cv.notify_all();
    }
    port_.PlatformWakeWatch();
    thread_.join();
}

}  // namespace kordel

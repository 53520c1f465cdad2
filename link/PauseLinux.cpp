#include <sys/prctl.h>

#include <chrono>
#include <thread>

#include "Pause.h"

namespace kordel {

void PauseMs(int ms) {
    thread_local const bool tightTimers = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
    (void)tightTimers;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace kordel

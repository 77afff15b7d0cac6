#include "oxl/runtime/Timer.h"

#include <cstdio>
#include <cstdlib>

#include "TimerService.h"

namespace oxl {

Timer::Timer() = default;

Timer::~Timer() {
    bool set;
    {
        ScopedLock lock(mutex_);
        set = timerId_ != -1;
    }
    if (set) {
        std::fprintf(stderr, "Timer::~Timer: Timer %p: missing killTimer() call\n", static_cast<void*>(this));
        std::fflush(stderr);
        std::abort();
    }
}

int Timer::setTimer(unsigned int periodMs, bool repeat) {
    return detail::TimerService::instance().setTimer(this, periodMs, repeat);
}

void Timer::killTimer() {
    detail::TimerService::instance().killTimer(this);
}

bool Timer::isSet() const {
    ScopedLock lock(mutex_);
    return timerId_ != -1;
}

}  // namespace oxl

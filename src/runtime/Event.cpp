#include "oxl/runtime/Event.h"

#include <chrono>

#include "Deadline.h"

namespace oxl {

Event::Event(bool autoReset) : autoReset_(autoReset) {}

bool Event::set() {
    ScopedLock lock(mutex_);
    if (!signalled_) {
        signalled_ = true;
        if (autoReset_) {
            condition_.notifyOne();
        } else {
            condition_.notifyAll();
        }
    }
    return true;
}

bool Event::wait() {
    ScopedLock lock(mutex_);
    while (!signalled_) {
        condition_.wait(mutex_);
    }
    if (autoReset_) {
        signalled_ = false;
    }
    return true;
}

bool Event::wait(long timeoutMs) {
    if (timeoutMs < 0) {
        return false;
    }
    const auto deadline = detail::deadlineAfter(detail::SteadyClock::now(), timeoutMs);
    ScopedLock lock(mutex_);
    while (!signalled_) {
        if (deadline == detail::SteadyClock::time_point::max()) {
            condition_.wait(mutex_);
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - detail::SteadyClock::now());
        if (left.count() <= 0) {
            return false;
        }
        condition_.wait(mutex_, static_cast<long>(left.count()));
    }
    if (autoReset_) {
        signalled_ = false;
    }
    return true;
}

bool Event::reset() {
    if (autoReset_) {
        return false;
    }
    ScopedLock lock(mutex_);
    signalled_ = false;
    return true;
}

}  // namespace oxl

#include "oxl/runtime/Mutex.h"

#include <chrono>
#include <cstdio>
#include <new>

#include "Deadline.h"

namespace oxl {

Mutex::Mutex() : section_(new (std::nothrow) std::recursive_mutex) {
    if (!section_) {
        std::fprintf(stderr, "Error in Mutex::Mutex(): could not allocate memory\n");
    }
}

Mutex::~Mutex() = default;

void Mutex::lock() {
    if (section_) {
        section_->lock();
    }
}

void Mutex::unlock() {
    if (section_) {
        section_->unlock();
    }
}

bool Mutex::tryLock() {
    return section_ ? section_->try_lock() : false;
}

int Condition::wait(Mutex& mutex, long timeoutMs) {
    if (timeoutMs < 0) {
        cv_.wait(mutex);
        return 0;
    }
    const auto deadline = detail::deadlineAfter(detail::SteadyClock::now(), timeoutMs);
    if (deadline == detail::SteadyClock::time_point::max()) {
        cv_.wait(mutex);
        return 0;
    }
    return cv_.wait_until(mutex, deadline) == std::cv_status::timeout ? 1 : 0;
}

void Condition::notifyOne() {
    cv_.notify_one();
}

void Condition::notifyAll() {
    cv_.notify_all();
}

}  // namespace oxl

#include "oxl/common/Waiter.h"

#include <chrono>

namespace oxl::common {

Waiter::Waiter(unsigned int seconds) : Waiter(seconds, 200) {}

Waiter::Waiter(unsigned int seconds, unsigned int stepMs)
    : totalMs_(seconds * 1000U), stepMs_(stepMs == 0 ? 1 : stepMs) {}

bool Waiter::isExpired() const {
    return static_cast<unsigned long long>(stepMs_) * waitCount_ >= totalMs_;
}

void Waiter::wait() {
    if (isExpired()) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stepMs_);
    ScopedLock lock(mutex_);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        // Nobody signals this condition: only the timeout (or a spurious wake-up) ends the wait.
        never_.wait(mutex_, static_cast<long>(left.count()));
    }
    ++waitCount_;
}

}  // namespace oxl::common

// Deadlines on the steady clock that saturate instead of overflowing.
#pragma once

#include <chrono>

namespace oxl::detail {

using SteadyClock = std::chrono::steady_clock;

// now + ms, or SteadyClock::time_point::max() when that lies beyond the clock's range (about 292 years
// of nanoseconds): such a deadline is never reached.
inline SteadyClock::time_point deadlineAfter(SteadyClock::time_point now, long long ms) {
    const auto room =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::time_point::max() - now).count();
    if (ms >= room) {
        return SteadyClock::time_point::max();
    }
    return now + std::chrono::milliseconds(ms);
}

}  // namespace oxl::detail

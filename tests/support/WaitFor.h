// Polls for a moment the library announces to no one (a thread ended, a background answer arrived).
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace oxl::test {

// True as soon as `condition` holds, false if it still does not after `limit`. The limit is generous: the
// test machine is small and often loaded, and only a failing test waits it out.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace oxl::test

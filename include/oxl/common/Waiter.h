// Bounded sleep-and-poll helper: wait() sleeps one step until the total time is used up.
#pragma once

#include "oxl/runtime/Mutex.h"

namespace oxl::common {

class Waiter {
  public:
    explicit Waiter(unsigned int seconds);
    // A step of 0 is taken as 1 ms so that the waiter still expires.
    Waiter(unsigned int seconds, unsigned int stepMs);
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    // Sleeps stepMs unless expired (then returns at once).
    void wait();
    bool isExpired() const;
    unsigned int getWaitCount() const { return waitCount_; }

  private:
    const unsigned int totalMs_;
    unsigned int waitCount_ = 0;
    const unsigned int stepMs_;
    Mutex mutex_;
    Condition never_;  // never signalled: a timed sleep
};

}  // namespace oxl::common

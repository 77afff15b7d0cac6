// One-shot or periodic timer served by the process-wide timer service.
#pragma once

#include <cstdint>

#include "oxl/runtime/Mutex.h"

namespace oxl {

namespace detail {
class TimerService;
}

// Derive and implement onTimer(). At most one onTimer() of a timer runs at a time: a periodic firing that
// comes while the previous call still runs is skipped. Call killTimer() before destroying an armed timer.
class Timer {
  public:
    Timer();
    // Aborts the process when the timer is still set (killTimer() was not called).
    virtual ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Runs on a timer callback thread, never concurrently with itself. Keep it short: enqueue work and
    // return.
    virtual void onTimer() = 0;

    // First call after periodMs, then every periodMs when repeat. 0 on success, negative on failure
    // (period 0, timer already set, scheduling failure).
    int setTimer(unsigned int periodMs, bool repeat = false);
    // Cancels the timer and waits until no onTimer() of it runs. Called from its own onTimer() it cancels
    // without waiting, and the object may then be destroyed before onTimer() returns.
    void killTimer();

    // True between a successful setTimer() and killTimer().
    bool isSet() const;

  private:
    friend class detail::TimerService;

    std::int32_t timerId_ = -1;
    int inCallback_ = 0;
    bool killed_ = false;
    mutable Mutex mutex_;
    Condition callbackDone_;
};

}  // namespace oxl

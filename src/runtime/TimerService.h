// The process-wide timer queue behind oxl::Timer: one dispatcher thread over a deadline heap hands each
// firing to a small callback pool, so a slow onTimer() never delays another timer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <queue>
#include <thread>
#include <unordered_map>
#include <vector>

#include "oxl/runtime/Mutex.h"
#include "oxl/runtime/ThreadPool.h"
#include "oxl/runtime/Timer.h"

namespace oxl::detail {

class TimerService {
  public:
    // Created on first use and never destroyed: callbacks may still fire while the process exits.
    static TimerService& instance();

    int setTimer(Timer* timer, unsigned int periodMs, bool repeat);
    void killTimer(Timer* timer);
    // Runs one firing on a callback thread.
    void fire(std::int32_t id);

  private:
    using Clock = std::chrono::steady_clock;

    struct Due {
        Clock::time_point when;
        std::int32_t id;
        std::uint64_t generation;
        bool operator>(const Due& other) const { return when > other.when; }
    };
    struct Schedule {
        std::chrono::milliseconds period;
        bool repeat;
        std::uint64_t generation;
    };

    TimerService() = default;

    // 0 on success, negative on failure; caller holds globalMutex_.
    int schedule(std::int32_t id, unsigned int periodMs, bool repeat);
    void unschedule(std::int32_t id);
    void dispatch();

    // Global timer mutex (taken before any timer's own mutex), the id map and the id counter.
    Mutex globalMutex_;
    std::map<std::int32_t, Timer*> timers_;
    std::uint32_t counter_ = 0;

    // Dispatcher state, never held together with a timer's mutex.
    std::mutex scheduleMutex_;
    std::condition_variable scheduleChanged_;
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> heap_;
    std::unordered_map<std::int32_t, Schedule> scheduled_;
    std::uint64_t nextGeneration_ = 1;
    bool dispatcherStarted_ = false;
    std::unique_ptr<ThreadPool> callbackPool_;
};

}  // namespace oxl::detail

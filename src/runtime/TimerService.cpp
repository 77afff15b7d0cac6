#include "TimerService.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

namespace oxl::detail {

namespace {

constexpr unsigned int MAX_CALLBACK_THREADS = 32;
constexpr unsigned int CALLBACK_IDLE_SECONDS = 30;

// The timer whose onTimer() runs on this thread, and whether it killed itself from inside it.
thread_local Timer* currentTimer = nullptr;
thread_local bool currentTimerReleased = false;

class FireTask : public Task {
  public:
    FireTask(TimerService& service, std::int32_t id) : service_(service), id_(id) {}
    void execute() override { service_.fire(id_); }
    std::string getName() override { return "TimerCallback"; }

  private:
    TimerService& service_;
    std::int32_t id_;
};

}  // namespace

TimerService& TimerService::instance() {
    // Deliberately leaked: the dispatcher thread uses it until the process ends.
    static TimerService* service = new TimerService();
    return *service;
}

int TimerService::schedule(std::int32_t id, unsigned int periodMs, bool repeat) {
    std::lock_guard lock(scheduleMutex_);
    if (!dispatcherStarted_) {
        try {
            callbackPool_ =
                std::make_unique<ThreadPool>(0, MAX_CALLBACK_THREADS, "TimerCallback", CALLBACK_IDLE_SECONDS);
            std::thread([this] { dispatch(); }).detach();
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "WindowsTimerQueue: (CreateTimerQueue error %ld)\n",
                         static_cast<long>(e.code().value()));
            callbackPool_.reset();
            return -1;
        }
        dispatcherStarted_ = true;
    }
    const std::uint64_t generation = nextGeneration_++;
    const std::chrono::milliseconds period(periodMs);
    scheduled_[id] = Schedule{period, repeat, generation};
    heap_.push(Due{Clock::now() + period, id, generation});
    scheduleChanged_.notify_one();
    return 0;
}

void TimerService::unschedule(std::int32_t id) {
    // The heap entry stays and is dropped when it comes due.
    std::lock_guard lock(scheduleMutex_);
    scheduled_.erase(id);
}

void TimerService::dispatch() {
    Thread::setCurrentThreadName("TimerQueue");
    std::unique_lock lock(scheduleMutex_);
    for (;;) {
        if (heap_.empty()) {
            scheduleChanged_.wait(lock);
            continue;
        }
        const Due due = heap_.top();
        auto it = scheduled_.find(due.id);
        if (it == scheduled_.end() || it->second.generation != due.generation) {
            heap_.pop();
            continue;
        }
        const auto now = Clock::now();
        if (now < due.when) {
            scheduleChanged_.wait_until(lock, due.when);
            continue;
        }
        heap_.pop();
        if (it->second.repeat) {
            // Periods missed while this thread was not scheduled are dropped rather than fired in a burst.
            auto next = due.when + it->second.period;
            if (next <= now) {
                const auto behind = (now - due.when) / it->second.period;
                next = due.when + (behind + 1) * it->second.period;
            }
            heap_.push(Due{next, due.id, due.generation});
        } else {
            scheduled_.erase(it);
        }
        lock.unlock();
        callbackPool_->enqueue(std::make_shared<FireTask>(*this, due.id));
        lock.lock();
    }
}

int TimerService::setTimer(Timer* timer, unsigned int periodMs, bool repeat) {
    if (periodMs == 0) {
        std::fprintf(stderr, "Timer::setTimer: %p: invalid period 0 ms\n", static_cast<void*>(timer));
        return -1;
    }
    int result;
    {
        ScopedLock globalLock(globalMutex_);
        auto id = static_cast<std::int32_t>(counter_++);
        if (id == -1) {
            // -1 means "not set"; never hand it out.
            id = static_cast<std::int32_t>(counter_++);
        }
        ScopedLock timerLock(timer->mutex_);
        if (timer->timerId_ != -1) {
            return -1;
        }
        if (timers_.count(id) != 0) {
            result = 1;
        } else {
            result = schedule(id, periodMs, repeat);
            if (result == 0) {
                timers_[id] = timer;
                timer->timerId_ = id;
            }
        }
    }
    if (result == 1) {
        std::fprintf(stderr, "Timer::setTimer: Timer %p not set (already set?)\n", static_cast<void*>(timer));
        return -1;
    }
    if (result < 0) {
        std::fprintf(stderr, "Timer::setTimer: Timer %p: scheduleTimer failed (return value %d)\n",
                     static_cast<void*>(timer), result);
        return result;
    }
    return 0;
}

void TimerService::killTimer(Timer* timer) {
    ScopedLock globalLock(globalMutex_);
    ScopedLock timerLock(timer->mutex_);
    if (timer->timerId_ != -1) {
        auto it = timers_.find(timer->timerId_);
        if (it != timers_.end() && it->second == timer) {
            timers_.erase(it);
            unschedule(timer->timerId_);
        }
    }
    timer->killed_ = true;
    if (currentTimer == timer && !currentTimerReleased) {
        // Killed from its own onTimer(): release that call's hold now instead of waiting for ourselves.
        currentTimerReleased = true;
        --timer->inCallback_;
    }
    // Out of the map and killed: no new call can start. The running one may itself arm or kill other
    // timers, which needs the global mutex, so it is released before waiting.
    globalLock.unlock();
    while (timer->inCallback_ != 0) {
        timer->callbackDone_.wait(timer->mutex_);
    }
    timer->timerId_ = -1;
}

void TimerService::fire(std::int32_t id) {
    Timer* timer = nullptr;
    bool acquired = false;
    {
        ScopedLock globalLock(globalMutex_);
        auto it = timers_.find(id);
        if (it != timers_.end()) {
            timer = it->second;
            ScopedLock timerLock(timer->mutex_);
            if (!timer->killed_ && timer->inCallback_ < 1) {
                ++timer->inCallback_;
                acquired = true;
            }
        }
    }
    if (timer == nullptr) {
        std::fprintf(stderr, "Timer::callback: Timer internal ID %d: not found\n", static_cast<int>(id));
        return;
    }
    if (!acquired) {
        std::fprintf(stderr, "Timer::callback: Timer %p skipped (failed to acquire reference)\n",
                     static_cast<void*>(timer));
        return;
    }
    Timer* const outer = currentTimer;
    const bool outerReleased = currentTimerReleased;
    currentTimer = timer;
    currentTimerReleased = false;
    timer->onTimer();
    const bool released = currentTimerReleased;
    currentTimer = outer;
    currentTimerReleased = outerReleased;
    if (released) {
        // The timer killed itself and may already be destroyed.
        return;
    }
    ScopedLock timerLock(timer->mutex_);
    if (--timer->inCallback_ == 0) {
        timer->callbackDone_.notifyAll();
    }
}

}  // namespace oxl::detail

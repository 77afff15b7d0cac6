// One-shot timer in whole seconds that also fires late when the machine resumes or the application wakes
// in the background after its due time has passed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "oxl/runtime/Mutex.h"
#include "oxl/runtime/TestHook.h"
#include "oxl/runtime/Timer.h"
#include "oxl/sysmon/SystemMonitor.h"

namespace oxl::common {

class BackgroundTimerCallback {
  public:
    virtual ~BackgroundTimerCallback() = default;
    virtual void onTimerExpired() = 0;
};

class BackgroundTimerImpl : public OXLSystemMonitor::AppEventObserver,
                            public OXLSystemMonitor::PowerEventObserver,
                            public oxl::Timer {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // The timer service counts 32-bit milliseconds (49.7 days). A longer timer is armed in equal periodic
    // steps and notifies on the first step that finds its due time reached.
    static constexpr std::chrono::milliseconds MAX_SINGLE_ARMING{4294967295LL};
    // Longer durations are cut to this (a century), which keeps every computation on them in range.
    static constexpr std::chrono::seconds MAX_DURATION{100LL * 366 * 24 * 3600};

    // Arms the timer unless the duration is 0.
    BackgroundTimerImpl(std::weak_ptr<BackgroundTimerCallback> callback,
                        const std::chrono::seconds& duration);
    // Test seam: the wall clock that decides whether a wake-up comes after the due time (tests move it), and
    // the longest single arming of the timer service.
    OXL_TEST_HOOK BackgroundTimerImpl(std::weak_ptr<BackgroundTimerCallback> callback,
                                      const std::chrono::seconds& duration, Clock clock,
                                      std::chrono::milliseconds maxSingleArming = MAX_SINGLE_ARMING);
    ~BackgroundTimerImpl() override;

    void onTimer() override;
    void onAppEvent(OXLSystemMonitor::AppEventType type) override;
    void onPowerEvent(OXLSystemMonitor::PowerEventType type) override;
    bool isExpired() const;
    // Disarms the timer and waits for a notification in progress on another thread; afterwards the callback
    // is not called by this object any more.
    void killTimer();

  private:
    void onWakeEvent(const char* source, const char* operation, int type, const std::string& typeText);
    void notifyCallback();

    const std::weak_ptr<BackgroundTimerCallback> callback_;
    const std::int64_t duration_;  // seconds
    const Clock clock_;
    std::int64_t startTime_ = 0;                 // system clock, 100-ns ticks since the epoch
    std::chrono::steady_clock::time_point due_;  // on the timer service's clock
    bool expired_ = false;
    bool cancelled_ = false;
    int notifying_ = 0;  // notifications from wake-up events now running
    std::thread::id notifyingThread_;
    mutable oxl::Mutex mutex_;
    oxl::Condition notifyDone_;
};

class BackgroundTimer {
  public:
    BackgroundTimer();
    // Kills a pending timer.
    virtual ~BackgroundTimer();
    BackgroundTimer(const BackgroundTimer&) = delete;
    BackgroundTimer& operator=(const BackgroundTimer&) = delete;

    // Replaces any pending timer. The callback is held weakly.
    virtual void setTimer(std::weak_ptr<BackgroundTimerCallback> callback,
                          const std::chrono::seconds& duration);
    virtual void cancelTimer();
    // A timer exists and has not expired.
    virtual bool isSet();

  private:
    // Disarms a timer taken out of timer_, outside mutex_ so that a running callback may use this object.
    static void dispose(const std::shared_ptr<BackgroundTimerImpl>& timer);

    oxl::Mutex mutex_;
    std::shared_ptr<BackgroundTimerImpl> timer_;
};

}  // namespace oxl::common

// One-shot timer in whole seconds that also fires late when the machine resumes or the application wakes
// in the background after its due time has passed.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "oxl/runtime/Mutex.h"
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
    // Arms the timer unless the duration is 0.
    BackgroundTimerImpl(std::weak_ptr<BackgroundTimerCallback> callback,
                        const std::chrono::seconds& duration);
    ~BackgroundTimerImpl() override;

    void onTimer() override;
    void onAppEvent(OXLSystemMonitor::AppEventType type) override;
    void onPowerEvent(OXLSystemMonitor::PowerEventType type) override;
    bool isExpired() const;

  private:
    // Marks the timer expired if the due time has passed; true when this call did so.
    bool expireIfDue();
    void notifyCallback();

    std::weak_ptr<BackgroundTimerCallback> callback_;
    const std::int64_t duration_;  // seconds
    std::int64_t startTime_ = 0;   // system clock, 100-ns ticks
    bool expired_ = false;
    mutable oxl::Mutex mutex_;
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
    void dropTimerLocked();

    oxl::Mutex mutex_;
    std::shared_ptr<BackgroundTimerImpl> timer_;
};

}  // namespace oxl::common

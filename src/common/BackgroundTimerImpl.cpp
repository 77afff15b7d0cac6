#include <algorithm>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <utility>

#include "oxl/common/BackgroundTimer.h"
#include "oxl/log/Log.h"

namespace oxl::common {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common");
    return l;
}

using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;  // 100 ns
constexpr std::int64_t TICKS_PER_SECOND = 10000000;

std::int64_t toTicks(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<Ticks>(t.time_since_epoch()).count();
}

std::string formatTicks(std::int64_t ticks) {
    const std::time_t seconds = static_cast<std::time_t>(ticks / TICKS_PER_SECOND);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream os;
    os << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return os.str();
}

}  // namespace

BackgroundTimerImpl::BackgroundTimerImpl(std::weak_ptr<BackgroundTimerCallback> callback,
                                         const std::chrono::seconds& duration)
    : BackgroundTimerImpl(std::move(callback), duration, [] { return std::chrono::system_clock::now(); }) {}

BackgroundTimerImpl::BackgroundTimerImpl(std::weak_ptr<BackgroundTimerCallback> callback,
                                         const std::chrono::seconds& duration, Clock clock,
                                         std::chrono::milliseconds maxSingleArming)
    : callback_(std::move(callback)),
      duration_(std::min(duration, MAX_DURATION).count()),
      clock_(std::move(clock)) {
    startTime_ = toTicks(clock_());
    if (duration_ <= 0) {
        OXL_LOG_ERROR(logger(), "duration of timer cannot be 0");
        return;
    }
    OXL_LOG_INFO(logger(), "setting timer for " << duration_ << " seconds, should fire at "
                                                << formatTicks(startTime_ + duration_ * TICKS_PER_SECOND));
    // Taken before arming, so that the service's firing at the end of the last step is never before it.
    due_ = std::chrono::steady_clock::now() + std::chrono::seconds(duration_);
    const std::int64_t totalMs = duration_ * 1000;
    const std::int64_t maxMs =
        std::clamp<std::int64_t>(maxSingleArming.count(), 1, MAX_SINGLE_ARMING.count());
    if (totalMs <= maxMs) {
        setTimer(static_cast<unsigned int>(totalMs));
        return;
    }
    // Equal steps, so that the last one ends at the due time (give or take a millisecond per step).
    const std::int64_t steps = (totalMs + maxMs - 1) / maxMs;
    const std::int64_t stepMs = (totalMs + steps - 1) / steps;
    OXL_LOG_DEBUG(logger(), "arming the timer in " << steps << " steps of " << stepMs << " ms");
    setTimer(static_cast<unsigned int>(stepMs), true);
}

BackgroundTimerImpl::~BackgroundTimerImpl() {
    oxl::Timer::killTimer();
}

void BackgroundTimerImpl::killTimer() {
    {
        ScopedLock lock(mutex_);
        cancelled_ = true;
        while (notifying_ > 0 && notifyingThread_ != std::this_thread::get_id()) {
            notifyDone_.wait(mutex_);
        }
    }
    oxl::Timer::killTimer();
}

bool BackgroundTimerImpl::isExpired() const {
    ScopedLock lock(mutex_);
    return expired_;
}

void BackgroundTimerImpl::onTimer() {
    {
        ScopedLock lock(mutex_);
        if (cancelled_) {
            return;
        }
        if (expired_) {
            OXL_LOG_INFO(logger(), "Timer has already expired");
            return;
        }
        if (std::chrono::steady_clock::now() < due_) {
            return;  // an intermediate step of a long timer
        }
        expired_ = true;
    }
    OXL_LOG_INFO(logger(), "notifying callback");
    // Nothing of this object is used after the callback: it may cancel, and so destroy, this timer.
    notifyCallback();
}

void BackgroundTimerImpl::onAppEvent(OXLSystemMonitor::AppEventType type) {
    using OXLSystemMonitor::AppEventType;
    if (type != AppEventType::RESUMED && type != AppEventType::WAKEUP_IN_BACKGROUND) {
        return;
    }
    std::ostringstream text;
    text << type;
    onWakeEvent("AppStateEvent", "onAppEvent", static_cast<int>(type), text.str());
}

void BackgroundTimerImpl::onPowerEvent(OXLSystemMonitor::PowerEventType type) {
    if (type != OXLSystemMonitor::PowerEventType::RESUME) {
        return;
    }
    std::ostringstream text;
    text << type;
    onWakeEvent("PowerEvent", "onPowerEvent", static_cast<int>(type), text.str());
}

void BackgroundTimerImpl::onWakeEvent(const char* source, const char* operation, int type,
                                      const std::string& typeText) {
    {
        ScopedLock lock(mutex_);
        if (cancelled_ || expired_) {
            return;
        }
        const std::int64_t elapsed = toTicks(clock_()) - startTime_;
        if (elapsed < duration_ * TICKS_PER_SECOND) {
            OXL_LOG_DEBUG(logger(), "Duration has not elapsed "
                                        << operation << ": start time [" << formatTicks(startTime_)
                                        << "], duration [" << duration_ << "], time elapsed ["
                                        << elapsed / TICKS_PER_SECOND << "], expected fire time ["
                                        << formatTicks(startTime_ + duration_ * TICKS_PER_SECOND) << "]");
            return;
        }
        expired_ = true;
        ++notifying_;
        notifyingThread_ = std::this_thread::get_id();
    }
    OXL_LOG_INFO(logger(), "notifying callback due to " << source << ": " << typeText << " (" << type << ")");
    notifyCallback();
    // The monitor holds a reference during delivery, so this object is still alive here.
    ScopedLock lock(mutex_);
    --notifying_;
    notifyDone_.notifyAll();
}

void BackgroundTimerImpl::notifyCallback() {
    auto callback = callback_.lock();
    if (!callback) {
        OXL_LOG_WARN(logger(), "failed to get strong reference for callback, cannot notify callback");
        return;
    }
    callback->onTimerExpired();
}

BackgroundTimer::BackgroundTimer() = default;

BackgroundTimer::~BackgroundTimer() {
    std::shared_ptr<BackgroundTimerImpl> timer;
    {
        ScopedLock lock(mutex_);
        timer = std::move(timer_);
    }
    dispose(timer);
}

void BackgroundTimer::dispose(const std::shared_ptr<BackgroundTimerImpl>& timer) {
    if (!timer) {
        return;
    }
    auto monitor = OXLSystemMonitor::SystemMonitorFactory::getInstance();
    monitor->deregisterAppEventObserver(timer.get());
    monitor->deregisterPowerEventObserver(timer.get());
    timer->killTimer();
}

void BackgroundTimer::setTimer(std::weak_ptr<BackgroundTimerCallback> callback,
                               const std::chrono::seconds& duration) {
    std::shared_ptr<BackgroundTimerImpl> previous;
    {
        ScopedLock lock(mutex_);
        if (timer_) {
            OXL_LOG_INFO(logger(), "killing existing timer");
            previous = std::move(timer_);
        }
    }
    // The old timer is disarmed before the new one exists, so it cannot fire after this call.
    dispose(previous);
    previous.reset();
    auto timer = std::make_shared<BackgroundTimerImpl>(std::move(callback), duration);
    auto monitor = OXLSystemMonitor::SystemMonitorFactory::getInstance();
    monitor->registerAppEventObserver(timer);
    monitor->registerPowerEventObserver(timer);
    std::shared_ptr<BackgroundTimerImpl> replaced;
    {
        ScopedLock lock(mutex_);
        replaced = std::exchange(timer_, std::move(timer));
    }
    // A concurrent setTimer may have installed one meanwhile.
    dispose(replaced);
}

void BackgroundTimer::cancelTimer() {
    std::shared_ptr<BackgroundTimerImpl> timer;
    {
        ScopedLock lock(mutex_);
        timer = std::move(timer_);
    }
    if (!timer) {
        OXL_LOG_INFO(logger(), "no active timer to cancel");
        return;
    }
    OXL_LOG_INFO(logger(), "killing existing timer");
    dispose(timer);
}

bool BackgroundTimer::isSet() {
    ScopedLock lock(mutex_);
    return timer_ && !timer_->isExpired();
}

}  // namespace oxl::common

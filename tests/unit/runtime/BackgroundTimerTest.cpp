#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "TestUtil.h"
#include "oxl/common/BackgroundTimer.h"
#include "oxl/sysmon/SystemMonitor.h"
#include "support/LogCapture.h"

namespace {

using oxl::test::LogCapture;
using oxl::test::waitFor;
using OXLSystemMonitor::AppEventType;
using OXLSystemMonitor::PowerEventType;
using OXLSystemMonitor::SystemMonitorFactory;
using namespace std::chrono_literals;

class CountingCallback : public oxl::common::BackgroundTimerCallback {
  public:
    void onTimerExpired() override { ++calls; }
    std::atomic<int> calls{0};
};

// A wall clock the test moves forward, as if the machine had slept.
class ManualClock {
  public:
    std::chrono::system_clock::time_point now() const {
        std::lock_guard lock(mutex_);
        return base_ + offset_;
    }
    void advance(std::chrono::seconds s) {
        std::lock_guard lock(mutex_);
        offset_ += s;
    }

  private:
    mutable std::mutex mutex_;
    std::chrono::system_clock::time_point base_ = std::chrono::system_clock::now();
    std::chrono::seconds offset_{0};
};

class BackgroundTimerTest : public ::testing::Test {
  protected:
    void SetUp() override { SystemMonitorFactory::setInstance(nullptr); }
    void TearDown() override { SystemMonitorFactory::setInstance(nullptr); }
    std::shared_ptr<OXLSystemMonitor::SystemMonitor> monitor() { return SystemMonitorFactory::getInstance(); }
    void settle() { ASSERT_TRUE(monitor()->waitUntilIdle(20s)); }
};

TEST_F(BackgroundTimerTest, WakeEventsNotifyOnlyAfterDueTime) {
    struct Case {
        const char* name;
        bool app;
        int type;
        bool notifies;
        const char* logText;
    };
    const Case cases[] = {
        {"resumed", true, static_cast<int>(AppEventType::RESUMED), true,
         "notifying callback due to AppStateEvent: RESUMED"},
        {"background wake", true, static_cast<int>(AppEventType::WAKEUP_IN_BACKGROUND), true,
         "notifying callback due to AppStateEvent: WAKEUP_IN_BACKGROUND"},
        {"power resume", false, static_cast<int>(PowerEventType::RESUME), true,
         "notifying callback due to PowerEvent: RESUME"},
        {"entered background", true, static_cast<int>(AppEventType::ENTERED_BACKGROUND), false, nullptr},
        {"power suspend", false, static_cast<int>(PowerEventType::SUSPEND), false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture logs;
        ManualClock clock;
        auto callback = std::make_shared<CountingCallback>();
        // Long enough that the real timer never fires during the test.
        auto timer = std::make_shared<oxl::common::BackgroundTimerImpl>(callback, 3600s,
                                                                        [&clock] { return clock.now(); });
        monitor()->registerAppEventObserver(timer);
        monitor()->registerPowerEventObserver(timer);
        auto post = [&] {
            if (c.app) {
                monitor()->postAppEvent(static_cast<AppEventType>(c.type));
            } else {
                monitor()->postPowerEvent(static_cast<PowerEventType>(c.type));
            }
            settle();
        };
        clock.advance(3599s);
        post();
        EXPECT_EQ(0, callback->calls.load()) << "woke before the due time";
        EXPECT_FALSE(timer->isExpired());
        if (c.notifies) {
            EXPECT_TRUE(logs.contains(c.app ? "Duration has not elapsed onAppEvent: start time ["
                                            : "Duration has not elapsed onPowerEvent: start time ["));
        }
        clock.advance(2s);
        post();
        post();
        EXPECT_EQ(c.notifies ? 1 : 0, callback->calls.load());
        EXPECT_EQ(c.notifies, timer->isExpired());
        if (c.notifies) {
            EXPECT_EQ(1u, logs.count(c.logText));
        }
        timer->killTimer();
    }
}

TEST_F(BackgroundTimerTest, TimerFiringAfterWakeNotificationDoesNothing) {
    LogCapture logs;
    ManualClock clock;
    auto callback = std::make_shared<CountingCallback>();
    auto timer =
        std::make_shared<oxl::common::BackgroundTimerImpl>(callback, 1s, [&clock] { return clock.now(); });
    monitor()->registerAppEventObserver(timer);
    clock.advance(5s);
    monitor()->postAppEvent(AppEventType::RESUMED);
    settle();
    EXPECT_EQ(1, callback->calls.load());
    ASSERT_TRUE(waitFor([&] { return logs.contains("Timer has already expired"); }));
    EXPECT_EQ(1, callback->calls.load());
    timer->killTimer();
}

TEST_F(BackgroundTimerTest, FiresAtDueTimeAndCanBeReplacedOrCancelled) {
    LogCapture logs;
    auto callback = std::make_shared<CountingCallback>();
    oxl::common::BackgroundTimer timer;
    EXPECT_FALSE(timer.isSet());
    timer.cancelTimer();
    EXPECT_TRUE(logs.contains("no active timer to cancel"));

    timer.setTimer(callback, 1s);
    EXPECT_TRUE(timer.isSet());
    EXPECT_TRUE(logs.contains("setting timer for 1 seconds, should fire at "));
    ASSERT_TRUE(waitFor([&] { return callback->calls == 1; }));
    EXPECT_FALSE(timer.isSet());

    // Replacing and cancelling: neither the replaced nor the cancelled timer may fire.
    auto other = std::make_shared<CountingCallback>();
    timer.setTimer(other, 1s);
    timer.setTimer(other, 1s);
    EXPECT_EQ(2u, logs.count("killing existing timer"));
    timer.cancelTimer();
    EXPECT_EQ(3u, logs.count("killing existing timer"));
    EXPECT_FALSE(timer.isSet());
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(0, other->calls.load());
    EXPECT_EQ(1, callback->calls.load());
}

class TimedCallback : public oxl::common::BackgroundTimerCallback {
  public:
    void onTimerExpired() override {
        std::lock_guard lock(mutex_);
        if (calls_++ == 0) {
            firstCall_ = std::chrono::steady_clock::now();
        }
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::chrono::steady_clock::time_point firstCall() {
        std::lock_guard lock(mutex_);
        return firstCall_;
    }

  private:
    std::mutex mutex_;
    int calls_ = 0;
    std::chrono::steady_clock::time_point firstCall_;
};

TEST_F(BackgroundTimerTest, TimerLongerThanOneArmingFiresOnlyAtItsDueTime) {
    // The longest arming cut from 49.7 days to 150 ms: a one-second timer takes seven steps.
    auto callback = std::make_shared<TimedCallback>();
    const auto start = std::chrono::steady_clock::now();
    auto timer = std::make_shared<oxl::common::BackgroundTimerImpl>(
        callback, 1s, [] { return std::chrono::system_clock::now(); }, 150ms);
    ASSERT_TRUE(waitFor([&] { return callback->calls() == 1; }));
    EXPECT_GE(callback->firstCall() - start, 1s) << "fired before its due time";
    EXPECT_TRUE(timer->isExpired());
    std::this_thread::sleep_for(400ms);  // more steps pass
    EXPECT_EQ(1, callback->calls());
    timer->killTimer();
}

TEST_F(BackgroundTimerTest, ZeroDurationIsNeverArmedButExpiresOnWake) {
    LogCapture logs;
    auto callback = std::make_shared<CountingCallback>();
    oxl::common::BackgroundTimer timer;
    timer.setTimer(callback, 0s);
    EXPECT_TRUE(logs.contains("duration of timer cannot be 0"));
    EXPECT_TRUE(timer.isSet());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(0, callback->calls.load());
    monitor()->postAppEvent(AppEventType::WAKEUP_IN_BACKGROUND);
    settle();
    EXPECT_EQ(1, callback->calls.load());
    EXPECT_FALSE(timer.isSet());
}

TEST_F(BackgroundTimerTest, CallbackGoneIsLoggedInsteadOfCalled) {
    LogCapture logs;
    oxl::common::BackgroundTimer timer;
    {
        auto callback = std::make_shared<CountingCallback>();
        timer.setTimer(callback, 1s);
    }
    ASSERT_TRUE(waitFor([&] {
        return logs.contains("failed to get strong reference for callback, cannot notify callback");
    }));
    EXPECT_FALSE(timer.isSet());
}

// Re-arms its own timer from inside the notification, as a refresh loop does.
class RearmingCallback : public oxl::common::BackgroundTimerCallback,
                         public std::enable_shared_from_this<RearmingCallback> {
  public:
    explicit RearmingCallback(oxl::common::BackgroundTimer& timer) : timer_(timer) {}
    void onTimerExpired() override {
        if (++calls < 2) {
            timer_.setTimer(weak_from_this(), std::chrono::seconds(1));
        }
    }
    std::atomic<int> calls{0};

  private:
    oxl::common::BackgroundTimer& timer_;
};

TEST_F(BackgroundTimerTest, CallbackMayRearmItsTimer) {
    oxl::common::BackgroundTimer timer;
    auto callback = std::make_shared<RearmingCallback>(timer);
    timer.setTimer(callback, 1s);
    ASSERT_TRUE(waitFor([&] { return callback->calls == 2; }));
    EXPECT_FALSE(timer.isSet());
    // Also from the monitor's thread.
    timer.setTimer(callback, 0s);
    callback->calls = 0;
    monitor()->postPowerEvent(PowerEventType::RESUME);
    settle();
    EXPECT_EQ(1, callback->calls.load());
    EXPECT_TRUE(timer.isSet()) << "re-armed for one second";
    timer.cancelTimer();
}

class RecordingObserver : public OXLSystemMonitor::AppEventObserver,
                          public OXLSystemMonitor::PowerEventObserver {
  public:
    explicit RecordingObserver(int tag, std::vector<int>& log, std::mutex& mutex)
        : tag_(tag), log_(log), mutex_(mutex) {}
    void onAppEvent(AppEventType type) override { record(static_cast<int>(type)); }
    void onPowerEvent(PowerEventType type) override { record(100 + static_cast<int>(type)); }

  private:
    void record(int value) {
        std::lock_guard lock(mutex_);
        log_.push_back(tag_ * 1000 + value);
    }
    int tag_;
    std::vector<int>& log_;
    std::mutex& mutex_;
};

TEST_F(BackgroundTimerTest, MonitorDeliversInOrderToLiveRegisteredObservers) {
    std::vector<int> log;
    std::mutex mutex;
    auto first = std::make_shared<RecordingObserver>(1, log, mutex);
    auto second = std::make_shared<RecordingObserver>(2, log, mutex);
    auto gone = std::make_shared<RecordingObserver>(3, log, mutex);
    monitor()->registerAppEventObserver(first);
    monitor()->registerAppEventObserver(first);  // no duplicate delivery
    monitor()->registerPowerEventObserver(first);
    monitor()->registerAppEventObserver(second);
    monitor()->registerAppEventObserver(gone);
    gone.reset();

    std::vector<int> expected;
    for (int i = 0; i < 20; ++i) {
        if (i % 2 == 0) {
            monitor()->postAppEvent(AppEventType::RESUMED);
            expected.insert(expected.end(), {1001, 2001});
        } else {
            monitor()->postPowerEvent(PowerEventType::SUSPEND);
            expected.push_back(1101);
        }
    }
    settle();
    monitor()->deregisterAppEventObserver(first.get());
    monitor()->postAppEvent(AppEventType::WAKEUP_IN_BACKGROUND);
    monitor()->postPowerEvent(PowerEventType::RESUME);
    expected.insert(expected.end(), {2002, 1102});
    settle();
    std::lock_guard lock(mutex);
    EXPECT_EQ(expected, log);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "TestUtil.h"
#include "oxl/runtime/Event.h"
#include "oxl/runtime/Timer.h"

namespace {

using oxl::test::pointerText;
using oxl::test::StderrCapture;
using oxl::test::waitFor;
using namespace std::chrono_literals;

// Counts calls and concurrency; optionally blocks each call until released.
class ProbeTimer : public oxl::Timer {
  public:
    explicit ProbeTimer(bool block = false) : block_(block) {}
    ~ProbeTimer() override { killTimer(); }

    void onTimer() override {
        const int now = ++running;
        int seen = maxRunning.load();
        while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
        }
        ++calls;
        entered.set();
        if (block_) {
            release.wait();
        }
        --running;
        returned = true;
    }

    std::atomic<int> calls{0};
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    std::atomic<bool> returned{false};
    oxl::Event entered{true};
    oxl::Event release{false};

  private:
    bool block_;
};

TEST(TimerTest, SetTimerRejectsZeroPeriodAndDoubleArming) {
    StderrCapture err;
    ProbeTimer timer;
    const std::string invalid = "Timer::setTimer: " + pointerText(&timer) + ": invalid period 0 ms\n";

    EXPECT_EQ(-1, timer.setTimer(0));
    EXPECT_EQ(1u, err.count(invalid));
    EXPECT_FALSE(timer.isSet());

    ASSERT_EQ(0, timer.setTimer(60000));
    EXPECT_TRUE(timer.isSet());
    const std::string before = err.text();
    EXPECT_EQ(-1, timer.setTimer(60000));
    EXPECT_EQ(-1, timer.setTimer(10, true));
    EXPECT_EQ(before, err.text()) << "re-arming a set timer must fail silently";
    timer.killTimer();
    EXPECT_FALSE(timer.isSet());
    EXPECT_EQ(0, timer.calls.load());
}

TEST(TimerTest, OneShotFiresOnceAndStaysSetUntilKilled) {
    ProbeTimer timer;
    ASSERT_EQ(0, timer.setTimer(20));
    ASSERT_TRUE(waitFor([&] { return timer.calls == 1; }));
    // A fired one-shot keeps its id: it cannot be armed again before killTimer().
    EXPECT_TRUE(timer.isSet());
    EXPECT_EQ(-1, timer.setTimer(20));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(1, timer.calls.load());
    timer.killTimer();
}

TEST(TimerTest, KilledTimerCanBeSetButEveryFiringIsSkipped) {
    StderrCapture err;
    ProbeTimer timer;
    timer.killTimer();
    ASSERT_EQ(0, timer.setTimer(10, true));
    const std::string skipped =
        "Timer::callback: Timer " + pointerText(&timer) + " skipped (failed to acquire reference)\n";
    ASSERT_TRUE(waitFor([&] { return err.count(skipped) >= 2; }));
    timer.killTimer();
    EXPECT_EQ(0, timer.calls.load());
}

TEST(TimerTest, OverlappingPeriodicFiringsAreSkippedWhileCallbackRuns) {
    StderrCapture err;
    ProbeTimer timer(true);
    const std::string skipped =
        "Timer::callback: Timer " + pointerText(&timer) + " skipped (failed to acquire reference)\n";
    ASSERT_EQ(0, timer.setTimer(10, true));
    ASSERT_TRUE(timer.entered.wait(20000));
    ASSERT_TRUE(waitFor([&] { return err.count(skipped) >= 3; }));
    EXPECT_EQ(1, timer.calls.load());
    EXPECT_EQ(1, timer.maxRunning.load());
    timer.release.set();
    // Firings resume once the long call has returned.
    ASSERT_TRUE(waitFor([&] { return timer.calls >= 2; }));
    timer.killTimer();
    const int afterKill = timer.calls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(afterKill, timer.calls.load()) << "no onTimer() may start after killTimer() returned";
    EXPECT_EQ(1, timer.maxRunning.load());
}

TEST(TimerTest, KillTimerFromAnotherThreadReturnsOnlyAfterCallback) {
    ProbeTimer timer(true);
    ASSERT_EQ(0, timer.setTimer(5));
    ASSERT_TRUE(timer.entered.wait(20000));

    std::atomic<bool> killReturned{false};
    std::atomic<bool> callbackDoneAtKillReturn{false};
    std::thread killer([&] {
        timer.killTimer();
        callbackDoneAtKillReturn = timer.returned.load();
        killReturned = true;
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(killReturned.load()) << "killTimer() returned while onTimer() was still running";
    timer.release.set();
    killer.join();
    EXPECT_TRUE(callbackDoneAtKillReturn.load());
    EXPECT_FALSE(timer.isSet());
}

TEST(TimerTest, SlowCallbackDoesNotDelayAnotherTimer) {
    ProbeTimer slow(true);
    ProbeTimer quick;
    ASSERT_EQ(0, slow.setTimer(5));
    ASSERT_TRUE(slow.entered.wait(20000));
    ASSERT_EQ(0, quick.setTimer(30, true));
    EXPECT_TRUE(waitFor([&] { return quick.calls >= 3; }));
    EXPECT_FALSE(slow.returned.load()) << "the quick timer only ran after the slow callback";
    slow.release.set();
    slow.killTimer();
    quick.killTimer();
}

// Blocks in onTimer() until released, then uses the timer service (arms or kills another timer).
class ChainingTimer : public oxl::Timer {
  public:
    explicit ChainingTimer(std::function<void()> action) : action_(std::move(action)) {}
    void onTimer() override {
        entered.set();
        release.wait();
        action_();
    }
    oxl::Event entered{true};
    oxl::Event release{false};

  private:
    std::function<void()> action_;
};

TEST(TimerTest, KillWaitingForACallbackLetsThatCallbackUseOtherTimers) {
    struct Case {
        const char* name;
        bool armOtherFirst;
        void (*action)(ProbeTimer& other);
    };
    const Case cases[] = {
        {"callback arms another timer", false, [](ProbeTimer& other) { other.setTimer(60000); }},
        {"callback kills another timer", true, [](ProbeTimer& other) { other.killTimer(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Heap objects, left behind on a deadlock: the blocked threads still refer to them.
        auto* other = new ProbeTimer();
        if (c.armOtherFirst) {
            ASSERT_EQ(0, other->setTimer(60000));
        }
        auto* timer = new ChainingTimer([other, action = c.action] { action(*other); });
        ASSERT_EQ(0, timer->setTimer(5));
        ASSERT_TRUE(timer->entered.wait(20000));
        auto killed = oxl::test::runDetached([timer] { timer->killTimer(); });
        std::this_thread::sleep_for(100ms);  // the kill is now waiting for the running callback
        timer->release.set();
        ASSERT_EQ(std::future_status::ready, killed.wait_for(20s))
            << "killTimer() and the callback deadlocked";
        EXPECT_FALSE(timer->isSet());
        other->killTimer();
        delete timer;
        delete other;
    }
}

// Kills and destroys itself from inside its own onTimer().
class SelfDestroyingTimer : public oxl::Timer {
  public:
    SelfDestroyingTimer(std::unique_ptr<SelfDestroyingTimer>& holder, std::atomic<bool>& done)
        : holder_(holder), done_(done) {}
    void onTimer() override {
        killTimer();
        std::atomic<bool>& done = done_;
        holder_.reset();  // destroys this object
        done = true;
    }

  private:
    std::unique_ptr<SelfDestroyingTimer>& holder_;
    std::atomic<bool>& done_;
};

TEST(TimerTest, TimerMayKillAndDestroyItselfInsideOnTimer) {
    std::atomic<bool> done{false};
    std::unique_ptr<SelfDestroyingTimer> holder;
    holder = std::make_unique<SelfDestroyingTimer>(holder, done);
    ASSERT_EQ(0, holder->setTimer(10, true));
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    // Later firings of the removed id must not touch the destroyed object.
    std::this_thread::sleep_for(100ms);
}

TEST(TimerDeathTest, DestroyingArmedTimerAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            struct Plain : oxl::Timer {
                void onTimer() override {}
            };
            auto timer = std::make_unique<Plain>();
            timer->setTimer(60000);
            timer.reset();
        },
        "Timer::~Timer: Timer 0x[0-9a-f]+: missing killTimer\\(\\) call");
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "oxl/common/Waiter.h"
#include "oxl/runtime/Event.h"
#include "oxl/runtime/Thread.h"

namespace {

using oxl::test::waitFor;
using namespace std::chrono_literals;

TEST(EventTest, AutoAndManualResetRelease) {
    struct Case {
        bool autoReset;
        int expectedReleasedBySingleSet;
        bool resetResult;
    };
    for (const Case c : {Case{true, 1, false}, Case{false, 3, true}}) {
        SCOPED_TRACE(c.autoReset ? "auto" : "manual");
        oxl::Event event(c.autoReset);
        std::atomic<int> released{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] {
                if (event.wait(3000)) {
                    ++released;
                }
            });
        }
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(event.set());
        for (auto& t : waiters) {
            t.join();
        }
        EXPECT_EQ(c.expectedReleasedBySingleSet, released.load());
        EXPECT_EQ(c.resetResult, event.reset());
        EXPECT_FALSE(event.wait(0)) << "no signal left after the waiters (or reset) consumed it";
    }
}

TEST(EventTest, TimedWaitEdges) {
    oxl::Event event(true);
    event.set();
    EXPECT_FALSE(event.wait(-1)) << "a negative timeout fails at once even when set";
    EXPECT_TRUE(event.wait(0)) << "the failed wait left the signal in place";
    EXPECT_FALSE(event.wait(20));
    event.set();
    event.set();  // setting twice is still one signal
    EXPECT_TRUE(event.wait());
    EXPECT_FALSE(event.wait(0));
}

TEST(EventTest, HugeTimeoutsWaitForTheSignal) {
    // Anything past the clock's range (about 292 years) must mean "wait", not "already expired".
    struct Shared {
        oxl::Event event{true};
        oxl::Mutex mutex;
        oxl::Condition condition;
        bool notified = false;
    };
    for (const long timeoutMs : {LONG_MAX, LONG_MAX / 2, 9300000000000L, 2147483648L}) {
        SCOPED_TRACE(timeoutMs);
        auto shared = std::make_shared<Shared>();
        auto waited =
            oxl::test::runDetached([shared, timeoutMs] { EXPECT_TRUE(shared->event.wait(timeoutMs)); });
        EXPECT_EQ(std::future_status::timeout, waited.wait_for(150ms)) << "returned without the signal";
        shared->event.set();
        ASSERT_EQ(std::future_status::ready, waited.wait_for(20s));

        auto conditionWaited = oxl::test::runDetached([shared, timeoutMs] {
            oxl::ScopedLock lock(shared->mutex);
            while (!shared->notified) {
                ASSERT_EQ(0, shared->condition.wait(shared->mutex, timeoutMs)) << "timed out at once";
            }
        });
        EXPECT_EQ(std::future_status::timeout, conditionWaited.wait_for(150ms));
        {
            oxl::ScopedLock lock(shared->mutex);
            shared->notified = true;
            shared->condition.notifyAll();
        }
        ASSERT_EQ(std::future_status::ready, conditionWaited.wait_for(20s));
    }
}

class NameProbe : public oxl::Runnable {
  public:
    void run() override {
        name = oxl::Thread::getCurrentThreadName();
        gate.wait();
    }
    std::string name;
    oxl::Event gate{false};
};

TEST(ThreadTest, StartJoinAndNaming) {
    oxl::Thread never("never");
    EXPECT_EQ(-1, never.join());
    EXPECT_FALSE(never.isRunning());

    NameProbe probe;
    oxl::Thread thread("a-very-long-thread-name", 256 * 1024);
    ASSERT_EQ(0, thread.start(&probe));
    EXPECT_TRUE(thread.isRunning());
    EXPECT_NE(0, thread.start(&probe)) << "a second start while attached must fail";
    probe.gate.set();
    EXPECT_EQ(0, thread.join());
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ("a-very-long-thr", probe.name);
    EXPECT_EQ(-1, thread.join());

    // The same Thread object can run again once joined.
    NameProbe again;
    again.gate.set();
    ASSERT_EQ(0, thread.start(&again));
    EXPECT_EQ(0, thread.join());
}

class SelfJoin : public oxl::Runnable {
  public:
    void run() override { result = thread->join(); }
    oxl::Thread* thread = nullptr;
    int result = 0;
};

TEST(ThreadTest, JoinFromOwnThreadFailsInsteadOfHanging) {
    SelfJoin self;
    oxl::Thread thread("selfjoin");
    self.thread = &thread;
    ASSERT_EQ(0, thread.start(&self));
    ASSERT_TRUE(waitFor([&] { return !thread.isRunning(); }));
    EXPECT_EQ(0, thread.join());
    EXPECT_EQ(1, self.result);
}

// Destroys the Thread that runs it, as the last owner of a reactor dropped inside its handler does.
class DestroysItsThread : public oxl::Runnable {
  public:
    void run() override {
        thread.reset();
        destroyed.set();
    }
    std::unique_ptr<oxl::Thread> thread;
    oxl::Event destroyed{false};
};

TEST(ThreadTest, ThreadDestroyedByItsOwnRunnableIsDetachedAndNotTouchedAgain) {
    auto runnable = std::make_shared<DestroysItsThread>();
    runnable->thread = std::make_unique<oxl::Thread>("selfdestroying");
    ASSERT_EQ(0, runnable->thread->start(runnable.get()));
    ASSERT_TRUE(runnable->destroyed.wait(20000));
    // Detached rather than joined: the system thread ends on its own.
    EXPECT_TRUE(waitFor([] { return oxl::test::countThreadsNamed("selfdestroying") == 0; }));
}

TEST(WaiterTest, CountsStepsUntilExpired) {
    struct Case {
        unsigned int seconds;
        unsigned int stepMs;
        unsigned int waitsUntilExpired;
    };
    for (const Case c : {Case{0, 200, 0}, Case{1, 250, 4}, Case{1, 300, 4}}) {
        SCOPED_TRACE(std::to_string(c.seconds) + "s/" + std::to_string(c.stepMs) + "ms");
        oxl::common::Waiter waiter(c.seconds, c.stepMs);
        unsigned int waits = 0;
        while (!waiter.isExpired() && waits < 100) {
            const auto start = std::chrono::steady_clock::now();
            waiter.wait();
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.stepMs));
            ++waits;
        }
        EXPECT_EQ(c.waitsUntilExpired, waits);
        const auto start = std::chrono::steady_clock::now();
        waiter.wait();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.stepMs))
            << "an expired waiter returns at once";
        EXPECT_EQ(c.waitsUntilExpired, waiter.getWaitCount());
    }
}

}  // namespace

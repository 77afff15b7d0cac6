#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "oxl/common/Reactor.h"
#include "oxl/runtime/Event.h"
#include "support/LogCapture.h"

namespace {

using oxl::test::LogCapture;
using oxl::test::waitFor;

std::atomic<int> liveEvents{0};

std::string labelFor(int i) {
    std::string label = "e";
    label += std::to_string(i);
    return label;
}

class LabelEvent : public oxl::common::Reactor::Event {
  public:
    explicit LabelEvent(std::string label, oxl::Event* gate = nullptr) : label(std::move(label)), gate(gate) {
        ++liveEvents;
    }
    ~LabelEvent() override { --liveEvents; }
    std::string toString() const override { return label; }
    std::string label;
    oxl::Event* gate;
};

class OtherEvent : public oxl::common::Reactor::Event {
  public:
    OtherEvent() { ++liveEvents; }
    ~OtherEvent() override { --liveEvents; }
    std::string toString() const override { return "other"; }
};

// Runs its action inside the handler.
class ActionEvent : public oxl::common::Reactor::Event {
  public:
    explicit ActionEvent(std::function<void()> action) : action(std::move(action)) { ++liveEvents; }
    ~ActionEvent() override { --liveEvents; }
    std::string toString() const override { return "action"; }
    std::function<void()> action;
};

class RecordingReactor : public oxl::common::Reactor {
  public:
    explicit RecordingReactor(const std::string& name = "TestReactor") : Reactor(name) {}
    ~RecordingReactor() override { stop(); }

    void start() { startServingThread(); }
    void enqueue(const Event* e) { enqueueBase(e); }
    int drop() { return dropPendingEvents(); }

    std::vector<std::string> processed() {
        std::lock_guard lock(mutex_);
        return processed_;
    }
    std::vector<std::string> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

  protected:
    void processEvent(const Event* event) override {
        std::unique_ptr<const Event> owned(event);
        if (const auto* action = dynamic_cast<const ActionEvent*>(event)) {
            {
                std::lock_guard lock(mutex_);
                processed_.push_back("action");
            }
            // The action may destroy this reactor: nothing of it is used afterwards.
            action->action();
            return;
        }
        const auto* label = dynamic_cast<const LabelEvent*>(event);
        if (label && label->gate) {
            entered.set();
            label->gate->wait();
        }
        std::lock_guard lock(mutex_);
        std::string text = label ? label->label : std::string("?");
        if (!label) {
            text.append(event->toString());
        }
        processed_.push_back(std::move(text));
        threads_.push_back(oxl::Thread::getCurrentThreadName());
    }

  public:
    oxl::Event entered{true};

  private:
    std::mutex mutex_;
    std::vector<std::string> processed_;
    std::vector<std::string> threads_;
};

TEST(ReactorTest, ProcessesEventsInOrderOnItsOwnThread) {
    LogCapture logs;
    {
        RecordingReactor reactor;
        // Events queued before the thread starts are kept and processed once it runs.
        reactor.enqueue(new LabelEvent("e0"));
        reactor.start();
        std::vector<std::string> expected{"e0"};
        for (int i = 1; i < 50; ++i) {
            if (i % 10 == 0) {
                reactor.enqueue(new OtherEvent());
                expected.push_back("?other");
            } else {
                reactor.enqueue(new LabelEvent(labelFor(i)));
                expected.push_back(labelFor(i));
            }
        }
        ASSERT_TRUE(waitFor([&] { return reactor.getCountEventsProcessed() == 50; }));
        EXPECT_EQ(expected, reactor.processed());
        for (const auto& name : reactor.threads()) {
            EXPECT_EQ("TestReactor", name);
        }
        EXPECT_TRUE(reactor.isProcessingEvents());
        std::ostringstream os;
        os << reactor;
        EXPECT_NE(std::string::npos, os.str().find(", countEventsEnqueued:50"));
        EXPECT_NE(std::string::npos, os.str().find("countEventsDequeued:50"));
        reactor.stop();
        EXPECT_FALSE(reactor.isProcessingEvents());
    }
    EXPECT_TRUE(logs.contains("Reactor entering event loop in thread TestReactor", "oxl.common"));
    EXPECT_EQ(1u, logs.count("Reactor event loop has exited"));
    EXPECT_EQ(0, liveEvents.load());
}

TEST(ReactorTest, StopTwiceAndEventsAfterStopAreNeverProcessed) {
    LogCapture logs;
    {
        RecordingReactor reactor;
        reactor.start();
        oxl::Event gate(false);
        reactor.enqueue(new LabelEvent("blocker", &gate));
        ASSERT_TRUE(reactor.entered.wait(20000));
        // Queued while the loop is busy, then stopped: the loop must not dequeue these.
        reactor.enqueue(new LabelEvent("pending1"));
        reactor.enqueue(new LabelEvent("pending2"));
        std::thread stopper([&] { reactor.stop(); });
        ASSERT_TRUE(waitFor([&] { return logs.contains("Reactor will stop"); }));
        gate.set();
        stopper.join();
        EXPECT_TRUE(logs.contains("Reactor has stopped"));

        reactor.enqueue(new LabelEvent("late"));
        reactor.stop();
        EXPECT_EQ(1u, logs.count("Reactor is already stopped"));
        EXPECT_EQ(std::vector<std::string>{"blocker"}, reactor.processed());
        EXPECT_EQ(1, reactor.getCountEventsDequeued());
        EXPECT_EQ(1, reactor.getCountEventsProcessed());
        EXPECT_EQ(4, reactor.getCountEventsEnqueued());
        EXPECT_EQ(2, reactor.drop()) << "only the two pending events are still held; the late one is gone";
    }
    EXPECT_EQ(0, liveEvents.load()) << "unprocessed events leaked";
}

TEST(ReactorTest, StopFromItsOwnHandlerTakesEffectAfterThatEvent) {
    LogCapture logs;
    RecordingReactor reactor;
    reactor.start();
    oxl::Event gate(false);
    bool stoppedLoggedInHandler = true;
    reactor.enqueue(new ActionEvent([&] {
        gate.wait();
        reactor.stop();
        stoppedLoggedInHandler = logs.contains("Reactor has stopped");
    }));
    reactor.enqueue(new LabelEvent("queued before the stop"));
    gate.set();
    ASSERT_TRUE(waitFor([&] { return logs.contains("Reactor event loop has exited"); }));
    EXPECT_FALSE(stoppedLoggedInHandler) << "reported stopped while its own handler was still running";
    EXPECT_EQ(std::vector<std::string>{"action"}, reactor.processed());
    reactor.stop();
    EXPECT_EQ(1u, logs.count("Reactor has stopped"));
    EXPECT_EQ(0u, oxl::test::countThreadsNamed("TestReactor"));
}

TEST(ReactorTest, LastOwnerMayDropTheReactorInsideItsHandler) {
    LogCapture logs;
    auto owner = std::make_shared<RecordingReactor>("DroppedReactor");
    owner->start();
    oxl::Event gate(false);
    oxl::Event dropped(false);
    bool stoppedLoggedInHandler = true;
    owner->enqueue(new ActionEvent([&] {
        gate.wait();
        owner.reset();  // destroys the reactor on its own thread
        stoppedLoggedInHandler = logs.contains("Reactor has stopped");
        dropped.set();
    }));
    owner->enqueue(new LabelEvent("never processed"));
    gate.set();
    ASSERT_TRUE(dropped.wait(20000));
    EXPECT_FALSE(stoppedLoggedInHandler);
    EXPECT_TRUE(waitFor([] { return oxl::test::countThreadsNamed("DroppedReactor") == 0; }));
    EXPECT_TRUE(waitFor([] { return liveEvents.load() == 0; })) << "queued or handled events leaked";
    EXPECT_TRUE(logs.contains("Reactor event loop has exited"));
}

}  // namespace

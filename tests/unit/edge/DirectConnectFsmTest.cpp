#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>

#include "EdgeTestSupport.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using Clock = std::chrono::steady_clock;
using test::RecordingConnectivityObserver;
using test::waitFor;

// Answers from a script (the last answer repeats) and remembers when it was asked.
class ScriptedAnswers {
  public:
    explicit ScriptedAnswers(std::deque<bool> answers) : answers_(std::move(answers)) {}
    bool next() {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(Clock::now());
        const bool answer = answers_.front();
        if (answers_.size() > 1) {
            answers_.pop_front();
        }
        return answer;
    }
    void set(std::deque<bool> answers) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_ = std::move(answers);
    }
    size_t calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_.size();
    }
    std::vector<Clock::time_point> times() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<bool> answers_;
    std::vector<Clock::time_point> times_;
};

class MockInternalTester : public InternalNetworkVisibilityTester {
  public:
    MockInternalTester()
        : InternalNetworkVisibilityTester(
              "corp.test", {},
              std::make_shared<EnterpriseNetworkSensor>(EnterpriseNetworkSensorStrategy::ASSUME_NOT_VISIBLE,
                                                        "corp.test")) {}
    bool test() override { return answers.next(); }
    ServiceRecord getInternalServiceRecord() const override {
        return ServiceRecord("_pelko-zds", {TcpEndpoint("pool.corp.test", 5061)});
    }
    ScriptedAnswers answers{{false}};
};

class MockDirectTester : public NetworkTester {
  public:
    bool test() override { return answers.next(); }
    ScriptedAnswers answers{{true}};
};

class MockEdgeSensor : public BriselEdgeServiceSensor {
  public:
    MockEdgeSensor()
        : BriselEdgeServiceSensor(BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD, "corp.test") {}
    bool evaluate(Output out) const override {
        {
            // While closed, the event thread waits here.
            std::unique_lock<std::mutex> lock(gateMutex_);
            waiting_ = closed_;
            gate_.notify_all();
            gate_.wait(lock, [&] { return !closed_; });
            waiting_ = false;
        }
        if (!visible) {
            return false;
        }
        *out++ = EdgeServiceRecordData("edge.corp.test", 443);
        return true;
    }
    void close() {
        std::lock_guard<std::mutex> lock(gateMutex_);
        closed_ = true;
    }
    bool waitUntilHolding() {
        std::unique_lock<std::mutex> lock(gateMutex_);
        return gate_.wait_for(lock, std::chrono::seconds(10), [&] { return waiting_; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(gateMutex_);
        closed_ = false;
        gate_.notify_all();
    }
    std::atomic<bool> visible{true};

  private:
    mutable std::mutex gateMutex_;
    mutable std::condition_variable gate_;
    bool closed_ = false;
    mutable bool waiting_ = false;
};

class DirectConnectFsmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        controller = EdgeTransitionDetectionControllerImpl::build();
        controller->setIpInterfaceChangeMonitorEnabled(false);
        controller->setMockInternalNetworkVisibilityTester(internal);
        controller->setMockDirectConnectivityTester(direct);
        controller->setMockEdgeServiceSensor(edge);
        controller->setPollingSchedule(50, 40, 400);
        controller->registerInternalConnectivityObserver(observer);
        controller->start();
        parameters.confirmingDelayBetweenTestsMsec = 20;
    }
    void TearDown() override { controller->stop(); }

    void send(std::unique_ptr<ControllerEvent> event) { controller->enqueueEvent(std::move(event)); }
    // Every queued event (including those queued by timers so far) has been handled.
    void settle() {
        ASSERT_TRUE(waitFor(
            [&] { return controller->getCountEventsProcessed() == controller->getCountEventsEnqueued(); }));
    }
    void startPolling() {
        send(EdgeTransitionDetectionController::createStartPollingFromOutsideEvent(parameters));
        settle();
        ASSERT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Polling");
    }
    void startMonitoring() {
        send(EdgeTransitionDetectionController::createStartMonitoringFromInsideEvent(parameters));
        settle();
        ASSERT_EQ(controller->getDetectDirectConnectUnavailableFsmState(), "Monitoring");
    }

    std::shared_ptr<EdgeTransitionDetectionControllerImpl> controller;
    std::shared_ptr<MockInternalTester> internal = std::make_shared<MockInternalTester>();
    std::shared_ptr<MockDirectTester> direct = std::make_shared<MockDirectTester>();
    std::shared_ptr<MockEdgeSensor> edge = std::make_shared<MockEdgeSensor>();
    std::shared_ptr<RecordingConnectivityObserver> observer =
        std::make_shared<RecordingConnectivityObserver>();
    DetectionParameters parameters;
};

TEST_F(DirectConnectFsmTest, OutsideThreeSuccessfulTestsReportDirectConnectivityOnce) {
    startPolling();
    internal->answers.set({true});
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent());
    ASSERT_TRUE(waitFor([&] { return observer->count("InternalAvailable") == 1; }));
    settle();
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Idle");
    EXPECT_EQ(direct->answers.calls(), 3u);
    EXPECT_EQ(observer->operations(),
              (std::vector<std::string>{"EdgeAvailable", "Confirming", "InternalAvailable"}));
    const auto calls = observer->calls();
    EXPECT_EQ(calls[0].eventName, "StartPolling");
    EXPECT_EQ(calls[0].edgeRecords, (std::vector<EdgeServiceRecordData>{{"edge.corp.test", 443}}));
    EXPECT_EQ(calls[1].eventName, "IpInterfaceChanged");
    EXPECT_EQ(calls[2].record, internal->getInternalServiceRecord());
    EXPECT_LT(calls[0].seq, calls[1].seq);
    EXPECT_LT(calls[1].seq, calls[2].seq);
    const auto stats = controller->getDetectDirectConnectAvailableFsmStatistics();
    EXPECT_EQ(stats.countConfirmingStateEntered, 1u);
    EXPECT_EQ(stats.countDirectConnectAvailableNotified, 1u);
    EXPECT_EQ(stats.countIdleStateEntered, 1u);
    // Idle ignores further polling inputs.
    send(EdgeTransitionDetectionController::createApplicationWakeupEvent());
    settle();
    EXPECT_EQ(internal->answers.calls(), 1u);
}

TEST_F(DirectConnectFsmTest, OutsideFailedConfirmationReturnsToPollingAndRetestsEdge) {
    startPolling();
    internal->answers.set({true});
    direct->answers.set({true, false});
    send(EdgeTransitionDetectionController::createApplicationWakeupEvent());
    ASSERT_TRUE(waitFor([&] { return observer->count("EdgeAvailable") == 2; }));
    settle();
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Polling");
    EXPECT_EQ(direct->answers.calls(), 2u);
    EXPECT_EQ(observer->count("InternalAvailable"), 0u);
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmStatistics().countPollingStateEntered, 2u);
}

TEST_F(DirectConnectFsmTest, OutsideNetworkActivityRespectsQuietPeriodButInterfaceChangeAlwaysProbes) {
    startPolling();
    send(EdgeTransitionDetectionController::createNetworkActivityEvent());
    settle();
    EXPECT_EQ(internal->answers.calls(), 1u) << "the first probe after entering Polling is never quiet";
    oxl::test::LogCapture log;
    send(EdgeTransitionDetectionController::createNetworkActivityEvent());
    settle();
    EXPECT_EQ(internal->answers.calls(), 1u);
    EXPECT_TRUE(
        log.contains("not probing network, in a quiet period of 60 seconds, with 0 seconds elapsed."));
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent());
    settle();
    EXPECT_EQ(internal->answers.calls(), 2u);
}

TEST_F(DirectConnectFsmTest, OutsideRetryScheduleRunsForItsWindowAfterAnInterfaceChange) {
    startPolling();
    oxl::test::LogCapture log;
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent());
    ASSERT_TRUE(waitFor([&] { return log.contains("quitting retry schedule"); }));
    settle();
    const size_t probes = internal->answers.calls();
    // One probe for the change, then one per 40 ms period during the 400 ms window.
    EXPECT_GE(probes, 4u);
    EXPECT_LE(probes, 13u);
    EXPECT_TRUE(log.contains("starting retry schedule."));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    settle();
    EXPECT_EQ(internal->answers.calls(), probes) << "no probe after the schedule ended";
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Polling");
}

TEST_F(DirectConnectFsmTest, OutsideWithoutEdgeRetriesOnceAfterEnteringPolling) {
    edge->visible = false;
    startPolling();
    ASSERT_TRUE(waitFor([&] { return observer->count("EdgeUnavailable") == 2; }));
    settle();
    EXPECT_EQ(internal->answers.calls(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    settle();
    EXPECT_EQ(internal->answers.calls(), 1u) << "a single retry";
    EXPECT_EQ(observer->count("EdgeUnavailable"), 2u);
}

TEST_F(DirectConnectFsmTest, ConfirmingIgnoresPollRetryTimer) {
    parameters.confirmingDelayBetweenTestsMsec = 60000;
    startPolling();
    internal->answers.set({true});
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent());
    ASSERT_TRUE(waitFor([&] { return direct->answers.calls() == 1; }));
    settle();
    ASSERT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Confirming");
    oxl::test::LogCapture log;
    send(EdgeTransitionDetectionController::createTimerExpiryEvent("SchedulePollRetry"));
    settle();
    EXPECT_TRUE(log.contains("Ignoring TimerExpiryEvent with timerid SchedulePollRetry"));
    EXPECT_EQ(direct->answers.calls(), 1u);
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Confirming");
}

TEST_F(DirectConnectFsmTest, InsideSensingOutcomes) {
    parameters.monitoringQuietPeriodSec = 10;
    startMonitoring();
    internal->answers.set({true});
    send(EdgeTransitionDetectionController::createHintNetworkInterfaceDroppedEvent());
    settle();
    EXPECT_EQ(observer->operations(), std::vector<std::string>{"InternalAvailable"});
    EXPECT_EQ(controller->getDetectDirectConnectUnavailableFsmState(), "Monitoring");

    // Within the quiet period a dropped-interface hint does not probe; an interface change does.
    send(EdgeTransitionDetectionController::createHintNetworkInterfaceDroppedEvent());
    settle();
    EXPECT_EQ(internal->answers.calls(), 1u);

    internal->answers.set({false});
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent());
    settle();
    EXPECT_EQ(observer->operations(),
              (std::vector<std::string>{"InternalAvailable", "InternalUnavailableEdgeAvailable"}));
    EXPECT_EQ(observer->calls().back().edgeRecords,
              (std::vector<EdgeServiceRecordData>{{"edge.corp.test", 443}}));
    EXPECT_EQ(controller->getDetectDirectConnectUnavailableFsmState(), "Idle");

    edge->visible = false;
    startMonitoring();
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent());
    settle();
    EXPECT_EQ(observer->operations().back(), "BothUnavailable");
    const auto stats = controller->getDetectDirectConnectUnavailableFsmStatistics();
    EXPECT_EQ(stats.countMonitoringStateEntered, 2u);
    EXPECT_EQ(stats.countDirectAndEdgeConnectUnavailableNotified, 1u);
}

TEST_F(DirectConnectFsmTest, InsideStackNotReadyHintsDelaySensingUpToTheLimit) {
    controller->setDelayedSensingDelayForTestOnly(150, 600, 10);
    internal->answers.set({true});
    startMonitoring();

    // One hint: sensing once, after the delay.
    const auto first = Clock::now();
    send(EdgeTransitionDetectionController::createHintNetworkStackNotReadyEvent());
    ASSERT_TRUE(waitFor([&] { return internal->answers.calls() == 1; }));
    // Never before the delay less its tolerance.
    EXPECT_GE(internal->answers.times()[0] - first, std::chrono::milliseconds(139));

    // Hints every 50 ms for 1.5 s keep pushing the deadline, but sensing happens at the limit, well before
    // the hints stop.
    const auto start = Clock::now();
    Clock::time_point lastHint;
    while (Clock::now() - start < std::chrono::milliseconds(1500)) {
        lastHint = Clock::now();
        send(EdgeTransitionDetectionController::createHintNetworkStackNotReadyEvent());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(waitFor([&] { return internal->answers.calls() >= 2; }));
    const auto probe = internal->answers.times()[1];
    EXPECT_GE(probe - start, std::chrono::milliseconds(589));
    EXPECT_LT(probe, lastHint) << "sensing waited for the hints to stop instead of the limit";
    EXPECT_GT(controller->getDetectDirectConnectUnavailableFsmStatistics().countDelayedSensingTimersScheduled,
              2u);
}

TEST_F(DirectConnectFsmTest, ControllerEventDispatchAndReset) {
    startPolling();
    startMonitoring();
    oxl::test::LogCapture log;
    send(std::make_unique<ControllerEvent>("LogDiagnositics"));
    send(std::make_unique<ControllerEvent>("Bogus"));
    send(std::make_unique<ControllerEvent>("TimerExpiry"));  // labelled, but not a TimerExpiryEvent
    settle();
    EXPECT_TRUE(
        log.contains("EdgeTransitionDetectionController processing Event LogDiagnositics with DDCAFsm in "
                     "state Polling and DDCUFsm in state Monitoring"));
    EXPECT_TRUE(log.contains("Discarding unrecognized event with label: Bogus"));
    EXPECT_TRUE(log.contains("Downcast error on mis-labelled ControllerEvent."));

    // An address change reaches the outside machine first, then the inside one.
    log.clear();
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent(20));
    settle();
    const auto messages = log.messages();
    auto at = [&](const std::string& text) {
        return std::find_if(messages.begin(), messages.end(),
                            [&](const std::string& m) { return m.find(text) != std::string::npos; }) -
               messages.begin();
    };
    EXPECT_LT(at("Processing event IpInterfaceChanged in state Polling"),
              at("Processing event IpInterfaceChanged in state Monitoring"));

    controller->reset();
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Idle");
    EXPECT_EQ(controller->getDetectDirectConnectUnavailableFsmState(), "Idle");
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmStatistics().countFsmEventsProcessed, 0u);

    controller->stop();
    const size_t probes = internal->answers.calls();
    send(EdgeTransitionDetectionController::createStartPollingFromOutsideEvent(parameters));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(internal->answers.calls(), probes);
    EXPECT_EQ(controller->getDetectDirectConnectAvailableFsmState(), "Idle")
        << "a stopped controller serves nothing";
}

// Address changes that arrive while one is pending add no event of their own; once the machines have
// started on it, or it was dropped unprocessed, the next change is taken again.
TEST_F(DirectConnectFsmTest, AddressChangesCoalesceIntoOnePendingEvent) {
    startPolling();
    oxl::test::LogCapture log(OXL_LEVEL_INFO);
    const auto processedChanges = [&] { return log.count("processing Event IpInterfaceChanged"); };
    edge->close();
    send(EdgeTransitionDetectionController::createApplicationWakeupEvent());
    ASSERT_TRUE(edge->waitUntilHolding());
    for (int i = 0; i < 1000; ++i) {
        send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent(5));
    }
    edge->open();
    settle();
    EXPECT_EQ(processedChanges(), 1u);
    EXPECT_EQ(internal->answers.calls(), 2u) << "the wake-up's probe and the change's";

    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent(5));
    settle();
    EXPECT_EQ(processedChanges(), 2u) << "a change after the pending one was processed is taken";

    // Dropped by a stopped controller: the change no longer counts as pending. (The reactor counts the
    // dropped event as enqueued, so settle() cannot be used from here on.)
    controller->stop();
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent(5));
    controller->start();
    send(EdgeTransitionDetectionController::createIpInterfaceChangedEvent(5));
    EXPECT_TRUE(waitFor([&] { return processedChanges() == 3u; }));
}

TEST_F(DirectConnectFsmTest, ObserversAreHeldWeakly) {
    auto second = std::make_shared<RecordingConnectivityObserver>();
    controller->registerInternalConnectivityObserver(second);
    std::weak_ptr<RecordingConnectivityObserver> gone = observer;
    observer.reset();
    EXPECT_TRUE(gone.expired()) << "the controller must not keep its observers alive";
    startPolling();
    EXPECT_EQ(second->operations(), std::vector<std::string>{"EdgeAvailable"});
}

}  // namespace
}  // namespace oxl::edge

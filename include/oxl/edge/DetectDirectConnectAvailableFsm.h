// Runs while the client is outside the enterprise network: polls until the enterprise servers can be reached
// directly, confirms it with repeated connection tests and reports the outcome to the transition controller.
// Every operation runs on the controller's event thread.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "oxl/edge/DirectConnectFsmBase.h"
#include "oxl/edge/DirectConnectivityTester.h"
#include "oxl/edge/Timestamp.h"

namespace oxl::edge {

class DetectDirectConnectAvailableFsm : public DirectConnectFsmBase {
  public:
    static constexpr const char* SCHEDULE_POLL_RETRY = "SchedulePollRetry";
    static constexpr const char* SCHEDULE_CONFIRM_TEST = "ScheduleConfirmTest";

    struct Statistics {
        std::uint32_t countFsmEventsCreated = 0;
        std::uint32_t countFsmEventsProcessed = 0;
        std::uint32_t countIdleStateEntered = 0;
        std::uint32_t countPollingStateEntered = 0;
        std::uint32_t countConfirmingStateEntered = 0;
        std::uint32_t countDirectConnectAvailableNotified = 0;
        std::uint32_t countEdgeConnectAvailableNotified = 0;
        std::uint32_t countEdgeConnectUnavailableNotified = 0;
        std::uint32_t countConfirmingDirectConnectivityNotified = 0;
    };

    class FsmEvent {
      public:
        enum Type {
            START_POLLING = 0,
            TIMER_EXPIRY = 1,
            NETWORK_ACCESS_OPPORTUNITY = 2,
            IP_INTERFACE_CHANGED = 3,
            APPLICATION_WAKEUP = 4,
        };
        explicit FsmEvent(Type type) : type_(type) {}
        virtual ~FsmEvent() = default;
        Type getType() const { return type_; }
        virtual std::string getName() const = 0;

      private:
        Type type_;
    };
    class StartPollingEvent;
    class TimerExpiryEvent;
    class NetworkAccessOpportunityEvent;
    class IpInterfaceChangedEvent;
    class ApplicationWakeupEvent;

    DetectDirectConnectAvailableFsm(std::weak_ptr<EdgeTransitionDetectionController> controller,
                                    DirectConnectFsmSettings settings);
    ~DetectDirectConnectAvailableFsm();
    DetectDirectConnectAvailableFsm(const DetectDirectConnectAvailableFsm&) = delete;
    DetectDirectConnectAvailableFsm& operator=(const DetectDirectConnectAvailableFsm&) = delete;

    void stop();

    // Event factories; each counts in CountFsmEventsCreated.
    std::unique_ptr<FsmEvent> createStartPollingEvent();
    std::unique_ptr<FsmEvent> createTimerExpiryEvent(const std::string& timerId);
    std::unique_ptr<FsmEvent> createNetworkAccessOpportunityEvent();
    std::unique_ptr<FsmEvent> createIpInterfaceChangedEvent();
    std::unique_ptr<FsmEvent> createApplicationWakeupEvent();

    // Dispatches to the current state and destroys the event.
    void processEvent(std::unique_ptr<FsmEvent> event);

    std::string getCurrentStateName() const;
    const Statistics& getStatistics() const { return statistics_; }

  private:
    class State;
    class IdleState;
    class PollingState;
    class ConfirmingState;
    class TestTimer;

    void enterState(State* state);
    void cancelTimer();
    bool armTimer(const std::string& timerId, std::uint32_t delayMs);
    void clearRetrySchedule();
    bool startRetrySchedule();
    bool retryScheduleRunning() const { return !retryScheduleStart_.isNever(); }
    // Probe of the outside position; the rest of the machine reacts to what it returns.
    void doNetworkSensing(bool observeQuietPeriod, const std::string& eventName);
    bool probeAndPrepareDirectTest();
    bool testDirectConnectivity();
    // Reports the edge records (or their absence) to the controller; returns whether the edge is visible.
    bool testEdgeVisibility(const std::string& eventName);

    void notifyConfirmingDirectConnectivity(const std::string& eventName);
    void notifyDirectConnectAvailable(const ServiceRecord& record, const std::string& eventName);
    void notifyEdgeConnectAvailable(const std::vector<EdgeServiceRecordData>& records,
                                    const std::string& eventName);
    void notifyEdgeConnectUnavailable(const std::string& eventName);

    Statistics statistics_;

    std::unique_ptr<IdleState> idle_;
    std::unique_ptr<PollingState> polling_;
    std::unique_ptr<ConfirmingState> confirming_;
    State* currentState_ = nullptr;

    std::unique_ptr<TestTimer> timer_;
    std::unique_ptr<TestTimer> retryTimer_;
    Timestamp lastProbe_ = Timestamp::never();
    Timestamp retryScheduleStart_ = Timestamp::never();
    std::uint32_t successCount_ = 0;

    std::unique_ptr<DirectConnectivityTester> directTester_;
};

std::ostream& operator<<(std::ostream& os, const DetectDirectConnectAvailableFsm::Statistics& statistics);

}  // namespace oxl::edge

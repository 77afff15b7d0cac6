// Runs while the client is inside the enterprise network: watches hints of network trouble and address
// changes, re-checks whether the enterprise servers are still visible and reports the outcome to the
// transition controller. Every operation runs on the controller's event thread.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "oxl/edge/DirectConnectFsmBase.h"
#include "oxl/edge/Timestamp.h"

namespace oxl::edge {

class DetectDirectConnectUnavailableFsm : public DirectConnectFsmBase {
  public:
    struct Statistics {
        std::uint32_t countFsmEventsCreated = 0;
        std::uint32_t countFsmEventsProcessed = 0;
        std::uint32_t countIdleStateEntered = 0;
        std::uint32_t countMonitoringStateEntered = 0;
        std::uint32_t countDelayedSensingTimersScheduled = 0;
        std::uint32_t countDirectConnectUnavailableNotified = 0;
        std::uint32_t countDirectConnectAvailableNotified = 0;
        std::uint32_t countDirectConnectUnavailableAndEdgeConnectAvailableNotified = 0;
        std::uint32_t countDirectAndEdgeConnectUnavailableNotified = 0;
    };

    class FsmEvent {
      public:
        enum Type {
            START_MONITORING = 0,
            HINT_NETWORK_INTERFACE_DROPPED = 1,
            HINT_NETWORK_STACK_NOT_READY = 2,
            DELAYED_SENSING_TIMER_EXPIRY = 3,
            IP_INTERFACE_CHANGED = 4,
        };
        explicit FsmEvent(Type type) : type_(type) {}
        virtual ~FsmEvent() = default;
        Type getType() const { return type_; }
        virtual std::string getName() const = 0;

      private:
        Type type_;
    };

    DetectDirectConnectUnavailableFsm(std::weak_ptr<EdgeTransitionDetectionController> controller,
                                      DirectConnectFsmSettings settings);
    ~DetectDirectConnectUnavailableFsm();
    DetectDirectConnectUnavailableFsm(const DetectDirectConnectUnavailableFsm&) = delete;
    DetectDirectConnectUnavailableFsm& operator=(const DetectDirectConnectUnavailableFsm&) = delete;

    void stop();

    // Event factories; each counts in CountFsmEventsCreated.
    std::unique_ptr<FsmEvent> createStartMonitoringEvent();
    std::unique_ptr<FsmEvent> createHintNetworkInterfaceDroppedEvent();
    std::unique_ptr<FsmEvent> createHintNetworkStackNotReadyEvent();
    std::unique_ptr<FsmEvent> createDelayedSensingTimerExpiryEvent();
    std::unique_ptr<FsmEvent> createIpInterfaceChangedEvent();

    // Dispatches to the current state and destroys the event.
    void processEvent(std::unique_ptr<FsmEvent> event);

    std::string getCurrentStateName() const;
    const Statistics& getStatistics() const { return statistics_; }

  private:
    class State;
    class IdleState;
    class MonitoringState;
    class DelayedSensingTimer;

    void enterState(State* state);
    void scheduleDelayedSensing();
    void releaseDelayedSensingTimer();
    void doNetworkSensing(const std::string& eventName);

    void notifyDirectConnectAvailable(const ServiceRecord& record, const std::string& eventName);
    void notifyDirectConnectUnavailableAndEdgeConnectAvailable(
        const std::vector<EdgeServiceRecordData>& records, const std::string& eventName);
    void notifyDirectAndEdgeConnectUnavailable(const std::string& eventName);

    Statistics statistics_;

    std::unique_ptr<IdleState> idle_;
    std::unique_ptr<MonitoringState> monitoring_;
    State* currentState_ = nullptr;

    Timestamp lastProbe_ = Timestamp::never();
    // Steady-clock nanoseconds.
    std::int64_t delayedSensingDeadline_ = 0;
    std::int64_t delayedSensingLimit_ = 0;
    bool delayedSensingScheduled_ = false;
    std::unique_ptr<DelayedSensingTimer> delayedSensingTimer_;
};

std::ostream& operator<<(std::ostream& os, const DetectDirectConnectUnavailableFsm::Statistics& statistics);

}  // namespace oxl::edge

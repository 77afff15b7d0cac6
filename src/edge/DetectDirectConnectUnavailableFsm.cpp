#include "oxl/edge/DetectDirectConnectUnavailableFsm.h"

#include <algorithm>
#include <chrono>

#include "oxl/common/SequenceNumber.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/BackgroundTaskMarker.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

constexpr std::int64_t MICROS_PER_SEC = 1000000;
constexpr std::int64_t NANOS_PER_MS = 1000000;

std::int64_t steadyNowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

using Fsm = DetectDirectConnectUnavailableFsm;

namespace {
class SimpleEvent : public Fsm::FsmEvent {
  public:
    SimpleEvent(Type type, const char* name) : FsmEvent(type), name_(name) {}
    std::string getName() const override { return name_; }

  private:
    const char* name_;
};
}  // namespace

// ---- timer ----

class Fsm::DelayedSensingTimer : public ControllerEventTimer {
  public:
    explicit DelayedSensingTimer(std::weak_ptr<EdgeTransitionDetectionController> controller)
        : ControllerEventTimer(std::move(controller),
                               "DetectDirectConnectUnavailableFsm::DelayedSensingTimer::onTimer",
                               "DelayedSensingTimerExpiryEvent",
                               &EdgeTransitionDetectionController::createDelayedSensingTimerExpiryEvent) {}
};

// ---- states ----

class Fsm::State : public StateBase<Fsm> {
  public:
    using StateBase::StateBase;
    virtual void onStartMonitoringEvent(const FsmEvent& event) { ignore(event); }
    virtual void onHintNetworkInterfaceDroppedEvent(const FsmEvent& event) { ignore(event); }
    virtual void onHintNetworkStackNotReadyEvent(const FsmEvent& event) { ignore(event); }
    virtual void onDelayedSensingTimerExpiryEvent(const FsmEvent& event) { ignore(event); }
    virtual void onIpInterfaceChangedEvent(const FsmEvent& event) { ignore(event); }
};

class Fsm::IdleState : public State {
  public:
    explicit IdleState(Fsm& fsm) : State(fsm, "Idle") {}
    void onEntry() override { fsm_.statistics_.countIdleStateEntered++; }
    void onStartMonitoringEvent(const FsmEvent& event) override;
};

class Fsm::MonitoringState : public State {
  public:
    explicit MonitoringState(Fsm& fsm) : State(fsm, "Monitoring") {}

    void onEntry() override {
        fsm_.statistics_.countMonitoringStateEntered++;
        fsm_.lastProbe_ = Timestamp::never();
        // A delayed sensing left over from an earlier stay must not fire into this one.
        fsm_.releaseDelayedSensingTimer();
        fsm_.delayedSensingScheduled_ = false;
    }

    void onHintNetworkInterfaceDroppedEvent(const FsmEvent& event) override {
        processing(event);
        const std::int64_t elapsed =
            Timestamp().valueInMicroseconds() - fsm_.lastProbe_.valueInMicroseconds();
        const std::int64_t quiet = static_cast<std::int64_t>(fsm_.parameters_.monitoringQuietPeriodSec);
        if (elapsed < quiet * MICROS_PER_SEC) {
            OXL_LOG_INFO(logger(), "not probing network, in a quite period of " << quiet << " seconds, with "
                                                                                << elapsed / MICROS_PER_SEC
                                                                                << " seconds elapsed.");
            return;
        }
        fsm_.doNetworkSensing(event.getName());
    }

    void onHintNetworkStackNotReadyEvent(const FsmEvent& event) override {
        processing(event);
        const std::int64_t now = steadyNowNanos();
        fsm_.delayedSensingDeadline_ = now + fsm_.settings_.delayedSensingDelayMs * NANOS_PER_MS;
        if (!fsm_.delayedSensingScheduled_) {
            fsm_.delayedSensingLimit_ = now + fsm_.settings_.delayedSensingLimitMs * NANOS_PER_MS;
            fsm_.scheduleDelayedSensing();
        }
    }

    void onDelayedSensingTimerExpiryEvent(const FsmEvent& event) override {
        processing(event);
        fsm_.releaseDelayedSensingTimer();
        if (!fsm_.delayedSensingScheduled_) {
            // A stale expiry of a timer that was already released.
            return;
        }
        const std::int64_t now = steadyNowNanos();
        const std::int64_t tolerance = fsm_.settings_.delayedSensingToleranceMs * NANOS_PER_MS;
        if (now < fsm_.delayedSensingDeadline_ - tolerance && now < fsm_.delayedSensingLimit_) {
            fsm_.scheduleDelayedSensing();
            return;
        }
        fsm_.delayedSensingScheduled_ = false;
        fsm_.doNetworkSensing(event.getName());
    }

    void onIpInterfaceChangedEvent(const FsmEvent& event) override {
        processing(event);
        fsm_.doNetworkSensing(event.getName());
    }
};

void Fsm::IdleState::onStartMonitoringEvent(const FsmEvent& event) {
    processing(event);
    OXL_LOG_INFO(logger(), "StartMonitoringEvent: " << event.getName());
    OXL_LOG_INFO(logger(), "Detection parameters: " << fsm_.parameters_);
    fsm_.enterState(fsm_.monitoring_.get());
}

// ---- machine ----

Fsm::DetectDirectConnectUnavailableFsm(std::weak_ptr<EdgeTransitionDetectionController> controller,
                                       DirectConnectFsmSettings settings)
    : DirectConnectFsmBase("DetectDirectConnectUnavailable", std::move(controller), std::move(settings)),
      idle_(std::make_unique<IdleState>(*this)),
      monitoring_(std::make_unique<MonitoringState>(*this)),
      currentState_(idle_.get()) {}

Fsm::~DetectDirectConnectUnavailableFsm() {
    stop();
}

void Fsm::stop() {
    started_ = false;
    releaseDelayedSensingTimer();
    delayedSensingScheduled_ = false;
}

std::string Fsm::getCurrentStateName() const {
    return currentState_->getName();
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createStartMonitoringEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<SimpleEvent>(FsmEvent::START_MONITORING, "StartMonitoring");
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createHintNetworkInterfaceDroppedEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<SimpleEvent>(FsmEvent::HINT_NETWORK_INTERFACE_DROPPED,
                                         "HintNetworkInterfaceDropped");
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createHintNetworkStackNotReadyEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<SimpleEvent>(FsmEvent::HINT_NETWORK_STACK_NOT_READY, "HintNetworkStackNotReady");
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createDelayedSensingTimerExpiryEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<SimpleEvent>(FsmEvent::DELAYED_SENSING_TIMER_EXPIRY, "DelayedSensingTimerExpiry");
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createIpInterfaceChangedEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<SimpleEvent>(FsmEvent::IP_INTERFACE_CHANGED, "IpInterfaceChanged");
}

void Fsm::processEvent(std::unique_ptr<FsmEvent> event) {
    if (!event || !acceptsEvents()) {
        return;
    }
    switch (event->getType()) {
        case FsmEvent::START_MONITORING:
            currentState_->onStartMonitoringEvent(*event);
            break;
        case FsmEvent::HINT_NETWORK_INTERFACE_DROPPED:
            currentState_->onHintNetworkInterfaceDroppedEvent(*event);
            break;
        case FsmEvent::HINT_NETWORK_STACK_NOT_READY:
            currentState_->onHintNetworkStackNotReadyEvent(*event);
            break;
        case FsmEvent::DELAYED_SENSING_TIMER_EXPIRY:
            currentState_->onDelayedSensingTimerExpiryEvent(*event);
            break;
        case FsmEvent::IP_INTERFACE_CHANGED:
            currentState_->onIpInterfaceChangedEvent(*event);
            break;
    }
    statistics_.countFsmEventsProcessed++;
}

void Fsm::enterState(State* state) {
    currentState_ = state;
    OXL_LOG_INFO(logger(), state->getName() << "State entered");
    state->onEntry();
}

void Fsm::releaseDelayedSensingTimer() {
    if (delayedSensingTimer_) {
        delayedSensingTimer_->killTimer();
        delayedSensingTimer_.reset();
    }
}

void Fsm::scheduleDelayedSensing() {
    statistics_.countDelayedSensingTimersScheduled++;
    delayedSensingScheduled_ = true;
    releaseDelayedSensingTimer();
    // Later hints push the deadline out, but sensing never waits past the limit set by the first one.
    const std::int64_t due = std::min(delayedSensingDeadline_, delayedSensingLimit_);
    const std::int64_t delayMs = std::max<std::int64_t>(1, (due - steadyNowNanos()) / NANOS_PER_MS);
    delayedSensingTimer_ = std::make_unique<DelayedSensingTimer>(controller_);
    const int rc = delayedSensingTimer_->setTimer(static_cast<unsigned int>(delayMs));
    if (rc != 0) {
        OXL_LOG_ERROR(logger(), "Setting delayed sensing timer failed. It returned: " << rc);
        delayedSensingTimer_.reset();
        delayedSensingScheduled_ = false;
    }
}

void Fsm::doNetworkSensing(const std::string& eventName) {
    oxl::netutils::BackgroundTaskMarker marker("MonitoringState.doNetworkSensing");
    const Timestamp now;
    OXL_LOG_INFO(logger(), "Control data: lastProbe "
                               << lastProbe_ << ", delayedSensingScheduled " << delayedSensingScheduled_
                               << ", delayedSensingDelayMs " << settings_.delayedSensingDelayMs
                               << ", delayedSensingLimitMs " << settings_.delayedSensingLimitMs
                               << ", delayedSensingToleranceMs " << settings_.delayedSensingToleranceMs);
    OXL_LOG_INFO(logger(),
                 "Will probe internal network visibility, old timestamp: " << lastProbe_ << ", now: " << now);
    ServiceRecord record;
    const bool seen = probeInternalVisibility(record);
    marker.markProgress();
    lastProbe_ = Timestamp();
    OXL_LOG_INFO(logger(), "Did " << (seen ? "" : "not ") << "see internal network");
    if (seen) {
        notifyDirectConnectAvailable(record, eventName);
        return;
    }
    std::vector<EdgeServiceRecordData> records;
    if (evaluateEdgeRecords(records)) {
        notifyDirectConnectUnavailableAndEdgeConnectAvailable(records, eventName);
    } else {
        notifyDirectAndEdgeConnectUnavailable(eventName);
    }
    releaseDelayedSensingTimer();
    delayedSensingScheduled_ = false;
    enterState(idle_.get());
}

// ---- notifications ----

void Fsm::notifyDirectConnectAvailable(const ServiceRecord& record, const std::string& eventName) {
    const auto controller = lockController("notifyDirectConnectAvailable");
    if (!controller) {
        return;
    }
    statistics_.countDirectConnectAvailableNotified++;
    controller->notifyDirectConnectAvailable(oxl::common::SequenceNumber::getSequenceNumber(), record,
                                             eventName);
}

void Fsm::notifyDirectConnectUnavailableAndEdgeConnectAvailable(
    const std::vector<EdgeServiceRecordData>& records, const std::string& eventName) {
    const auto controller = lockController("notifyDirectConnectUnavailableAndEdgeConnectAvailable");
    if (!controller) {
        return;
    }
    statistics_.countDirectConnectUnavailableAndEdgeConnectAvailableNotified++;
    controller->notifyDirectConnectUnavailableAndEdgeConnectAvailable(
        oxl::common::SequenceNumber::getSequenceNumber(), records, eventName);
}

void Fsm::notifyDirectAndEdgeConnectUnavailable(const std::string& eventName) {
    const auto controller = lockController("notifyDirectAndEdgeConnectUnavailable");
    if (!controller) {
        return;
    }
    statistics_.countDirectAndEdgeConnectUnavailableNotified++;
    controller->notifyDirectAndEdgeConnectUnavailable(oxl::common::SequenceNumber::getSequenceNumber(),
                                                      eventName);
}

std::ostream& operator<<(std::ostream& os, const DetectDirectConnectUnavailableFsm::Statistics& s) {
    return os << "CountFsmEventsCreated: " << s.countFsmEventsCreated
              << ", CountFsmEventsProcessed: " << s.countFsmEventsProcessed
              << ", CountIdleStateEntered: " << s.countIdleStateEntered
              << ", CountMonitoringStateEntered: " << s.countMonitoringStateEntered
              << ", CountDelayedSensingTimersScheduled: " << s.countDelayedSensingTimersScheduled
              << ", CountDirectConnectUnavailableNotified: " << s.countDirectConnectUnavailableNotified
              << ", CountDirectConnectAvailableNotified: " << s.countDirectConnectAvailableNotified
              << ", CountDirectConnectUnavailableAndEdgeConnectAvailableNotified: "
              << s.countDirectConnectUnavailableAndEdgeConnectAvailableNotified
              << ", CountDirectAndEdgeConnectUnavailableNotified: "
              << s.countDirectAndEdgeConnectUnavailableNotified;
}

}  // namespace oxl::edge

#include "oxl/edge/DetectDirectConnectAvailableFsm.h"

#include "oxl/common/SequenceNumber.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

constexpr std::int64_t MICROS_PER_SEC = 1000000;
constexpr std::int64_t MICROS_PER_MS = 1000;

std::int64_t elapsedMicros(const Timestamp& since, const Timestamp& now) {
    return now.valueInMicroseconds() - since.valueInMicroseconds();
}
}  // namespace

using Fsm = DetectDirectConnectAvailableFsm;

// ---- events ----

class Fsm::StartPollingEvent : public FsmEvent {
  public:
    StartPollingEvent() : FsmEvent(START_POLLING) {}
    std::string getName() const override { return "StartPolling"; }
};

class Fsm::TimerExpiryEvent : public FsmEvent {
  public:
    explicit TimerExpiryEvent(std::string id) : FsmEvent(TIMER_EXPIRY), timerId(std::move(id)) {}
    std::string getName() const override { return "TimerExpiry"; }
    const std::string timerId;
};

class Fsm::NetworkAccessOpportunityEvent : public FsmEvent {
  public:
    NetworkAccessOpportunityEvent() : FsmEvent(NETWORK_ACCESS_OPPORTUNITY) {}
    std::string getName() const override { return "NetworkAccessOpportunity"; }
};

class Fsm::IpInterfaceChangedEvent : public FsmEvent {
  public:
    IpInterfaceChangedEvent() : FsmEvent(IP_INTERFACE_CHANGED) {}
    std::string getName() const override { return "IpInterfaceChanged"; }
};

class Fsm::ApplicationWakeupEvent : public FsmEvent {
  public:
    ApplicationWakeupEvent() : FsmEvent(APPLICATION_WAKEUP) {}
    std::string getName() const override { return "ApplicationWakeup"; }
};

// ---- timer ----

class Fsm::TestTimer : public ControllerEventTimer {
  public:
    TestTimer(std::weak_ptr<EdgeTransitionDetectionController> controller, const std::string& timerId)
        : ControllerEventTimer(std::move(controller), "DetectDirectConnectAvailableFsm::TestTimer::onTimer",
                               "TimerExpiryEvent", [timerId] {
                                   return EdgeTransitionDetectionController::createTimerExpiryEvent(timerId);
                               }) {}
};

// ---- states ----

class Fsm::State : public StateBase<Fsm> {
  public:
    using StateBase::StateBase;
    virtual void onStartPollingEvent(const StartPollingEvent& event) { ignore(event); }
    virtual void onTimerExpiryEvent(const TimerExpiryEvent& event) { ignore(event); }
    virtual void onNetworkAccessOpportunityEvent(const NetworkAccessOpportunityEvent& event) {
        ignore(event);
    }
    virtual void onIpInterfaceChangedEvent(const IpInterfaceChangedEvent& event) { ignore(event); }
    virtual void onApplicationWakeupEvent(const ApplicationWakeupEvent& event) { ignore(event); }
};

class Fsm::IdleState : public State {
  public:
    explicit IdleState(Fsm& fsm) : State(fsm, "Idle") {}
    void onEntry() override { fsm_.statistics_.countIdleStateEntered++; }
    void onStartPollingEvent(const StartPollingEvent& event) override;
};

class Fsm::PollingState : public State {
  public:
    explicit PollingState(Fsm& fsm) : State(fsm, "Polling") {}

    void onEntry() override {
        fsm_.statistics_.countPollingStateEntered++;
        fsm_.lastProbe_ = Timestamp::never();
        fsm_.clearRetrySchedule();
        if (!fsm_.testEdgeVisibility("StartPolling")) {
            fsm_.cancelTimer();
            if (fsm_.armTimer(SCHEDULE_POLL_RETRY, fsm_.settings_.pollRetryDelayMs)) {
                OXL_LOG_INFO(logger(), "After _brisel-edge not found, scheduling poll retry in two seconds.");
            }
        }
    }

    void onTimerExpiryEvent(const TimerExpiryEvent& event) override {
        processing(event);
        fsm_.doNetworkSensing(false, event.getName());
        if (fsm_.currentState_ != this) {
            fsm_.clearRetrySchedule();
            return;
        }
        if (!fsm_.retryScheduleRunning()) {
            return;
        }
        const Timestamp now;
        if (elapsedMicros(fsm_.retryScheduleStart_, now) <
            static_cast<std::int64_t>(fsm_.settings_.retryScheduleWindowMs) * MICROS_PER_MS) {
            OXL_LOG_INFO(logger(), "After doNetworkSensing(), still in state "
                                       << name_ << ", still running retry schedule.");
        } else {
            OXL_LOG_INFO(logger(), "After doNetworkSensing(), still in state "
                                       << name_ << ", quitting retry schedule.");
            fsm_.clearRetrySchedule();
        }
    }

    void onIpInterfaceChangedEvent(const IpInterfaceChangedEvent& event) override {
        processing(event);
        fsm_.doNetworkSensing(false, event.getName());
        if (fsm_.currentState_ != this) {
            OXL_LOG_INFO(logger(), "After doNetworkSensing(), now in state " << fsm_.getCurrentStateName());
            fsm_.clearRetrySchedule();
            return;
        }
        if (!fsm_.retryScheduleRunning()) {
            fsm_.clearRetrySchedule();
            if (fsm_.startRetrySchedule()) {
                OXL_LOG_INFO(logger(), "After doNetworkSensing(), still in state "
                                           << name_ << ", starting retry schedule.");
            }
        } else {
            fsm_.retryScheduleStart_ = Timestamp();
            OXL_LOG_INFO(logger(), "After doNetworkSensing(), still in state "
                                       << name_ << ", extending retry schedule.");
        }
    }

    void onNetworkAccessOpportunityEvent(const NetworkAccessOpportunityEvent& event) override {
        processing(event);
        fsm_.doNetworkSensing(true, event.getName());
    }

    void onApplicationWakeupEvent(const ApplicationWakeupEvent& event) override {
        processing(event);
        fsm_.doNetworkSensing(false, event.getName());
    }
};

class Fsm::ConfirmingState : public State {
  public:
    explicit ConfirmingState(Fsm& fsm) : State(fsm, "Confirming") {}

    void onEntry() override {
        fsm_.statistics_.countConfirmingStateEntered++;
        fsm_.successCount_ = 0;
    }

    void onTimerExpiryEvent(const TimerExpiryEvent& event) override {
        processing(event);
        if (event.timerId != SCHEDULE_CONFIRM_TEST) {
            OXL_LOG_DEBUG(logger(), "Ignoring TimerExpiryEvent with timerid " << event.timerId);
            return;
        }
        if (!fsm_.testDirectConnectivity()) {
            OXL_LOG_INFO(logger(), "Direct connectivity is unavailable.  Abandoning test sequence.");
            fsm_.enterState(fsm_.polling_.get());
            return;
        }
        fsm_.successCount_++;
        if (fsm_.successCount_ >= fsm_.parameters_.confirmingRequiredTestCount) {
            OXL_LOG_INFO(logger(), "Direct connectivity is available. Test sequence completed.");
            fsm_.notifyDirectConnectAvailable(fsm_.internalServiceRecord(), event.getName());
            fsm_.enterState(fsm_.idle_.get());
            return;
        }
        fsm_.cancelTimer();
        if (fsm_.armTimer(SCHEDULE_CONFIRM_TEST, fsm_.parameters_.confirmingDelayBetweenTestsMsec)) {
            OXL_LOG_INFO(logger(), "Direct connectivity is available.  Scheduling next test.");
        }
    }
};

void Fsm::IdleState::onStartPollingEvent(const StartPollingEvent& event) {
    processing(event);
    OXL_LOG_INFO(logger(),
                 "StartPollingEvent: " << event.getName() << ". Detection parameters: " << fsm_.parameters_);
    fsm_.enterState(fsm_.polling_.get());
}

// ---- machine ----

Fsm::DetectDirectConnectAvailableFsm(std::weak_ptr<EdgeTransitionDetectionController> controller,
                                     DirectConnectFsmSettings settings)
    : DirectConnectFsmBase("DetectDirectConnectAvailable", std::move(controller), std::move(settings)),
      idle_(std::make_unique<IdleState>(*this)),
      polling_(std::make_unique<PollingState>(*this)),
      confirming_(std::make_unique<ConfirmingState>(*this)),
      currentState_(idle_.get()) {}

Fsm::~DetectDirectConnectAvailableFsm() {
    stop();
}

void Fsm::stop() {
    started_ = false;
    cancelTimer();
    clearRetrySchedule();
}

std::string Fsm::getCurrentStateName() const {
    return currentState_->getName();
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createStartPollingEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<StartPollingEvent>();
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createTimerExpiryEvent(const std::string& timerId) {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<TimerExpiryEvent>(timerId);
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createNetworkAccessOpportunityEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<NetworkAccessOpportunityEvent>();
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createIpInterfaceChangedEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<IpInterfaceChangedEvent>();
}

std::unique_ptr<Fsm::FsmEvent> Fsm::createApplicationWakeupEvent() {
    statistics_.countFsmEventsCreated++;
    return std::make_unique<ApplicationWakeupEvent>();
}

void Fsm::processEvent(std::unique_ptr<FsmEvent> event) {
    if (!event || !acceptsEvents()) {
        return;
    }
    switch (event->getType()) {
        case FsmEvent::START_POLLING:
            currentState_->onStartPollingEvent(static_cast<const StartPollingEvent&>(*event));
            break;
        case FsmEvent::TIMER_EXPIRY:
            currentState_->onTimerExpiryEvent(static_cast<const TimerExpiryEvent&>(*event));
            break;
        case FsmEvent::NETWORK_ACCESS_OPPORTUNITY:
            currentState_->onNetworkAccessOpportunityEvent(
                static_cast<const NetworkAccessOpportunityEvent&>(*event));
            break;
        case FsmEvent::IP_INTERFACE_CHANGED:
            currentState_->onIpInterfaceChangedEvent(static_cast<const IpInterfaceChangedEvent&>(*event));
            break;
        case FsmEvent::APPLICATION_WAKEUP:
            currentState_->onApplicationWakeupEvent(static_cast<const ApplicationWakeupEvent&>(*event));
            break;
    }
    statistics_.countFsmEventsProcessed++;
}

void Fsm::enterState(State* state) {
    currentState_ = state;
    OXL_LOG_INFO(logger(), state->getName() << "State entered");
    state->onEntry();
}

void Fsm::cancelTimer() {
    if (timer_) {
        OXL_LOG_DEBUG(logger(), "Cancelling existing timer.");
        timer_->killTimer();
        timer_.reset();
    }
}

bool Fsm::armTimer(const std::string& timerId, std::uint32_t delayMs) {
    timer_ = std::make_unique<TestTimer>(controller_, timerId);
    const int rc = timer_->setTimer(delayMs == 0 ? 1 : delayMs);
    if (rc != 0) {
        OXL_LOG_ERROR(logger(), "Setting timer returned: " << rc);
        timer_.reset();
        return false;
    }
    return true;
}

void Fsm::clearRetrySchedule() {
    if (retryTimer_) {
        OXL_LOG_DEBUG(logger(), "Cancelling existing retry timer.");
        retryTimer_->killTimer();
        retryTimer_.reset();
    }
    retryScheduleStart_ = Timestamp::never();
}

bool Fsm::startRetrySchedule() {
    retryScheduleStart_ = Timestamp();
    retryTimer_ = std::make_unique<TestTimer>(controller_, SCHEDULE_POLL_RETRY);
    const std::uint32_t period = settings_.retrySchedulePeriodMs == 0 ? 1 : settings_.retrySchedulePeriodMs;
    const int rc = retryTimer_->setTimer(period, true);
    if (rc != 0) {
        OXL_LOG_ERROR(logger(), "Setting timer returned: " << rc);
        retryTimer_.reset();
        return false;
    }
    return true;
}

void Fsm::doNetworkSensing(bool observeQuietPeriod, const std::string& eventName) {
    const Timestamp now;
    const std::int64_t elapsed = elapsedMicros(lastProbe_, now);
    if (observeQuietPeriod &&
        elapsed < static_cast<std::int64_t>(parameters_.pollingQuietPeriodSec) * MICROS_PER_SEC) {
        OXL_LOG_INFO(logger(), currentState_->getName()
                                   << " not probing network, in a quiet period of "
                                   << parameters_.pollingQuietPeriodSec << " seconds, with "
                                   << elapsed / MICROS_PER_SEC << " seconds elapsed.");
        return;
    }
    OXL_LOG_INFO(logger(),
                 "Will probe internal network visibility, old timestamp: " << lastProbe_ << ", now: " << now);
    const bool seen = probeAndPrepareDirectTest();
    lastProbe_ = Timestamp();
    OXL_LOG_INFO(logger(), "Did " << (seen ? "" : "not ") << "see internal network");
    if (!seen) {
        testEdgeVisibility(eventName);
        return;
    }
    enterState(confirming_.get());
    notifyConfirmingDirectConnectivity(eventName);
    processEvent(createTimerExpiryEvent(SCHEDULE_CONFIRM_TEST));
}

bool Fsm::probeAndPrepareDirectTest() {
    ServiceRecord record;
    const bool seen = probeInternalVisibility(record);
    if (seen) {
        if (record.endpoints.empty()) {
            OXL_LOG_ERROR(logger(),
                          "No available data on Internal Server Endpoints. No DirectConnectivityTester "
                          "will be created.");
            directTester_.reset();
        } else {
            directTester_ = std::make_unique<DirectConnectivityTester>(record.endpoints.front(),
                                                                       settings_.directTestTimeoutSec);
        }
    }
    return seen;
}

bool Fsm::testDirectConnectivity() {
    if (settings_.mockDirectConnectivityTester) {
        return settings_.mockDirectConnectivityTester->test();
    }
    if (directTester_) {
        return directTester_->test();
    }
    OXL_LOG_ERROR(logger(), "Skipping Direct Connectivity Test.");
    return false;
}

bool Fsm::testEdgeVisibility(const std::string& eventName) {
    std::vector<EdgeServiceRecordData> records;
    const bool visible = evaluateEdgeRecords(records);
    if (visible) {
        OXL_LOG_INFO(logger(), "The _brisel-edge record is visible");
        notifyEdgeConnectAvailable(records, eventName);
    } else {
        OXL_LOG_INFO(logger(), "The _brisel-edge record is not visible");
        notifyEdgeConnectUnavailable(eventName);
    }
    return visible;
}

// ---- notifications ----

void Fsm::notifyConfirmingDirectConnectivity(const std::string& eventName) {
    const auto controller = lockController("notifyConfirmingDirectConnectivity");
    if (!controller) {
        return;
    }
    statistics_.countConfirmingDirectConnectivityNotified++;
    controller->notifyConfirmingDirectConnectivity(oxl::common::SequenceNumber::getSequenceNumber(),
                                                   eventName);
}

void Fsm::notifyDirectConnectAvailable(const ServiceRecord& record, const std::string& eventName) {
    const auto controller = lockController("notifyDirectConnectAvailable");
    if (!controller) {
        return;
    }
    statistics_.countDirectConnectAvailableNotified++;
    controller->notifyDirectConnectAvailable(oxl::common::SequenceNumber::getSequenceNumber(), record,
                                             eventName);
}

void Fsm::notifyEdgeConnectAvailable(const std::vector<EdgeServiceRecordData>& records,
                                     const std::string& eventName) {
    const auto controller = lockController("notifyEdgeConnectAvailable");
    if (!controller) {
        return;
    }
    statistics_.countEdgeConnectAvailableNotified++;
    controller->notifyEdgeConnectAvailable(oxl::common::SequenceNumber::getSequenceNumber(), records,
                                           eventName);
}

void Fsm::notifyEdgeConnectUnavailable(const std::string& eventName) {
    const auto controller = lockController("notifyEdgeConnectUnavailable");
    if (!controller) {
        return;
    }
    statistics_.countEdgeConnectUnavailableNotified++;
    controller->notifyEdgeConnectUnavailable(oxl::common::SequenceNumber::getSequenceNumber(), eventName);
}

std::ostream& operator<<(std::ostream& os, const DetectDirectConnectAvailableFsm::Statistics& s) {
    return os << "CountFsmEventsCreated: " << s.countFsmEventsCreated
              << ", CountFsmEventsProcessed: " << s.countFsmEventsProcessed
              << ", CountIdleStateEntered: " << s.countIdleStateEntered
              << ", CountPollingStateEntered: " << s.countPollingStateEntered
              << ", CountConfirmingStateEntered: " << s.countConfirmingStateEntered
              << ", CountDirectConnectAvailableNotified: " << s.countDirectConnectAvailableNotified
              << ", CountEdgeConnectAvailableNotified: " << s.countEdgeConnectAvailableNotified
              << ", CountEdgeConnectUnavailableNotified: " << s.countEdgeConnectUnavailableNotified
              << ", CountConfirmingDirectConnectivityNotified: "
              << s.countConfirmingDirectConnectivityNotified;
}

}  // namespace oxl::edge

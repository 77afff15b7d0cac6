#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"

#include <atomic>
#include <sstream>
#include <thread>

#include "IpInterfaceChangeMonitor.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

// The address change that waits in the queue. It stands for every change that comes before the machines
// start to look at it, so the flag is cleared then (or when the event is dropped unprocessed).
class PendingIpInterfaceChangedEvent : public IpInterfaceChangedEvent {
  public:
    PendingIpInterfaceChangedEvent(std::uint32_t delay, std::shared_ptr<std::atomic<bool>> pending)
        : IpInterfaceChangedEvent(delay), pending_(std::move(pending)) {}
    ~PendingIpInterfaceChangedEvent() override { release(); }
    void release() const {
        if (!released_) {
            released_ = true;
            pending_->store(false);
        }
    }

  private:
    std::shared_ptr<std::atomic<bool>> pending_;
    mutable bool released_ = false;
};

template <typename T>
const T* downcast(const ControllerEvent& event) {
    const T* typed = dynamic_cast<const T*>(&event);
    if (typed == nullptr) {
        OXL_LOG_ERROR(logger(), "Downcast error on mis-labelled ControllerEvent.");
    }
    return typed;
}
}  // namespace

std::shared_ptr<EdgeTransitionDetectionControllerImpl> EdgeTransitionDetectionControllerImpl::build() {
    return std::make_shared<EdgeTransitionDetectionControllerImpl>(Token{});
}

EdgeTransitionDetectionControllerImpl::EdgeTransitionDetectionControllerImpl(Token) : Reactor(REACTOR_NAME) {}

EdgeTransitionDetectionControllerImpl::~EdgeTransitionDetectionControllerImpl() {
    // The event thread calls into this object: it must end before any member goes.
    stop();
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    availableFsm_.reset();
    unavailableFsm_.reset();
}

void EdgeTransitionDetectionControllerImpl::createMachinesLocked() {
    std::weak_ptr<EdgeTransitionDetectionController> self = shared_from_this();
    availableFsm_ = std::make_unique<DetectDirectConnectAvailableFsm>(self, settings_);
    unavailableFsm_ = std::make_unique<DetectDirectConnectUnavailableFsm>(self, settings_);
    availableFsm_->start();
    unavailableFsm_->start();
}

void EdgeTransitionDetectionControllerImpl::start() {
    OXL_LOG_INFO(logger(), "Starting EdgeTransitionDetectionController.");
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    if (!stopped_) {
        OXL_LOG_DEBUG(logger(), "EdgeTransitionDetectionController already started.");
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
        createMachinesLocked();
    }
    startServingThread();
    if (monitorEnabled_) {
        monitor_ = std::make_unique<IpInterfaceChangeMonitor>(this);
        if (!monitor_->start()) {
            monitor_.reset();
        }
    }
    stopped_ = false;
}

void EdgeTransitionDetectionControllerImpl::stop() {
    OXL_LOG_INFO(logger(), "Stopping EdgeTransitionDetectionController.");
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    if (stopped_) {
        return;
    }
    if (monitor_) {
        monitor_->stop();
        monitor_.reset();
    }
    Reactor::stop();
    {
        // No event thread any more: the machines' timers would only feed a stopped queue.
        std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
        if (availableFsm_) {
            availableFsm_->stop();
        }
        if (unavailableFsm_) {
            unavailableFsm_->stop();
        }
    }
    stopped_ = true;
}

void EdgeTransitionDetectionControllerImpl::reset() {
    OXL_LOG_INFO(logger(), "Resetting  EdgeTransitionDetectionController and FSMs.");
    dropPendingEvents();
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    if (stopped_) {
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    createMachinesLocked();
}

bool EdgeTransitionDetectionControllerImpl::isStopped() const {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    return stopped_;
}

void EdgeTransitionDetectionControllerImpl::enqueueEvent(std::unique_ptr<ControllerEvent> event) {
    if (!event) {
        return;
    }
    if (event->getLabel() == IpInterfaceChangedEvent::LABEL) {
        const auto* changed = dynamic_cast<const IpInterfaceChangedEvent*>(event.get());
        if (changed == nullptr) {
            OXL_LOG_ERROR(logger(), "Downcast error on mis-labelled ControllerEvent.");
            return;
        }
        // A burst of address changes is one change for the machines: each event would hold the event
        // thread for its delay and its probes.
        if (changePending_->exchange(true)) {
            OXL_LOG_DEBUG(logger(), "An address change is already pending; it covers this one.");
            return;
        }
        event = std::make_unique<PendingIpInterfaceChangedEvent>(changed->delayMs, changePending_);
    }
    enqueueBase(event.release());
}

void EdgeTransitionDetectionControllerImpl::registerInternalConnectivityObserver(
    const std::shared_ptr<InternalConnectivityObserver>& observer) {
    if (!observer) {
        OXL_LOG_WARN(logger(), "Ignoring a null InternalConnectivityObserver.");
        return;
    }
    std::lock_guard<std::mutex> lock(listenersMutex_);
    listeners_.insert(observer);
}

void EdgeTransitionDetectionControllerImpl::processEvent(const oxl::common::Reactor::Event* rawEvent) {
    std::unique_ptr<const oxl::common::Reactor::Event> event(rawEvent);
    const auto* controllerEvent = dynamic_cast<const ControllerEvent*>(event.get());
    if (controllerEvent == nullptr) {
        OXL_LOG_ERROR(logger(), "Reactor::Event object received is not a ControllerEvent.");
        return;
    }
    // An address change settles before the machines look at it; the wait holds no lock.
    if (controllerEvent->getLabel() == IpInterfaceChangedEvent::LABEL) {
        if (const auto* changed = downcast<IpInterfaceChangedEvent>(*controllerEvent)) {
            if (changed->delayMs != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(changed->delayMs));
            }
            // Changes from now on may come after the machines' probes: they need an event of their own.
            if (const auto* pending = dynamic_cast<const PendingIpInterfaceChangedEvent*>(changed)) {
                pending->release();
            }
        } else {
            return;
        }
    }
    dispatch(*controllerEvent);
}

void EdgeTransitionDetectionControllerImpl::dispatch(const ControllerEvent& event) {
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    if (!availableFsm_ || !unavailableFsm_) {
        OXL_LOG_ERROR(logger(),
                      "pDetectDirectConnectAvailableFsm_ or pDetectDirectConnectUnavailableFsm_ are NULL, "
                      "unable to continue. The DetectDirectConnectAvailableFsm was not initialized.");
        return;
    }
    OXL_LOG_INFO(logger(), "EdgeTransitionDetectionController processing Event "
                               << event.toString() << " with DDCAFsm in state "
                               << availableFsm_->getCurrentStateName() << " and DDCUFsm in state "
                               << unavailableFsm_->getCurrentStateName());
    const std::string& label = event.getLabel();
    if (label == "LogDiagnositics") {
        return;
    }
    if (label == StartPollingFromOutsideEvent::LABEL) {
        if (const auto* start = downcast<StartPollingFromOutsideEvent>(event)) {
            availableFsm_->setDetectionParameters(start->parameters);
            availableFsm_->processEvent(availableFsm_->createStartPollingEvent());
        }
    } else if (label == StartMonitoringFromInsideEvent::LABEL) {
        if (const auto* start = downcast<StartMonitoringFromInsideEvent>(event)) {
            unavailableFsm_->setDetectionParameters(start->parameters);
            unavailableFsm_->processEvent(unavailableFsm_->createStartMonitoringEvent());
        }
    } else if (label == NetworkActivityEvent::LABEL) {
        availableFsm_->processEvent(availableFsm_->createNetworkAccessOpportunityEvent());
    } else if (label == HintNetworkInterfaceDroppedEvent::LABEL) {
        unavailableFsm_->processEvent(unavailableFsm_->createHintNetworkInterfaceDroppedEvent());
    } else if (label == HintNetworkStackNotReadyEvent::LABEL) {
        unavailableFsm_->processEvent(unavailableFsm_->createHintNetworkStackNotReadyEvent());
    } else if (label == DelayedSensingTimerExpiryEvent::LABEL) {
        unavailableFsm_->processEvent(unavailableFsm_->createDelayedSensingTimerExpiryEvent());
    } else if (label == TimerExpiryEvent::LABEL) {
        if (const auto* expiry = downcast<TimerExpiryEvent>(event)) {
            availableFsm_->processEvent(availableFsm_->createTimerExpiryEvent(expiry->timerId));
        }
    } else if (label == IpInterfaceChangedEvent::LABEL) {
        availableFsm_->processEvent(availableFsm_->createIpInterfaceChangedEvent());
        unavailableFsm_->processEvent(unavailableFsm_->createIpInterfaceChangedEvent());
    } else if (label == ApplicationWakeupEvent::LABEL) {
        availableFsm_->processEvent(availableFsm_->createApplicationWakeupEvent());
    } else {
        OXL_LOG_ERROR(logger(), "Discarding unrecognized event with label: " << label);
    }
}

template <typename Call>
void EdgeTransitionDetectionControllerImpl::notifyListeners(const char* text, Call call) {
    std::lock_guard<std::mutex> lock(listenersMutex_);
    OXL_LOG_INFO(logger(), "Notifying " << listeners_.size() << " listeners that " << text);
    for (auto it = listeners_.begin(); it != listeners_.end();) {
        if (auto listener = it->lock()) {
            call(*listener);
            ++it;
        } else {
            it = listeners_.erase(it);
        }
    }
}

void EdgeTransitionDetectionControllerImpl::notifyDirectConnectAvailable(std::uint32_t seq,
                                                                         const ServiceRecord& record,
                                                                         const std::string& eventName) {
    notifyListeners("direct connectivity is available.", [&](InternalConnectivityObserver& o) {
        o.onInternalConnectivityAvailable(seq, record, eventName);
    });
}

void EdgeTransitionDetectionControllerImpl::notifyDirectConnectUnavailable(std::uint32_t seq,
                                                                           const std::string& eventName) {
    notifyListeners("direct connectivity is unavailable.", [&](InternalConnectivityObserver& o) {
        o.onInternalConnectivityUnavailable(seq, eventName);
    });
}

void EdgeTransitionDetectionControllerImpl::notifyEdgeConnectAvailable(
    std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records, const std::string& eventName) {
    notifyListeners("edge connectivity is available.", [&](InternalConnectivityObserver& o) {
        o.onEdgeConnectivityAvailable(seq, records, eventName);
    });
}

void EdgeTransitionDetectionControllerImpl::notifyEdgeConnectUnavailable(std::uint32_t seq,
                                                                         const std::string& eventName) {
    notifyListeners("edge connectivity is unavailable.", [&](InternalConnectivityObserver& o) {
        o.onEdgeConnectivityUnavailable(seq, eventName);
    });
}

void EdgeTransitionDetectionControllerImpl::notifyDirectAndEdgeConnectUnavailable(
    std::uint32_t seq, const std::string& eventName) {
    notifyListeners(
        "both direct connectivity and edge connectivity are unavailable.",
        [&](InternalConnectivityObserver& o) { o.onInternalAndEdgeConnectivityUnavailable(seq, eventName); });
}

void EdgeTransitionDetectionControllerImpl::notifyDirectConnectUnavailableAndEdgeConnectAvailable(
    std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records, const std::string& eventName) {
    notifyListeners("direct connectivity is unavailable and edge connectivity is available.",
                    [&](InternalConnectivityObserver& o) {
                        o.onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(seq, records,
                                                                                        eventName);
                    });
}

void EdgeTransitionDetectionControllerImpl::notifyConfirmingDirectConnectivity(std::uint32_t seq,
                                                                               const std::string& eventName) {
    notifyListeners(
        "confirmation of direct connectivity is in progress",
        [&](InternalConnectivityObserver& o) { o.onConfirmingDirectConnectivity(seq, eventName); });
}

// ---- test seams and accessors ----

#define OXL_UPDATE_SETTINGS(statement)                          \
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_); \
    statement;                                                  \
    if (availableFsm_) {                                        \
        availableFsm_->setSettings(settings_);                  \
    }                                                           \
    if (unavailableFsm_) {                                      \
        unavailableFsm_->setSettings(settings_);                \
    }

void EdgeTransitionDetectionControllerImpl::setMockDirectConnectivityTester(
    std::shared_ptr<NetworkTester> tester) {
    OXL_UPDATE_SETTINGS(settings_.mockDirectConnectivityTester = std::move(tester));
}

void EdgeTransitionDetectionControllerImpl::setMockInternalNetworkVisibilityTester(
    std::shared_ptr<InternalNetworkVisibilityTester> tester) {
    OXL_UPDATE_SETTINGS(settings_.mockInternalNetworkVisibilityTester = std::move(tester));
}

void EdgeTransitionDetectionControllerImpl::setMockEdgeServiceSensor(
    std::shared_ptr<BriselEdgeServiceSensor> sensor) {
    OXL_UPDATE_SETTINGS(settings_.edgeServiceSensor = std::move(sensor));
}

void EdgeTransitionDetectionControllerImpl::setDelayedSensingDelayForTestOnly(std::int64_t delayMs,
                                                                              std::int64_t limitMs,
                                                                              std::int64_t toleranceMs) {
    OXL_UPDATE_SETTINGS(settings_.delayedSensingDelayMs = delayMs; settings_.delayedSensingLimitMs = limitMs;
                        settings_.delayedSensingToleranceMs = toleranceMs);
}

void EdgeTransitionDetectionControllerImpl::setPollingSchedule(std::uint32_t pollRetryDelayMs,
                                                               std::uint32_t retryPeriodMs,
                                                               std::uint32_t retryWindowMs) {
    OXL_UPDATE_SETTINGS(settings_.pollRetryDelayMs = pollRetryDelayMs;
                        settings_.retrySchedulePeriodMs = retryPeriodMs;
                        settings_.retryScheduleWindowMs = retryWindowMs);
}

#undef OXL_UPDATE_SETTINGS

void EdgeTransitionDetectionControllerImpl::setIpInterfaceChangeMonitorEnabled(bool enabled) {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
    monitorEnabled_ = enabled;
}

std::string EdgeTransitionDetectionControllerImpl::getDetectDirectConnectAvailableFsmState() const {
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    return availableFsm_ ? availableFsm_->getCurrentStateName() : std::string();
}

std::string EdgeTransitionDetectionControllerImpl::getDetectDirectConnectUnavailableFsmState() const {
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    return unavailableFsm_ ? unavailableFsm_->getCurrentStateName() : std::string();
}

DetectDirectConnectAvailableFsm::Statistics
EdgeTransitionDetectionControllerImpl::getDetectDirectConnectAvailableFsmStatistics() const {
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    return availableFsm_ ? availableFsm_->getStatistics() : DetectDirectConnectAvailableFsm::Statistics{};
}

DetectDirectConnectUnavailableFsm::Statistics
EdgeTransitionDetectionControllerImpl::getDetectDirectConnectUnavailableFsmStatistics() const {
    std::lock_guard<std::recursive_mutex> lock(machinesMutex_);
    return unavailableFsm_ ? unavailableFsm_->getStatistics()
                           : DetectDirectConnectUnavailableFsm::Statistics{};
}

}  // namespace oxl::edge

#include "oxl/edge/EdgeTransitionDetectionController.h"

namespace oxl::edge {

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createApplicationWakeupEvent() {
    return std::make_unique<ApplicationWakeupEvent>();
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createDelayedSensingTimerExpiryEvent() {
    return std::make_unique<DelayedSensingTimerExpiryEvent>();
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createHintNetworkInterfaceDroppedEvent() {
    return std::make_unique<HintNetworkInterfaceDroppedEvent>();
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createHintNetworkStackNotReadyEvent() {
    return std::make_unique<HintNetworkStackNotReadyEvent>();
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createIpInterfaceChangedEvent(
    std::uint32_t delayMs) {
    return std::make_unique<IpInterfaceChangedEvent>(delayMs);
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createNetworkActivityEvent() {
    return std::make_unique<NetworkActivityEvent>();
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createStartMonitoringFromInsideEvent(
    const DetectionParameters& parameters) {
    return std::make_unique<StartMonitoringFromInsideEvent>(parameters);
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createStartPollingFromOutsideEvent(
    const DetectionParameters& parameters) {
    return std::make_unique<StartPollingFromOutsideEvent>(parameters);
}

std::unique_ptr<ControllerEvent> EdgeTransitionDetectionController::createTimerExpiryEvent(
    const std::string& timerId) {
    return std::make_unique<TimerExpiryEvent>(timerId);
}

}  // namespace oxl::edge

// Inputs of the edge transition detection, queued on its event thread. Each event type has a fixed label.
#pragma once

#include <cstdint>
#include <string>

#include "oxl/common/Reactor.h"
#include "oxl/edge/EdgeTransitionDetectionTypes.h"

namespace oxl::edge {

class ControllerEvent : public oxl::common::Reactor::Event {
  public:
    explicit ControllerEvent(std::string label) : label_(std::move(label)) {}
    const std::string& getLabel() const { return label_; }
    std::string toString() const override { return label_; }

  private:
    std::string label_;
};

class ApplicationWakeupEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "ApplicationWakeup";
    ApplicationWakeupEvent() : ControllerEvent(LABEL) {}
};

class DelayedSensingTimerExpiryEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "DelayedSensingTimerExpiry";
    DelayedSensingTimerExpiryEvent() : ControllerEvent(LABEL) {}
};

class HintNetworkInterfaceDroppedEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "HintNetworkInterfaceDropped";
    HintNetworkInterfaceDroppedEvent() : ControllerEvent(LABEL) {}
};

class HintNetworkStackNotReadyEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "HintNetworkStackNotReady";
    HintNetworkStackNotReadyEvent() : ControllerEvent(LABEL) {}
};

class IpInterfaceChangedEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "IpInterfaceChanged";
    explicit IpInterfaceChangedEvent(std::uint32_t delay = 0) : ControllerEvent(LABEL), delayMs(delay) {}
    std::string toString() const override {
        return getLabel() + " (delay " + std::to_string(delayMs) + " ms)";
    }

    // How long the event thread waits before handing the change to the state machines.
    std::uint32_t delayMs;
};

class NetworkActivityEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "NetworkActivity";
    NetworkActivityEvent() : ControllerEvent(LABEL) {}
};

class StartMonitoringFromInsideEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "StartMonitoringFromInside";
    explicit StartMonitoringFromInsideEvent(DetectionParameters p)
        : ControllerEvent(LABEL), parameters(std::move(p)) {}
    DetectionParameters parameters;
};

class StartPollingFromOutsideEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "StartPollingFromOutside";
    explicit StartPollingFromOutsideEvent(DetectionParameters p)
        : ControllerEvent(LABEL), parameters(std::move(p)) {}
    DetectionParameters parameters;
};

class TimerExpiryEvent : public ControllerEvent {
  public:
    static constexpr const char* LABEL = "TimerExpiry";
    explicit TimerExpiryEvent(std::string id) : ControllerEvent(LABEL), timerId(std::move(id)) {}
    std::string toString() const override { return getLabel() + " (" + timerId + ")"; }
    std::string timerId;
};

}  // namespace oxl::edge

// The event hub of edge detection: serialises start requests, network hints, address changes and timer
// expiries on one thread, runs the direct-connect state machines on them and tells its observers what they
// found.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "oxl/edge/ControllerEvent.h"
#include "oxl/edge/EdgeTransitionDetectionTypes.h"
#include "oxl/edge/InternalConnectivityObserver.h"

namespace oxl::edge {

class EdgeTransitionDetectionController {
  public:
    virtual ~EdgeTransitionDetectionController() = default;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void reset() = 0;
    // Takes ownership; the event is handled later on the event thread.
    virtual void enqueueEvent(std::unique_ptr<ControllerEvent> event) = 0;
    // Held weakly.
    virtual void registerInternalConnectivityObserver(
        const std::shared_ptr<InternalConnectivityObserver>& observer) = 0;

    virtual void notifyDirectConnectAvailable(std::uint32_t seq, const ServiceRecord& record,
                                              const std::string& eventName) = 0;
    virtual void notifyDirectConnectUnavailable(std::uint32_t seq, const std::string& eventName) = 0;
    virtual void notifyEdgeConnectAvailable(std::uint32_t seq,
                                            const std::vector<EdgeServiceRecordData>& records,
                                            const std::string& eventName) = 0;
    virtual void notifyEdgeConnectUnavailable(std::uint32_t seq, const std::string& eventName) = 0;
    virtual void notifyDirectAndEdgeConnectUnavailable(std::uint32_t seq, const std::string& eventName) = 0;
    virtual void notifyDirectConnectUnavailableAndEdgeConnectAvailable(
        std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
        const std::string& eventName) = 0;
    virtual void notifyConfirmingDirectConnectivity(std::uint32_t seq, const std::string& eventName) = 0;

    // Event factories; the caller owns the event until it is enqueued.
    static std::unique_ptr<ControllerEvent> createApplicationWakeupEvent();
    static std::unique_ptr<ControllerEvent> createDelayedSensingTimerExpiryEvent();
    static std::unique_ptr<ControllerEvent> createHintNetworkInterfaceDroppedEvent();
    static std::unique_ptr<ControllerEvent> createHintNetworkStackNotReadyEvent();
    static std::unique_ptr<ControllerEvent> createIpInterfaceChangedEvent(std::uint32_t delayMs = 0);
    static std::unique_ptr<ControllerEvent> createNetworkActivityEvent();
    static std::unique_ptr<ControllerEvent> createStartMonitoringFromInsideEvent(
        const DetectionParameters& parameters);
    static std::unique_ptr<ControllerEvent> createStartPollingFromOutsideEvent(
        const DetectionParameters& parameters);
    static std::unique_ptr<ControllerEvent> createTimerExpiryEvent(const std::string& timerId);
};

}  // namespace oxl::edge

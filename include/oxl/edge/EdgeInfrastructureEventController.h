// Receives the edge infrastructure events that the network event reporter derives from HTTP transfers and
// decides whether the client must fail over to other edge servers. This base class does nothing but log;
// the implementation is EdgeInfrastructureEventControllerImpl. One instance serves the process.
#pragma once

#include <memory>
#include <string>

#include "oxl/edge/EdgeInfrastructureEvent.h"

namespace oxl::edge {

class EdgeInfrastructureEventController {
  public:
    virtual ~EdgeInfrastructureEventController();

    // While on hold, events are dropped unprocessed.
    virtual void setOnHold();
    virtual void clearOnHold();
    // Takes ownership; a null event is ignored.
    virtual void enqueue(std::unique_ptr<EdgeInfrastructureEvent> event);

    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeOauthExpiredEvent(const std::string& server);
    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeAuthenticationRequiredEvent(
        const std::string& server);
    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeConnectionFailedEvent(
        const std::string& server, bool clusterFailed);
    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeUnresolvedHostEvent(const std::string& server,
                                                                                   bool clusterFailed);
    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeNextHopFailedEvent(const std::string& server);
    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeInternalServerErrorEvent(
        const std::string& server);
    virtual std::unique_ptr<EdgeInfrastructureEvent> createEdgeServiceUnavailableEvent(
        const std::string& server);

    // The process-wide controller; a logging-only one until an instance is installed. Never null.
    static std::shared_ptr<EdgeInfrastructureEventController> getInstance();
    // Null restores the logging-only controller.
    static void setInstance(std::shared_ptr<EdgeInfrastructureEventController> instance);
};

}  // namespace oxl::edge

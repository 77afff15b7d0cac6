// Whether the enterprise's own servers can be reached directly (internal visibility) and whether an edge
// server is published (edge visibility), with the DNS records behind both answers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "oxl/edge/EdgeTransitionDetectionController.h"
#include "oxl/edge/EdgeTransitionDetectionTypes.h"
#include "oxl/edge/NetworkSensingHints.h"
#include "oxl/edge/NetworkSensingObserver.h"
#include "oxl/edge/VisibilityChangeObserver.h"

namespace oxl::edge {

class EdgeDetectionController {
  public:
    virtual ~EdgeDetectionController() = default;

    // The first query runs the DNS lookups on the caller's thread.
    virtual bool isEdgeAvailable() = 0;
    virtual bool isOnPremServerAvailable() = 0;
    virtual std::vector<EdgeServiceRecordData> getEdgeServiceRecordData() = 0;
    // With forceReevaluation the internal records are looked up again.
    virtual std::vector<ServiceRecord> getInternalServiceRecords(bool forceReevaluation) = 0;
    // Starts monitoring from inside or polling from outside, whichever fits the current visibility.
    virtual void enqueueProperEdgeTransitionEvent() = 0;
    virtual void registerVisibilityChangeObserver(
        const std::shared_ptr<VisibilityChangeObserver>& observer) = 0;
    virtual void unregisterVisibilityChangeObserver(
        const std::shared_ptr<VisibilityChangeObserver>& observer) = 0;
    virtual void registerNetworkSensingObserver(const std::shared_ptr<NetworkSensingObserver>& observer) = 0;
    virtual void unregisterNetworkSensingObserver(
        const std::shared_ptr<NetworkSensingObserver>& observer) = 0;
    // Changed domains stop the controller, query again and tell the observers; unchanged ones do nothing.
    virtual void setDomains(const std::string& internalDomain, const std::string& externalDomain) = 0;
    virtual void setEdgeTransitionDetectionController(
        std::shared_ptr<EdgeTransitionDetectionController> controller) = 0;
    virtual std::shared_ptr<EdgeTransitionDetectionController> getEdgeTransitionDetectionController() = 0;
    // Forgets domains, sensors and records; ignores callbacks until setDomains restarts it.
    virtual void stop() = 0;
    // Where the rest of the library reports network hints; never null.
    virtual std::shared_ptr<NetworkSensingHints> getNetworkSensingHints() = 0;
};

}  // namespace oxl::edge

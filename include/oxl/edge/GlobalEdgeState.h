// The process-wide edge session as the rest of the library sees it: whether the enterprise network is
// reachable directly or only through the edge, the edge domain, and the edge detection controller behind
// those answers. The implementation lives beside its controller (GlobalEdgeStateController).
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "oxl/edge/VisibilityChangeObserver.h"

namespace oxl::edge {

class EdgeDetectionController;

class GlobalEdgeState : public VisibilityChangeObserver {
  public:
    struct GetEdgeConfigurationResult {
        enum Result : int {
            SUCCESS = 0,
            EDGE_CONNECTIVITY_UNAVAILABLE = 1,
            SERVICE_NAME_UNAVAILABLE = 2,
            EDGE_SERVER_CONNECTION_PARAMS_UNAVAILABLE = 3,
            EDGE_AUTHENTICATION_FAILED = 4,
            EDGE_SERVER_CERTIFICATE_VALIDATION_ERROR = 5,
            INVALID_EDGE_CONFIGURATION = 6,
            INTERNAL_ERROR = 7,
            REQUEST_SUBMITTED = 8,
            INVALID_ARGUMENT = 9,
            CREDENTIALS_NOT_SET = 10,
            SSL_CONNECTION_ERROR = 11,
            TOO_MANY_REQUESTS = 12,
        };
    };

    struct TerminateEdgeSessionResult {
        enum Result : int {
            SUCCESS = 0,
            INVALID_CREDENTIALS = 1,
            EDGE_CONNECTIVITY_UNAVAILABLE = 2,
            UNKNOWN_ERROR = 4,
        };
    };

    ~GlobalEdgeState() override = default;

    // Both answer false while the state is on hold.
    virtual bool isEdgeConnectivityAvailable() = 0;
    virtual bool isInternalConnectivityAvailable() = 0;

    virtual std::string getEdgeDomain() = 0;
    virtual void setEdgeDomain(const std::string& domain) = 0;
    virtual void removeEdgeConfig() = 0;
    virtual TerminateEdgeSessionResult::Result terminateEdgeSession() = 0;

    // Null when the state was built without one.
    virtual std::shared_ptr<EdgeDetectionController> getEdgeDetectionController() = 0;
};

std::ostream& operator<<(std::ostream& os, GlobalEdgeState::GetEdgeConfigurationResult::Result result);
std::ostream& operator<<(std::ostream& os, GlobalEdgeState::TerminateEdgeSessionResult::Result result);

}  // namespace oxl::edge

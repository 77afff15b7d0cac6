// The process-wide edge session as the rest of the library sees it: whether the enterprise network is
// reachable directly (internal visibility) or only through the edge (edge visibility), the edge
// configuration and its session cookie, the credentials behind it, and the edge domain. Published by
// oxl::netutils::GlobalEdgeStateController; the implementation is GlobalEdgeStateImpl.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "oxl/edge/Credentials.h"
#include "oxl/edge/EdgeConfig.h"
#include "oxl/edge/VisibilityChangeObserver.h"

namespace oxl::edge {

class CredentialsManager;
class EdgeConfigRequest;
class EdgeDetectionController;
class EdgeInfrastructureEventController;
class GetEdgeConfigurationListener;

// Told of the edge session's changes; called on the state's threads without any of its locks held.
class GlobalEdgeStateObserver {
  public:
    virtual ~GlobalEdgeStateObserver() = default;
    virtual void onVisibilityChanged() = 0;
    // A new edge configuration (or a renewed session cookie) is held.
    virtual void onEdgeConfigAvailable() = 0;
};

class GlobalEdgeState : public VisibilityChangeObserver {
  public:
    // Identifies one asynchronous request; 0 is never used.
    using RequestId = unsigned long;

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

        GetEdgeConfigurationResult() = default;
        explicit GetEdgeConfigurationResult(Result r, EdgeConfig config = EdgeConfig())
            : edgeConfig(std::move(config)), result(r) {}

        // Empty unless result is SUCCESS.
        EdgeConfig edgeConfig;
        Result result = INTERNAL_ERROR;
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

    // onVisibilityChange (from VisibilityChangeObserver): the detection controller's visibility changed.

    // Both answer false while the state is on hold.
    virtual bool isEdgeConnectivityAvailable() = 0;
    virtual bool isInternalConnectivityAvailable() = 0;

    // Observers are held until removed; adding one twice has no effect.
    virtual void addObserver(const std::shared_ptr<GlobalEdgeStateObserver>& observer) = 0;
    virtual void removeObserver(const std::shared_ptr<GlobalEdgeStateObserver>& observer) = 0;

    // The credentials manager's current credentials; null without a manager or credentials.
    virtual std::shared_ptr<Credentials> getEdgeCredentials() = 0;

    // A held configuration that is still valid and offers every named service, or a new one fetched now
    // from the edge servers (on the caller's thread). Empty `services`: any configuration will do.
    virtual GetEdgeConfigurationResult getEdgeConfiguration(const std::vector<std::string>& services) = 0;
    virtual GetEdgeConfigurationResult getEdgeConfiguration() = 0;
    // Answers at once when the held configuration or a precondition decides (the listener is not called);
    // otherwise queues the request on the "GlobEdgeState" pool, sets `requestId` and answers
    // REQUEST_SUBMITTED; the listener is then called once with that id. `requestId` is 0 when nothing was
    // queued.
    virtual GetEdgeConfigurationResult getEdgeConfigurationAsync(
        const std::vector<std::string>& services,
        const std::shared_ptr<GetEdgeConfigurationListener>& listener, RequestId& requestId) = 0;
    virtual GetEdgeConfigurationResult getEdgeConfigurationAsync(
        const std::shared_ptr<GetEdgeConfigurationListener>& listener, RequestId& requestId) = 0;

    virtual std::string getEdgeDomain() = 0;
    // Also makes a state on hold active again.
    virtual void setEdgeDomain(const std::string& domain) = 0;
    // Drops the held configuration and its refresh timer.
    virtual void removeEdgeConfig() = 0;
    // Ends the session on the edge (a refresh with zero lifetime) and forgets failed credentials.
    virtual TerminateEdgeSessionResult::Result terminateEdgeSession() = 0;

    virtual std::shared_ptr<CredentialsManager> getCredentialsManager() = 0;
    virtual void setCredentialsManager(std::shared_ptr<CredentialsManager> manager) = 0;
    // Held weakly: the controller holds the state.
    virtual void setEdgeInfrastructureEventController(
        std::shared_ptr<EdgeInfrastructureEventController> controller) = 0;
    virtual void setEdgeConfigRequest(std::shared_ptr<EdgeConfigRequest> request) = 0;

    // Marks an edge server (host name or address) as recently failed; false when nothing was recorded.
    virtual bool addRecentlyFailedServer(const std::string& server, unsigned int errorCode) = 0;
    virtual bool isOnHold() = 0;

    // Null when the state was built without one.
    virtual std::shared_ptr<EdgeDetectionController> getEdgeDetectionController() = 0;
};

// Implemented by callers of getEdgeConfigurationAsync.
class GetEdgeConfigurationListener {
  public:
    virtual ~GetEdgeConfigurationListener() = default;
    virtual void onEdgeConfigurationRetrieved(GlobalEdgeState::RequestId requestId,
                                              const GlobalEdgeState::GetEdgeConfigurationResult& result) = 0;
};

std::ostream& operator<<(std::ostream& os, GlobalEdgeState::GetEdgeConfigurationResult::Result result);
std::ostream& operator<<(std::ostream& os, GlobalEdgeState::TerminateEdgeSessionResult::Result result);

}  // namespace oxl::edge

#include "oxl/edge/EdgeInfrastructureEventControllerImpl.h"

#include <ctime>
#include <utility>

#include "common/SystemClock.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

}  // namespace

std::shared_ptr<EdgeInfrastructureEventControllerImpl> EdgeInfrastructureEventControllerImpl::build(
    std::shared_ptr<GlobalEdgeState> globalEdgeState) {
    return std::make_shared<EdgeInfrastructureEventControllerImpl>(Token{}, std::move(globalEdgeState));
}

EdgeInfrastructureEventControllerImpl::EdgeInfrastructureEventControllerImpl(
    Token, std::shared_ptr<GlobalEdgeState> globalEdgeState)
    : Reactor(REACTOR_NAME),
      globalEdgeState_(std::move(globalEdgeState)),
      clock_(oxl::common::systemSeconds) {}

EdgeInfrastructureEventControllerImpl::~EdgeInfrastructureEventControllerImpl() {
    // processEvent must not run on a half-destroyed object.
    Reactor::stop();
}

void EdgeInfrastructureEventControllerImpl::start() {
    OXL_LOG_INFO(logger(), "start EdgeInfrastructureEventController");
    startServingThread();
}

void EdgeInfrastructureEventControllerImpl::stop() {
    OXL_LOG_INFO(logger(), "stop EdgeInfrastructureEventController");
    Reactor::stop();
    const std::lock_guard<std::mutex> lock(mutex_);
    lastRefetchTime_ = 0;
    lastFailoverCheckTime_ = 0;
}

void EdgeInfrastructureEventControllerImpl::setOnHold() {
    OXL_LOG_DEBUG(logger(), "EdgeInfrastructureEventController put on hold");
    const std::lock_guard<std::mutex> lock(mutex_);
    onHold_ = true;
}

void EdgeInfrastructureEventControllerImpl::clearOnHold() {
    OXL_LOG_DEBUG(logger(), "EdgeInfrastructureEventController active again");
    const std::lock_guard<std::mutex> lock(mutex_);
    onHold_ = false;
}

bool EdgeInfrastructureEventControllerImpl::isOnHold() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return onHold_;
}

void EdgeInfrastructureEventControllerImpl::enqueue(std::unique_ptr<EdgeInfrastructureEvent> event) {
    if (!event) {
        OXL_LOG_WARN(logger(), "enqueue called without an event");
        return;
    }
    OXL_LOG_DEBUG(logger(), "enqueue event: " << event->toString());
    enqueueBase(event.release());
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventControllerImpl::createEdgeOauthExpiredEvent(
    const std::string& server) {
    return std::make_unique<EdgeOauthExpiredEvent>(server);
}

std::unique_ptr<EdgeInfrastructureEvent>
EdgeInfrastructureEventControllerImpl::createEdgeAuthenticationRequiredEvent(const std::string& server) {
    return std::make_unique<EdgeAuthenticationRequiredEvent>(server);
}

std::unique_ptr<EdgeInfrastructureEvent>
EdgeInfrastructureEventControllerImpl::createEdgeConnectionFailedEvent(const std::string& server,
                                                                       bool clusterFailed) {
    return std::make_unique<EdgeConnectionFailedEvent>(server, clusterFailed);
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventControllerImpl::createEdgeUnresolvedHostEvent(
    const std::string& server, bool clusterFailed) {
    return std::make_unique<EdgeUnresolvedHostEvent>(server, clusterFailed);
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventControllerImpl::createEdgeNextHopFailedEvent(
    const std::string& server) {
    return std::make_unique<EdgeNextHopFailedEvent>(server);
}

std::unique_ptr<EdgeInfrastructureEvent>
EdgeInfrastructureEventControllerImpl::createEdgeInternalServerErrorEvent(const std::string& server) {
    return std::make_unique<EdgeInternalServerErrorEvent>(server);
}

std::unique_ptr<EdgeInfrastructureEvent>
EdgeInfrastructureEventControllerImpl::createEdgeServiceUnavailableEvent(const std::string& server) {
    return std::make_unique<EdgeServiceUnavailableEvent>(server);
}

void EdgeInfrastructureEventControllerImpl::setMinimumRefetchPeriodInSeconds(unsigned int seconds) {
    const std::lock_guard<std::mutex> lock(mutex_);
    minimumRefetchPeriodSec_ = seconds;
}

void EdgeInfrastructureEventControllerImpl::setFailoverMonitoringWindowsInSeconds(unsigned int seconds) {
    const std::lock_guard<std::mutex> lock(mutex_);
    failoverMonitoringWindowSec_ = seconds;
}

void EdgeInfrastructureEventControllerImpl::setClockForTesting(Clock clock) {
    const std::lock_guard<std::mutex> lock(mutex_);
    clock_ = clock ? std::move(clock) : Clock(oxl::common::systemSeconds);
}

unsigned int EdgeInfrastructureEventControllerImpl::getRefetchCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return refetchCount_;
}

std::int64_t EdgeInfrastructureEventControllerImpl::now() const {
    Clock clock;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        clock = clock_;
    }
    return clock();
}

void EdgeInfrastructureEventControllerImpl::processEvent(const oxl::common::Reactor::Event* raw) {
    std::unique_ptr<const oxl::common::Reactor::Event> owned(raw);
    if (isOnHold()) {
        OXL_LOG_DEBUG(logger(),
                      "Current state of EdgeInfrastructureEventController is onHold - ignoring events.");
        return;
    }
    OXL_LOG_INFO(logger(), "EdgeInfrastructureEventController processing Event: "
                               << (owned ? owned->toString() : std::string("(null)")));
    const auto* event = dynamic_cast<const EdgeInfrastructureEvent*>(owned.get());
    if (event == nullptr) {
        OXL_LOG_ERROR(logger(), "Reactor::Event object received is not a EdgeInfrastructureEvent.");
        return;
    }
    // Whatever the edge state does in a re-fetch must not end the reactor thread.
    try {
        const std::string& label = event->getLabel();
        if (label == EdgeInfrastructureEvent::EDGE_OAUTH_EXPIRED) {
            handleOauthExpired();
        } else if (label == EdgeInfrastructureEvent::EDGE_AUTHENTICATION_REQUIRED) {
            refetchEdgeConfigFromAvailableServers();
        } else if (label == EdgeInfrastructureEvent::EDGE_CONNECTION_FAILED) {
            const auto* failed = dynamic_cast<const EdgeConnectionFailedEvent*>(event);
            if (failed == nullptr) {
                OXL_LOG_ERROR(logger(), "EdgeConnectionFailed event is null");
            } else {
                handleConnectionFailure(failed->getServer(), failed->isClusterFailed(),
                                        CONNECTION_FAILED_ERROR);
            }
        } else if (label == EdgeInfrastructureEvent::EDGE_UNRESOLVED_HOST) {
            const auto* unresolved = dynamic_cast<const EdgeUnresolvedHostEvent*>(event);
            if (unresolved == nullptr) {
                OXL_LOG_ERROR(logger(), "EdgeUnresolvedHostEvent event is null");
            } else {
                handleConnectionFailure(unresolved->getServer(), unresolved->isClusterFailed(),
                                        UNRESOLVED_HOST_ERROR);
            }
        } else if (label == EdgeInfrastructureEvent::EDGE_NEXT_HOP_FAILED ||
                   label == EdgeInfrastructureEvent::EDGE_INTERNAL_SERVER_ERROR ||
                   label == EdgeInfrastructureEvent::EDGE_SERVICE_UNAVAILABLE) {
            OXL_LOG_WARN(logger(), "Because of event " << label << " attempting to refresh edge config.");
            globalEdgeState_->addRecentlyFailedServer(event->getServer(), SERVER_ERROR);
            refetchEdgeConfigFromAvailableServers();
        } else {
            OXL_LOG_ERROR(logger(), "unknown label: " << label);
        }
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Processing " << event->toString() << " failed: " << e.what());
    }
    OXL_LOG_DEBUG(logger(), "finished processing event");
}

// The token cannot be renewed here: the credentials' owner is told, and until it supplies new credentials
// the edge state sends nothing with the expired ones.
void EdgeInfrastructureEventControllerImpl::handleOauthExpired() {
    const auto credentials = globalEdgeState_->getEdgeCredentials();
    if (!credentials) {
        OXL_LOG_WARN(logger(), "EdgeOauthExpired received but no credentials are set");
        return;
    }
    const auto manager = globalEdgeState_->getCredentialsManager();
    if (!manager) {
        OXL_LOG_WARN(logger(), "EdgeOauthExpired received but no CredentialsManager is set");
        return;
    }
    manager->onOAuthTokenExpired(*credentials);
}

void EdgeInfrastructureEventControllerImpl::handleConnectionFailure(const std::string& server,
                                                                    bool clusterFailed,
                                                                    unsigned int errorCode) {
    OXL_LOG_DEBUG(logger(), "clusterFailed: " << (clusterFailed ? "true" : "false"));
    globalEdgeState_->addRecentlyFailedServer(server, errorCode);
    if (clusterFailed || isFailoverTooFrequent()) {
        refetchEdgeConfigFromAvailableServers();
    }
}

// The client failed over to another server of the cluster: a re-fetch is worth it only when that happens
// often. The count is taken at most once per window.
bool EdgeInfrastructureEventControllerImpl::isFailoverTooFrequent() {
    const std::int64_t current = now();
    const std::lock_guard<std::mutex> lock(mutex_);
    failoverTimestamps_.push_back(current);
    const auto window = static_cast<std::int64_t>(failoverMonitoringWindowSec_);
    if (current - lastFailoverCheckTime_ <= window) {
        OXL_LOG_DEBUG(logger(), "too soon since last check of failover count, returning false");
        return false;
    }
    lastFailoverCheckTime_ = current;
    const std::int64_t start = current - window;
    unsigned int count = 0;
    while (!failoverTimestamps_.empty()) {
        const std::int64_t timestamp = failoverTimestamps_.front();
        failoverTimestamps_.pop_front();
        if (timestamp >= start) {
            ++count;
            OXL_LOG_DEBUG(logger(), "found timestamp in window: " << timestamp);
        } else {
            OXL_LOG_DEBUG(logger(), "timestamp is outside window: " << timestamp);
        }
    }
    OXL_LOG_DEBUG(logger(), "threshold : " << failoverThreshold_ << ", failovers in window: " << count);
    return count > failoverThreshold_;
}

void EdgeInfrastructureEventControllerImpl::refetchEdgeConfigFromAvailableServers() {
    const std::int64_t current = now();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (current - lastRefetchTime_ <= static_cast<std::int64_t>(minimumRefetchPeriodSec_)) {
            OXL_LOG_DEBUG(logger(), "edge configuration was re-fetched " << (current - lastRefetchTime_)
                                                                         << " seconds ago, not again yet");
            return;
        }
        lastRefetchTime_ = current;
        ++refetchCount_;
    }
    OXL_LOG_INFO(logger(), "about to re-fetch the edge configuration");
    globalEdgeState_->removeEdgeConfig();
    const auto result = globalEdgeState_->getEdgeConfiguration();
    OXL_LOG_INFO(logger(), "Edge Configuration Result: " << result.result);
}

}  // namespace oxl::edge

// Keeping the edge session alive: the refresh timer, the refresh, and ending the session.
#include <atomic>
#include <exception>

#include "edge/GlobalEdgeStateLog.h"
#include "oxl/edge/EdgeRefreshTimer.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"

namespace oxl::edge {

namespace {

oxl::common::Cookie xAuthCookieOf(const EdgeConfig& config) {
    for (const auto& cookie : config.cookies) {
        if (cookie.getName() == EdgeConfig::X_AUTH_COOKIE_NAME) {
            return cookie;
        }
    }
    return {};
}

}  // namespace

void GlobalEdgeStateImpl::replaceRefreshTimerLocked(std::shared_ptr<EdgeRefreshTimer> timer) {
    if (edgeRefreshTimer_) {
        OXL_LOG_DEBUG(stateLogger(), "Killing the refresh timer. A new one will be created");
        edgeRefreshTimer_->killRefreshTimer();
    }
    if (oldEdgeRefreshTimer_) {
        OXL_LOG_DEBUG(stateLogger(), "Overwriting the oldEdgeRefreshTimer_. It will be destroyed");
    }
    // The previous timer may be the one whose refresh runs right now; it goes with the next replacement.
    oldEdgeRefreshTimer_ = std::move(edgeRefreshTimer_);
    edgeRefreshTimer_ = std::move(timer);
}

void GlobalEdgeStateImpl::killRefreshTimerLocked() {
    if (edgeRefreshTimer_ && edgeRefreshTimer_->killRefreshTimer()) {
        OXL_LOG_DEBUG(stateLogger(), "Abort flag set on timer");
    }
}

void GlobalEdgeStateImpl::removeEdgeConfigLocked() {
    if (edgeRefreshTimer_) {
        OXL_LOG_INFO(stateLogger(), "Killing the actual EdgeRefreshTimer");
        killRefreshTimerLocked();
    }
    hasConfig_ = false;
    edgeConfig_ = EdgeConfig();
    configServer_ = EdgeServiceLocation();
    configUser_.clear();
}

void GlobalEdgeStateImpl::removeEdgeConfig() {
    OXL_LOG_INFO(stateLogger(), "Removing the edge configuration");
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    removeEdgeConfigLocked();
}

void GlobalEdgeStateImpl::scheduleRefresh() {
    refreshPending_ = true;
    enqueueTask(std::make_shared<EdgeRefreshTimerTask>(weak_from_this()));
}

void GlobalEdgeStateImpl::refreshEdgeConfiguration() {
    // However it ends, the renewal is no longer pending afterwards.
    struct PendingDone {
        std::atomic<bool>& pending;
        ~PendingDone() { pending = false; }
    } pendingDone{refreshPending_};
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(),
                     "Current State of GlobalEdgeState is onHold - will not do an edge refresh");
        return;
    }
    ensureVisibilityInfo();
    {
        const std::lock_guard<std::mutex> lock(visibilityMutex_);
        if (internalVisibility_) {
            OXL_LOG_INFO(stateLogger(), "internal visibility available, will not do an edge refresh");
            return;
        }
        if (!edgeVisibility_.getRawValue()) {
            OXL_LOG_INFO(stateLogger(), "no edge visibility, will not do an edge refresh");
            return;
        }
    }
    const auto credentials = getEdgeCredentials();
    std::unique_lock<std::mutex> attempt(serverAttemptMutex_);

    std::shared_ptr<EdgeRefreshTimer> timer;
    bool killedBefore = false;
    oxl::common::Cookie cookie;
    std::vector<std::string> services;
    EdgeServiceLocation server;
    EdgeConfig refreshed;
    bool expired = false;
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        if (!hasConfig_) {
            OXL_LOG_INFO(stateLogger(), "No edge configuration to refresh");
            return;
        }
        timer = edgeRefreshTimer_;
        if (timer) {
            timer->markRun();
        }
        killedBefore = timer && timer->isKilled();
        if (timer && !killedBefore && !timer->isRefreshTimerExpired(now())) {
            // A full request got in first and brought a new session.
            OXL_LOG_INFO(stateLogger(), "The edge refresh is no longer due");
            return;
        }
        cookie = xAuthCookieOf(edgeConfig_);
        services = requestedServices_;
        server = configServer_;
        refreshed = edgeConfig_;
        expired = cookie.isEmpty() || cookie.getExpirationDate() <= now();
    }
    if (expired) {
        OXL_LOG_INFO(stateLogger(),
                     "XAuth Cookie has already expired, will do a get_edge_config instead of a refresh");
        attempt.unlock();
        const auto result = executeEdgeConfigRequest(services, credentials);
        OXL_LOG_INFO(stateLogger(), "get_edge_config instead of a refresh ended with: " << result.result);
        return;
    }
    if (!credentials) {
        OXL_LOG_ERROR(stateLogger(), "The edge configuration request parameters are invalid");
        return;
    }
    const EdgeConfigRequest::Result result =
        attemptServer(server, *credentials, services, true, cookie, false, refreshed);
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        if (!hasConfig_ || timer != edgeRefreshTimer_ || (!killedBefore && timer && timer->isKilled())) {
            OXL_LOG_INFO(stateLogger(),
                         "Abort flag set on timer before configuration refreshed, removing Edge Config");
            removeEdgeConfigLocked();
            return;
        }
    }
    if (result != EdgeConfigRequest::SUCCESS) {
        OXL_LOG_ERROR(stateLogger(), "Edge Cookie refresh failed with error: " << result);
        return;
    }
    Notices notices;
    switch (handleSuccessfulEdgeConfigResponse(refreshed, server, services, credentials)) {
        case Outcome::STORED:
            OXL_LOG_INFO(stateLogger(), "Edge Cookie refreshed");
            notices.configAvailable = true;
            break;
        case Outcome::SERVICES_MISSING:
            OXL_LOG_INFO(stateLogger(), "Edge Cookie refreshed with result: SERVICE_NAME_UNAVAILABLE.");
            break;
        default:
            OXL_LOG_WARN(stateLogger(), "Edge Cookie refresh brought no usable session cookie");
            break;
    }
    attempt.unlock();
    deliver(notices);
}

GlobalEdgeState::TerminateEdgeSessionResult::Result GlobalEdgeStateImpl::terminateEdgeSession() {
    using T = TerminateEdgeSessionResult;
    OXL_LOG_INFO(stateLogger(), "resetting any previously failed credentials.");
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        credentialsFailed_ = false;
    }
    const auto credentials = getEdgeCredentials();
    const std::lock_guard<std::mutex> attempt(serverAttemptMutex_);
    EdgeConfig ended;
    EdgeServiceLocation server;
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        if (!hasConfig_) {
            OXL_LOG_INFO(stateLogger(), "EdgeConfig Unavailable.");
            return T::EDGE_CONNECTIVITY_UNAVAILABLE;
        }
        ended = edgeConfig_;
        server = configServer_;
    }
    {
        const std::lock_guard<std::mutex> lock(visibilityMutex_);
        if (!edgeVisibility_.getRawValue()) {
            OXL_LOG_INFO(stateLogger(), "Edge Connectivity Unavailable");
            return T::EDGE_CONNECTIVITY_UNAVAILABLE;
        }
    }
    if (!credentials) {
        OXL_LOG_ERROR(stateLogger(), "Empty credentials");
        return T::INVALID_CREDENTIALS;
    }
    if (credentials->username.empty() && credentials->token.empty()) {
        OXL_LOG_ERROR(stateLogger(), "Credentials Error");
        return T::INVALID_CREDENTIALS;
    }
    const EdgeConfigRequest::Result result =
        attemptServer(server, *credentials, {}, true, xAuthCookieOf(ended), true, ended);
    if (result != EdgeConfigRequest::SUCCESS) {
        OXL_LOG_ERROR(stateLogger(), "Error in terminating edge session. Result: " << result);
        return T::UNKNOWN_ERROR;
    }
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        removeEdgeConfigLocked();
    }
    recentlyUsedServers()->clearSuccessfulServers();
    OXL_LOG_INFO(stateLogger(), "Edge session terminated");
    return T::SUCCESS;
}

}  // namespace oxl::edge

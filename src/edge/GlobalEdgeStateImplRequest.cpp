// Getting the edge configuration: the preconditions, the held configuration's validity, and the walk over
// the HTTP edge servers.
#include <algorithm>
#include <atomic>
#include <exception>

#include "edge/GlobalEdgeStateLog.h"
#include "oxl/common/EmailAddressParser.h"
#include "oxl/edge/AsyncGetEdgeConfigTask.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeRefreshTimer.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"

namespace oxl::edge {

namespace {

using Result = GlobalEdgeState::GetEdgeConfigurationResult;

GlobalEdgeState::RequestId nextRequestId() {
    static std::atomic<GlobalEdgeState::RequestId> next{1};
    return next++;
}

// The name the edge knows first: the part before the last '@' of an e-mail address.
std::string userPart(const Credentials& credentials) {
    if (credentials.username.find('@') == std::string::npos) {
        return credentials.username;
    }
    return oxl::common::EmailAddressParser(credentials.username).getUsername();
}

bool hasIdentity(const std::shared_ptr<Credentials>& credentials) {
    return credentials && (!credentials->username.empty() || !credentials->token.empty());
}

oxl::common::Cookie getXAuthCookie(const EdgeConfig& config) {
    for (const auto& cookie : config.cookies) {
        if (cookie.getName() == EdgeConfig::X_AUTH_COOKIE_NAME) {
            OXL_LOG_DEBUG(stateLogger(),
                          "X-Auth Cookie found. Expiration : " << cookie.getExpirationDate()
                                                               << " Domain: " << cookie.getDomain());
            return cookie;
        }
    }
    return {};
}

// 0 without a session cookie.
long xAuthExpiry(const EdgeConfig& config) {
    for (const auto& cookie : config.cookies) {
        if (cookie.getName() == EdgeConfig::X_AUTH_COOKIE_NAME) {
            return cookie.getExpirationDate();
        }
    }
    return 0;
}

bool availableConfigurationSatisfiesRequest(const EdgeConfig& config,
                                            const std::vector<std::string>& services) {
    for (const auto& name : services) {
        if (config.onPremServices.find(name) == config.onPremServices.end()) {
            OXL_LOG_INFO(stateLogger(), "Retrieved services does not satisfy requested services.");
            return false;
        }
    }
    return true;
}

bool isServerFailure(EdgeConfigRequest::Result result) {
    switch (result) {
        case EdgeConfigRequest::CONNECTION_FAILED:
        case EdgeConfigRequest::FAILED_TO_RESOLVE_HOST:
        case EdgeConfigRequest::UNSUCCESSFUL_RESPONSE:
        case EdgeConfigRequest::SSL_CONNECTION_ERROR:
        case EdgeConfigRequest::TOO_MANY_REQUESTS:
            return true;
        default:
            return false;
    }
}

// The state's answer for a request result other than SUCCESS.
Result::Result mapRequestResult(EdgeConfigRequest::Result result) {
    switch (result) {
        case EdgeConfigRequest::AUTHENTICATION_FAILED:
            return Result::EDGE_AUTHENTICATION_FAILED;
        case EdgeConfigRequest::TOO_MANY_REQUESTS:
            return Result::TOO_MANY_REQUESTS;
        case EdgeConfigRequest::SSL_CONNECTION_ERROR:
            return Result::SSL_CONNECTION_ERROR;
        case EdgeConfigRequest::CERTIFICATE_VALIDATION_ERROR:
            return Result::EDGE_SERVER_CERTIFICATE_VALIDATION_ERROR;
        case EdgeConfigRequest::CONNECTION_FAILED:
        case EdgeConfigRequest::FAILED_TO_RESOLVE_HOST:
        case EdgeConfigRequest::UNSUCCESSFUL_RESPONSE:
            return Result::EDGE_CONNECTIVITY_UNAVAILABLE;
        case EdgeConfigRequest::FAILED_TO_PARSE_RESPONSE:
            return Result::INVALID_EDGE_CONFIGURATION;
        case EdgeConfigRequest::ILLEGAL_ARGUMENT:
            return Result::INVALID_ARGUMENT;
        default:
            return Result::INTERNAL_ERROR;
    }
}

}  // namespace

// ---- synchronous and asynchronous retrieval ----

Result GlobalEdgeStateImpl::getEdgeConfiguration() {
    return getEdgeConfiguration(std::vector<std::string>());
}

Result GlobalEdgeStateImpl::getEdgeConfiguration(const std::vector<std::string>& services) {
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(),
                     "Current State of GlobalEdgeState is onHold - getEdgeConfiguration will return "
                     "EDGE_CONNECTIVITY_UNAVAILABLE.");
        return Result(Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    }
    std::shared_ptr<Credentials> credentials;
    if (auto answer = answerFromHeldState(services, credentials)) {
        return *answer;
    }
    OXL_LOG_INFO(stateLogger(),
                 "No valid edge configuration can be returned. A new request have to be executed");
    return executeEdgeConfigRequest(services, credentials);
}

Result GlobalEdgeStateImpl::getEdgeConfigurationAsync(
    const std::shared_ptr<GetEdgeConfigurationListener>& listener, RequestId& requestId) {
    return getEdgeConfigurationAsync(std::vector<std::string>(), listener, requestId);
}

Result GlobalEdgeStateImpl::getEdgeConfigurationAsync(
    const std::vector<std::string>& services, const std::shared_ptr<GetEdgeConfigurationListener>& listener,
    RequestId& requestId) {
    requestId = 0;
    if (!listener) {
        OXL_LOG_ERROR(stateLogger(), "Invalid listener passed into the getEdgeConfigurationAsync.");
        return Result(Result::INVALID_ARGUMENT);
    }
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(),
                     "Current State of GlobalEdgeState is onHold - getEdgeConfigurationAsync will "
                     "return EDGE_CONNECTIVITY_UNAVAILABLE.");
        return Result(Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    }
    std::shared_ptr<Credentials> credentials;
    if (auto answer = answerFromHeldState(services, credentials)) {
        return *answer;
    }
    const RequestId id = nextRequestId();
    OXL_LOG_DEBUG(stateLogger(), "Creating AsyncGetEdgeConfigTask [" << id << "]");
    auto task = std::make_shared<AsyncGetEdgeConfigTask>(weak_from_this(), listener, services, id);
    OXL_LOG_INFO(stateLogger(), "Enqueue an AsyncGetEdgeConfigTask to threadPool with ID: " << id);
    enqueueTask(task);
    requestId = id;
    return Result(Result::REQUEST_SUBMITTED);
}

Result GlobalEdgeStateImpl::runAsyncRequest(const std::vector<std::string>& services) {
    static constexpr const char* ON_HOLD =
        "Current Status of GlobalEdgeState is onHold - will return EDGE_CONNECTIVITY_UNAVAILABLE.";
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(), ON_HOLD);
        return Result(Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    }
    Result result = getEdgeConfiguration(services);
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(), ON_HOLD);
        return Result(Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    }
    return result;
}

std::optional<Result> GlobalEdgeStateImpl::answerFromHeldState(const std::vector<std::string>& services,
                                                               std::shared_ptr<Credentials>& credentials) {
    if (!isVisibilityInitialised()) {
        OXL_LOG_INFO(stateLogger(), "Edge is not fully initialized");
        ensureVisibilityInfo();
    }
    if (!isEdgeConnectivityAvailable()) {
        OXL_LOG_INFO(stateLogger(), "Edge Connectivity Unavailable");
        return Result(Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    }
    credentials = getEdgeCredentials();
    if (!hasIdentity(credentials)) {
        OXL_LOG_ERROR(stateLogger(), "Edge Username not available!");
        return Result(Result::CREDENTIALS_NOT_SET);
    }
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    if (isValidEdgeConfigurationLocked(services, *credentials)) {
        return Result(Result::SUCCESS, edgeConfig_);
    }
    if (credentialsFailed_ && credentials_ && credentials_->isSameCredentials(*credentials)) {
        OXL_LOG_ERROR(stateLogger(),
                      "Credentials have failed to authenticate with Edge Server previously. "
                      "get_edge_config request will not be sent.");
        return Result(Result::EDGE_AUTHENTICATION_FAILED);
    }
    return std::nullopt;
}

bool GlobalEdgeStateImpl::isValidEdgeConfigurationLocked(const std::vector<std::string>& services,
                                                         const Credentials& credentials) {
    if (!hasConfig_) {
        OXL_LOG_DEBUG(stateLogger(), "Edge config is unavailable.");
        return false;
    }
    const std::string user = userPart(credentials);
    if (user != configUser_) {
        OXL_LOG_INFO(stateLogger(), "Edge username, " << configUser_
                                                      << ", does not match email address parsed username, "
                                                      << user);
        return false;
    }
    if (recentlyUsedServers()->isRecentlyFailed(configServer_.address)) {
        OXL_LOG_INFO(stateLogger(), "Host queried is not in available hosts.");
        return false;
    }
    // While the renewal the timer starts is on its way, or about to start, the session cookie still holds:
    // requests need not wait for it (a slow edge would hold them all), nor replace it with a full request
    // (under steady traffic one would always get in first and no session would ever be renewed).
    const long at = now();
    const bool renewing = (refreshPending_ || (edgeRefreshTimer_ && edgeRefreshTimer_->isAboutToRun(at))) &&
                          xAuthExpiry(edgeConfig_) > at;
    if (!edgeRefreshTimer_ || edgeRefreshTimer_->isKilled() ||
        (edgeRefreshTimer_->isRefreshTimerExpired(at) && !renewing)) {
        OXL_LOG_INFO(stateLogger(), "Refresh timer expired.");
        return false;
    }
    if (!availableConfigurationSatisfiesRequest(edgeConfig_, services)) {
        OXL_LOG_INFO(stateLogger(), "Edge config does not satisfy requests.");
        return false;
    }
    OXL_LOG_DEBUG(stateLogger(), "Valid Edge Configuration.");
    return true;
}

// ---- one request to the edge servers ----

Result GlobalEdgeStateImpl::executeEdgeConfigRequest(const std::vector<std::string>& services,
                                                     const std::shared_ptr<Credentials>& credentials) {
    if (!hasIdentity(credentials)) {
        OXL_LOG_ERROR(stateLogger(), "Edge Username not available!");
        return Result(Result::CREDENTIALS_NOT_SET);
    }
    std::unique_lock<std::mutex> attempt(serverAttemptMutex_, std::try_to_lock);
    if (!attempt.owns_lock()) {
        OXL_LOG_DEBUG(stateLogger(), "waiting on serverAttemptMutex");
        attempt.lock();
    }
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        // The request this one waited for may have brought what is asked for.
        if (isValidEdgeConfigurationLocked(services, *credentials)) {
            return Result(Result::SUCCESS, edgeConfig_);
        }
        if (credentials_ && !credentials_->isSameCredentials(*credentials)) {
            credentialsFailed_ = false;
        }
        if (credentialsFailed_ && credentials_) {
            OXL_LOG_ERROR(stateLogger(),
                          "Credentials have failed to authenticate with Edge Server previously. "
                          "get_edge_config request will not be sent.");
            return Result(Result::EDGE_AUTHENTICATION_FAILED);
        }
        if (edgeRefreshTimer_ && !edgeRefreshTimer_->isKilled()) {
            OXL_LOG_INFO(stateLogger(), "Killing the actual EdgeRefreshTimer");
            killRefreshTimerLocked();
        }
    }
    Notices notices;
    Result result = walkEdgeServers(services, credentials, notices);
    attempt.unlock();
    deliver(notices);
    return result;
}

std::vector<EdgeServiceLocation> GlobalEdgeStateImpl::serversToWalk() {
    std::vector<EdgeServiceLocation> servers;
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        servers = hasConfig_ ? edgeConfig_.httpEdgeService.serverLocations : lastKnownServers_;
    }
    // The edge servers published in DNS start a walk when no configuration was ever fetched, and stay the
    // last resort when every listed server failed.
    if (detection_) {
        for (const auto& record : detection_->getEdgeServiceRecordData()) {
            const bool listed =
                std::any_of(servers.begin(), servers.end(), [&record](const EdgeServiceLocation& s) {
                    return s.address == record.host && s.tlsPort == record.port;
                });
            if (!listed) {
                servers.emplace_back(record.host, record.port, 0);
            }
        }
    }
    return servers;
}

Result GlobalEdgeStateImpl::walkEdgeServers(const std::vector<std::string>& services,
                                            const std::shared_ptr<Credentials>& credentials,
                                            Notices& notices) {
    const std::vector<EdgeServiceLocation> servers = serversToWalk();
    if (servers.empty()) {
        OXL_LOG_ERROR(stateLogger(), "unexpected condition, the existing list of edge servers is empty");
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        lastResult_ = Result::EDGE_SERVER_CONNECTION_PARAMS_UNAVAILABLE;
        return Result(lastResult_);
    }
    const auto recent = recentlyUsedServers();
    Result::Result result = Result::EDGE_SERVER_CONNECTION_PARAMS_UNAVAILABLE;
    EdgeConfig fetched;
    bool attempted = false;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const EdgeServiceLocation& server = servers[i];
        const bool last = i + 1 == servers.size();
        // When every server failed lately, the last one is still worth a try.
        if (recent->isRecentlyFailed(server.address) && !(last && !attempted)) {
            OXL_LOG_INFO(stateLogger(), "skipping recently failed host : " << server.address);
            continue;
        }
        attempted = true;
        fetched = EdgeConfig();
        const EdgeConfigRequest::Result requestResult =
            attemptServer(server, *credentials, services, false, oxl::common::Cookie(), false, fetched);
        if (requestResult == EdgeConfigRequest::SUCCESS) {
            const Outcome outcome =
                handleSuccessfulEdgeConfigResponse(fetched, server, services, credentials);
            if (outcome == Outcome::STORED || outcome == Outcome::ALREADY_HELD) {
                notices.configAvailable = outcome == Outcome::STORED;
                notices.accepted = credentials;
                result = Result::SUCCESS;
                break;
            }
            if (outcome == Outcome::DISCARDED) {
                result = Result::EDGE_CONNECTIVITY_UNAVAILABLE;
                break;
            }
            result = outcome == Outcome::SERVICES_MISSING ? Result::SERVICE_NAME_UNAVAILABLE
                                                          : Result::INVALID_EDGE_CONFIGURATION;
            continue;
        }
        if (isServerFailure(requestResult)) {
            recordFailedServer(servers, i, requestResult);
        }
        result = mapRequestResult(requestResult);
        if (requestResult == EdgeConfigRequest::AUTHENTICATION_FAILED) {
            OXL_LOG_ERROR(stateLogger(), "Edge Authentication has failed, will not attempt to failover");
            const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
            credentials_ = credentials;
            credentialsFailed_ = true;
            notices.rejected = credentials;
        }
        if (result == Result::EDGE_AUTHENTICATION_FAILED || result == Result::TOO_MANY_REQUESTS) {
            break;
        }
    }
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    lastResult_ = result;
    if (result == Result::SUCCESS) {
        return Result(result, edgeConfig_);
    }
    return Result(result);
}

void GlobalEdgeStateImpl::recordFailedServer(const std::vector<EdgeServiceLocation>& servers,
                                             std::size_t index, EdgeConfigRequest::Result result) {
    if (servers.empty()) {
        OXL_LOG_ERROR(stateLogger(), "unexpected condition, the existing list of edge servers is empty");
        return;
    }
    if (index + 1 == servers.size()) {
        OXL_LOG_INFO(stateLogger(),
                     "server has failed but is the last server on the list so will not be added to "
                     "the list of recently failed servers");
        return;
    }
    addRecentlyFailedServer(servers[index].address, static_cast<unsigned int>(result));
}

bool GlobalEdgeStateImpl::buildEdgeConfigParams(const EdgeServiceLocation& server,
                                                const Credentials& credentials,
                                                const std::vector<std::string>& services, bool isRefresh,
                                                const oxl::common::Cookie& xAuthCookie, bool zeroTtl,
                                                EdgeConfigParams& params) {
    if (server.address.empty() || server.tlsPort == 0) {
        OXL_LOG_ERROR(stateLogger(), "Invalid EdgeServiceLocation, host: " << server.address
                                                                           << ", port: " << server.tlsPort);
        return false;
    }
    params.host = server.address;
    params.port = server.tlsPort;
    params.domain = getEdgeDomain();
    if (!credentials.token.empty()) {
        params.oauthToken = credentials.token;
    } else {
        params.username = userPart(credentials);
        params.password = credentials.password;
    }
    params.serviceNames = services;
    params.isRefresh = isRefresh;
    params.xAuthCookie = xAuthCookie;
    params.zeroTtl = zeroTtl;
    OXL_LOG_INFO(stateLogger(), "get_edge_" << (isRefresh ? "refresh" : "config")
                                            << " request queued with host: " << params.host
                                            << ", port: " << params.port << " and domain: " << params.domain);
    return true;
}

EdgeConfigRequest::Result GlobalEdgeStateImpl::attemptServer(const EdgeServiceLocation& server,
                                                             const Credentials& credentials,
                                                             const std::vector<std::string>& services,
                                                             bool isRefresh,
                                                             const oxl::common::Cookie& xAuthCookie,
                                                             bool zeroTtl, EdgeConfig& config) {
    EdgeConfigParams params;
    if (!buildEdgeConfigParams(server, credentials, services, isRefresh, xAuthCookie, zeroTtl, params)) {
        return EdgeConfigRequest::ILLEGAL_ARGUMENT;
    }
    const auto configRequest = request();
    if (!configRequest) {
        OXL_LOG_ERROR(stateLogger(), "No EdgeConfigRequest to send the request with");
        return EdgeConfigRequest::INTERNAL_ERROR;
    }
    OXL_LOG_INFO(stateLogger(),
                 "Attempting request with host name: " << params.host << ", port: " << params.port);
    const EdgeConfig initial = config;
    EdgeConfigRequest::Result result = configRequest->execute(params, config);
    // Some edges know the user only by the full e-mail address.
    if (result == EdgeConfigRequest::AUTHENTICATION_FAILED && !isRefresh && credentials.token.empty() &&
        params.username != credentials.username) {
        OXL_LOG_INFO(stateLogger(), "Authentication Failed, trying longer form of credentials");
        params.username = credentials.username;
        params.isFullUsername = true;
        config = initial;
        result = configRequest->execute(params, config);
    }
    return result;
}

GlobalEdgeStateImpl::Outcome GlobalEdgeStateImpl::handleSuccessfulEdgeConfigResponse(
    const EdgeConfig& config, const EdgeServiceLocation& server, const std::vector<std::string>& services,
    const std::shared_ptr<Credentials>& credentials) {
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(),
                     "Current State of GlobalEdgeState is onHold - cleaning up any changed state.");
        return Outcome::DISCARDED;
    }
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    if (hasConfig_ && config == edgeConfig_ && edgeRefreshTimer_ && !edgeRefreshTimer_->isKilled()) {
        OXL_LOG_INFO(stateLogger(), "EdgeConfig already handled");
        return Outcome::ALREADY_HELD;
    }
    if (!availableConfigurationSatisfiesRequest(config, services)) {
        OXL_LOG_WARN(stateLogger(), "Edge configuration Service Name unavailable. Attempting to Failover.");
        return Outcome::SERVICES_MISSING;
    }
    const oxl::common::Cookie cookie = getXAuthCookie(config);
    if (cookie.isEmpty() || cookie.getExpirationDate() == 0) {
        OXL_LOG_WARN(stateLogger(),
                     "XAuth Cookie expiration time is invalid or not available. Attempting to Failover.");
        return Outcome::NO_SESSION_COOKIE;
    }
    auto timer = EdgeRefreshTimer::buildInstance(weak_from_this(), cookie.getExpirationDate(),
                                                 static_cast<long>(now()), getTokenRefreshTimeRate());
    if (!timer) {
        OXL_LOG_ERROR(stateLogger(),
                      "Internal Error: Failed to set EdgeRefreshTimer. Attempting to Failover.");
        return Outcome::NO_TIMER;
    }
    replaceRefreshTimerLocked(std::move(timer));
    edgeConfig_ = config;
    hasConfig_ = true;
    configServer_ = server;
    configUser_ = userPart(*credentials);
    requestedServices_ = services;
    lastKnownServers_ = config.httpEdgeService.serverLocations;
    credentials_ = credentials;
    credentialsFailed_ = false;
    recentlyUsedServers()->addSuccessfulServer(server.address, config);
    return Outcome::STORED;
}

void GlobalEdgeStateImpl::deliver(const Notices& notices) {
    const auto manager = getCredentialsManager();
    // The manager is the host's code: what it throws stays on its side.
    try {
        if (manager && notices.rejected) {
            manager->onCredentialsRejected(*notices.rejected);
        }
        if (manager && notices.accepted) {
            manager->onCredentialsAccepted(*notices.accepted);
        }
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(stateLogger(), "The CredentialsManager threw: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(stateLogger(), "The CredentialsManager threw");
    }
    if (notices.configAvailable) {
        enqueueTask(std::make_shared<NotifyObserversEdgeConfigIsAvailable>(weak_from_this()));
    }
}

}  // namespace oxl::edge

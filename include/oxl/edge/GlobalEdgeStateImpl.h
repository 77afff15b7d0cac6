// The process-wide keeper of the edge session: visibility from the edge detection controller, the
// credentials from a CredentialsManager, the edge configuration fetched from the HTTP edge servers (walked
// in order, recently failed ones skipped), its renewal by EdgeRefreshTimer before the session cookie
// expires, and the observers. Requests and notices run on the "GlobEdgeState" pool.
//
// Locks, in the order they are taken: serverAttemptMutex_ (one request to the edge at a time), then
// visibilityUpdateMutex_, visibilityMutex_, edgeConfigMutex_. observersMutex_ is taken alone; onHoldMutex_
// and componentsMutex_ (like the RecentlyUsedServers' own lock) are leaves that may be taken under any of
// them. Observers, listeners and the credentials manager are called without any of them held.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "oxl/common/PolicyDriven.h"
#include "oxl/edge/EdgeConfigRequest.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/edge/PolicyDrivenEdgeVisibility.h"
#include "oxl/runtime/TestHook.h"
#include "oxl/runtime/ThreadPool.h"
#include "oxl/sysmon/SystemMonitor.h"

namespace oxl::edge {

class EdgeRefreshTimer;
class RecentlyUsedServers;

class GlobalEdgeStateImpl : public GlobalEdgeState,
                            public OXLSystemMonitor::AppEventObserver,
                            public oxl::common::PolicyDriven,
                            public std::enable_shared_from_this<GlobalEdgeStateImpl> {
    struct Token {};

  public:
    static constexpr const char* POOL_NAME = "GlobEdgeState";
    static constexpr unsigned int POOL_MAX_THREADS = 10;
    static constexpr unsigned int POOL_IDLE_TIMEOUT_SEC = 60;
    static constexpr float DEFAULT_REFRESH_RATE = 0.7F;

    // Seconds since 1970.
    using Clock = std::function<std::int64_t()>;

    // Registers for the detection controller's visibility changes, the system monitor's application events
    // and default-policy changes (all weakly). Nothing is queried yet.
    static std::shared_ptr<GlobalEdgeStateImpl> build(std::shared_ptr<EdgeConfigRequest> request,
                                                      std::shared_ptr<EdgeDetectionController> detection,
                                                      const std::string& edgeDomain);
    GlobalEdgeStateImpl(Token, std::shared_ptr<EdgeConfigRequest> request,
                        std::shared_ptr<EdgeDetectionController> detection, const std::string& edgeDomain);
    ~GlobalEdgeStateImpl() override;

    void onVisibilityChange() override;
    bool isEdgeConnectivityAvailable() override;
    bool isInternalConnectivityAvailable() override;
    void addObserver(const std::shared_ptr<GlobalEdgeStateObserver>& observer) override;
    void removeObserver(const std::shared_ptr<GlobalEdgeStateObserver>& observer) override;
    std::shared_ptr<Credentials> getEdgeCredentials() override;
    GetEdgeConfigurationResult getEdgeConfiguration(const std::vector<std::string>& services) override;
    GetEdgeConfigurationResult getEdgeConfiguration() override;
    GetEdgeConfigurationResult getEdgeConfigurationAsync(
        const std::vector<std::string>& services,
        const std::shared_ptr<GetEdgeConfigurationListener>& listener, RequestId& requestId) override;
    GetEdgeConfigurationResult getEdgeConfigurationAsync(
        const std::shared_ptr<GetEdgeConfigurationListener>& listener, RequestId& requestId) override;
    std::string getEdgeDomain() override;
    void setEdgeDomain(const std::string& domain) override;
    void removeEdgeConfig() override;
    TerminateEdgeSessionResult::Result terminateEdgeSession() override;
    std::shared_ptr<CredentialsManager> getCredentialsManager() override;
    void setCredentialsManager(std::shared_ptr<CredentialsManager> manager) override;
    void setEdgeInfrastructureEventController(
        std::shared_ptr<EdgeInfrastructureEventController> controller) override;
    void setEdgeConfigRequest(std::shared_ptr<EdgeConfigRequest> request) override;
    bool addRecentlyFailedServer(const std::string& server, unsigned int errorCode) override;
    bool isOnHold() override;
    std::shared_ptr<EdgeDetectionController> getEdgeDetectionController() override;

    // Only the wake-up-in-background event matters: an expired refresh timer is replaced by a refresh now.
    void onAppEvent(OXLSystemMonitor::AppEventType type) override;

    // Puts the state on hold (queries answer "unavailable", observers are not told) and ends the edge
    // session if visibility was ever reported. setEdgeDomain makes it active again.
    void stop();

    void setRecentlyUsedServers(std::shared_ptr<RecentlyUsedServers> servers);
    std::shared_ptr<RecentlyUsedServers> getRecentlyUsedServers();
    // Process-wide. 0 clears the override of the fire time that the expiry checks use.
    static void setRefreshTimerFireTime(long fireTime);
    // Process-wide; outside (0, 1] it is refused.
    static void setTokenRefreshTimeRate(float rate);
    static float getTokenRefreshTimeRate();

    // The edge server the held configuration came from (empty when none is held).
    EdgeServiceLocation getCurrentEdgeServer();
    // Seconds the current refresh timer was armed for and its fire time; 0 without a live timer.
    long getRefreshTimerSeconds();
    long getRefreshTimerFireTime();
    OXL_TEST_HOOK void setClockForTesting(Clock clock);

    // Used by the timer and the pool's tasks. scheduleRefresh only queues the refresh (it takes no lock).
    void scheduleRefresh();
    void refreshEdgeConfiguration();
    GetEdgeConfigurationResult runAsyncRequest(const std::vector<std::string>& services);
    void notifyObserversOfConfigAvailable();
    void enqueueTask(const std::shared_ptr<oxl::Task>& task);

  private:
    // What a request found out that others must hear once the locks are released.
    struct Notices {
        std::shared_ptr<Credentials> accepted;
        std::shared_ptr<Credentials> rejected;
        bool configAvailable = false;
    };
    enum class Outcome { STORED, ALREADY_HELD, SERVICES_MISSING, NO_SESSION_COOKIE, NO_TIMER, DISCARDED };

    // visibility and observers
    void updateVisibilityInfo();
    void ensureVisibilityInfo();
    bool isVisibilityInitialised();
    void notifyObserversOfVisibilityChange();
    // Calls `call` on a copy of the observer list, without locks, unless the state is on hold.
    void notifyObservers(const char* what, const std::function<void(GlobalEdgeStateObserver&)>& call);

    // retrieval (GlobalEdgeStateImplRequest.cpp)
    std::optional<GetEdgeConfigurationResult> answerFromHeldState(const std::vector<std::string>& services,
                                                                  std::shared_ptr<Credentials>& credentials);
    bool isValidEdgeConfigurationLocked(const std::vector<std::string>& services,
                                        const Credentials& credentials);
    GetEdgeConfigurationResult executeEdgeConfigRequest(const std::vector<std::string>& services,
                                                        const std::shared_ptr<Credentials>& credentials);
    GetEdgeConfigurationResult walkEdgeServers(const std::vector<std::string>& services,
                                               const std::shared_ptr<Credentials>& credentials,
                                               Notices& notices);
    std::vector<EdgeServiceLocation> serversToWalk();
    EdgeConfigRequest::Result attemptServer(const EdgeServiceLocation& server, const Credentials& credentials,
                                            const std::vector<std::string>& services, bool isRefresh,
                                            const oxl::common::Cookie& xAuthCookie, bool zeroTtl,
                                            EdgeConfig& config);
    bool buildEdgeConfigParams(const EdgeServiceLocation& server, const Credentials& credentials,
                               const std::vector<std::string>& services, bool isRefresh,
                               const oxl::common::Cookie& xAuthCookie, bool zeroTtl,
                               EdgeConfigParams& params);
    void recordFailedServer(const std::vector<EdgeServiceLocation>& servers, std::size_t index,
                            EdgeConfigRequest::Result result);
    Outcome handleSuccessfulEdgeConfigResponse(const EdgeConfig& config, const EdgeServiceLocation& server,
                                               const std::vector<std::string>& services,
                                               const std::shared_ptr<Credentials>& credentials);
    void deliver(const Notices& notices);

    // session cookie and timer (GlobalEdgeStateImplRefresh.cpp)
    void replaceRefreshTimerLocked(std::shared_ptr<EdgeRefreshTimer> timer);
    void killRefreshTimerLocked();
    void removeEdgeConfigLocked();

    std::int64_t now();
    std::shared_ptr<EdgeConfigRequest> request();
    std::shared_ptr<RecentlyUsedServers> recentlyUsedServers();

    const std::shared_ptr<EdgeDetectionController> detection_;
    std::shared_ptr<VisibilityChangeObserver> visibilityForwarder_;
    std::unique_ptr<oxl::ThreadPool> pool_;

    std::mutex onHoldMutex_;
    bool onHold_ = false;

    std::mutex visibilityUpdateMutex_;
    std::mutex visibilityMutex_;
    bool internalVisibility_ = false;
    PolicyDrivenEdgeVisibility edgeVisibility_{false};
    bool visibilityInitialised_ = false;

    std::mutex edgeConfigMutex_;
    bool hasConfig_ = false;
    EdgeConfig edgeConfig_;
    std::vector<std::string> requestedServices_;
    GetEdgeConfigurationResult::Result lastResult_ =
        GetEdgeConfigurationResult::EDGE_CONNECTIVITY_UNAVAILABLE;
    std::string edgeDomain_;
    std::shared_ptr<Credentials> credentials_;  // the ones last used with the edge
    bool credentialsFailed_ = false;
    std::string configUser_;  // user part the held configuration was fetched for
    EdgeServiceLocation configServer_;
    std::vector<EdgeServiceLocation> lastKnownServers_;  // HTTP edge servers of the last configuration
    std::shared_ptr<EdgeRefreshTimer> edgeRefreshTimer_;
    std::shared_ptr<EdgeRefreshTimer> oldEdgeRefreshTimer_;

    std::mutex observersMutex_;
    std::vector<std::shared_ptr<GlobalEdgeStateObserver>> observers_;

    std::mutex serverAttemptMutex_;
    // From the moment a refresh is queued until it has ended; lock-free because the timer sets it.
    std::atomic<bool> refreshPending_{false};

    std::mutex componentsMutex_;
    std::shared_ptr<EdgeConfigRequest> request_;
    std::shared_ptr<RecentlyUsedServers> recentlyUsedServers_;
    std::shared_ptr<CredentialsManager> credentialsManager_;
    std::weak_ptr<EdgeInfrastructureEventController> infrastructureController_;
    Clock clock_;
};

}  // namespace oxl::edge

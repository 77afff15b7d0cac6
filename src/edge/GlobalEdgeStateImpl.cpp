#include "oxl/edge/GlobalEdgeStateImpl.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <exception>
#include <utility>

#include "common/SystemClock.h"
#include "edge/GlobalEdgeStateLog.h"
#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/edge/EdgeRefreshTimer.h"
#include "oxl/edge/RecentlyUsedServers.h"

namespace oxl::edge {

namespace {

std::atomic<float>& refreshRate() {
    static std::atomic<float> rate{GlobalEdgeStateImpl::DEFAULT_REFRESH_RATE};
    return rate;
}

// Registered with the detection controller instead of the state itself, which holds the controller: the
// controller keeps its observers alive, and a strong reference back would keep both forever.
class VisibilityForwarder : public VisibilityChangeObserver {
  public:
    explicit VisibilityForwarder(std::weak_ptr<GlobalEdgeStateImpl> state) : state_(std::move(state)) {}
    void onVisibilityChange() override {
        if (auto state = state_.lock()) {
            state->onVisibilityChange();
        }
    }

  private:
    std::weak_ptr<GlobalEdgeStateImpl> state_;
};

}  // namespace

std::atomic<long>& detail::refreshFireTimeOverride() {
    static std::atomic<long> fireTime{0};
    return fireTime;
}

std::shared_ptr<GlobalEdgeStateImpl> GlobalEdgeStateImpl::build(
    std::shared_ptr<EdgeConfigRequest> request, std::shared_ptr<EdgeDetectionController> detection,
    const std::string& edgeDomain) {
    auto state =
        std::make_shared<GlobalEdgeStateImpl>(Token{}, std::move(request), std::move(detection), edgeDomain);
    state->edgeVisibility_.setPolicyDriver(std::weak_ptr<oxl::common::PolicyDriven>(state));
    oxl::common::DefaultPoliciesStore::registerForDefaultPoliciesChanges(
        std::weak_ptr<oxl::common::DefaultPoliciesStoreObserver>(state));
    OXLSystemMonitor::SystemMonitorFactory::getInstance()->registerAppEventObserver(
        std::weak_ptr<OXLSystemMonitor::AppEventObserver>(state));
    if (state->detection_) {
        state->visibilityForwarder_ = std::make_shared<VisibilityForwarder>(state);
        state->detection_->registerVisibilityChangeObserver(state->visibilityForwarder_);
    }
    return state;
}

GlobalEdgeStateImpl::GlobalEdgeStateImpl(Token, std::shared_ptr<EdgeConfigRequest> request,
                                         std::shared_ptr<EdgeDetectionController> detection,
                                         const std::string& edgeDomain)
    : PolicyDriven(true),
      detection_(std::move(detection)),
      pool_(std::make_unique<oxl::ThreadPool>(0, POOL_MAX_THREADS, POOL_NAME, POOL_IDLE_TIMEOUT_SEC)),
      edgeDomain_(edgeDomain),
      request_(std::move(request)),
      recentlyUsedServers_(std::make_shared<RecentlyUsedServers>()),
      clock_(oxl::common::systemSeconds) {
    OXL_LOG_INFO(stateLogger(), "GlobalEdgeState created for edge domain " << edgeDomain);
}

GlobalEdgeStateImpl::~GlobalEdgeStateImpl() {
    OXLSystemMonitor::SystemMonitorFactory::getInstance()->deregisterAppEventObserver(this);
    if (detection_ && visibilityForwarder_) {
        detection_->unregisterVisibilityChangeObserver(visibilityForwarder_);
    }
    // Queued tasks only hold the state weakly; the timers are killed by their own destructors.
    pool_.reset();
}

// ---- visibility ----

void GlobalEdgeStateImpl::updateVisibilityInfo() {
    const std::lock_guard<std::mutex> update(visibilityUpdateMutex_);
    // Asked outside visibilityMutex_: the first question may wait for DNS.
    const bool internal = detection_ ? detection_->isOnPremServerAvailable() : false;
    const bool edge = detection_ ? detection_->isEdgeAvailable() : false;
    {
        const std::lock_guard<std::mutex> lock(visibilityMutex_);
        internalVisibility_ = internal;
        edgeVisibility_.setVisible(edge);
        visibilityInitialised_ = true;
    }
    OXL_LOG_INFO(stateLogger(),
                 "GlobalEdgeState: Visibility Info came from EdgeDetectionController. Internal "
                 "Visibility: "
                     << internal << ", Edge Visibility: " << edge);
}

bool GlobalEdgeStateImpl::isVisibilityInitialised() {
    const std::lock_guard<std::mutex> lock(visibilityMutex_);
    return visibilityInitialised_;
}

void GlobalEdgeStateImpl::ensureVisibilityInfo() {
    if (!isVisibilityInitialised()) {
        updateVisibilityInfo();
        notifyObserversOfVisibilityChange();
    }
}

void GlobalEdgeStateImpl::onVisibilityChange() {
    if (isOnHold()) {
        OXL_LOG_INFO(stateLogger(),
                     "Current State of GlobalEdgeState is onHold - ignoring onVisibilityChange event.");
        return;
    }
    updateVisibilityInfo();
    notifyObserversOfVisibilityChange();
}

bool GlobalEdgeStateImpl::isEdgeConnectivityAvailable() {
    if (isOnHold()) {
        OXL_LOG_DEBUG(
            stateLogger(),
            "Current State of GlobalEdgeState is onHold - isEdgeConnectivityAvailable will return false.");
        return false;
    }
    ensureVisibilityInfo();
    PolicyDrivenEdgeVisibility edge(false);
    {
        const std::lock_guard<std::mutex> lock(visibilityMutex_);
        edge = edgeVisibility_;
    }
    // The policy is consulted outside the lock: it takes the policy set's own.
    const bool visible = edge.isVisible();
    OXL_LOG_DEBUG(stateLogger(), "Edge Visibility: " << visible);
    return visible;
}

bool GlobalEdgeStateImpl::isInternalConnectivityAvailable() {
    if (isOnHold()) {
        OXL_LOG_DEBUG(stateLogger(),
                      "Current State of GlobalEdgeState is onHold - isInternalConnectivityAvailable "
                      "will return false.");
        return false;
    }
    ensureVisibilityInfo();
    bool internal = false;
    {
        const std::lock_guard<std::mutex> lock(visibilityMutex_);
        internal = internalVisibility_;
    }
    OXL_LOG_DEBUG(stateLogger(), "Internal Visibility: " << internal);
    return internal;
}

// ---- observers ----

void GlobalEdgeStateImpl::addObserver(const std::shared_ptr<GlobalEdgeStateObserver>& observer) {
    if (!observer) {
        OXL_LOG_WARN(stateLogger(), "Ignoring a null GlobalEdgeStateObserver");
        return;
    }
    const std::lock_guard<std::mutex> lock(observersMutex_);
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
        observers_.push_back(observer);
    }
}

void GlobalEdgeStateImpl::removeObserver(const std::shared_ptr<GlobalEdgeStateObserver>& observer) {
    const std::lock_guard<std::mutex> lock(observersMutex_);
    std::erase(observers_, observer);
}

void GlobalEdgeStateImpl::notifyObserversOfVisibilityChange() {
    notifyObservers("visibility changes", [](GlobalEdgeStateObserver& o) { o.onVisibilityChanged(); });
}

void GlobalEdgeStateImpl::notifyObserversOfConfigAvailable() {
    notifyObservers("config available", [](GlobalEdgeStateObserver& o) { o.onEdgeConfigAvailable(); });
}

void GlobalEdgeStateImpl::notifyObservers(const char* what,
                                          const std::function<void(GlobalEdgeStateObserver&)>& call) {
    std::vector<std::shared_ptr<GlobalEdgeStateObserver>> observers;
    {
        const std::lock_guard<std::mutex> lock(observersMutex_);
        observers = observers_;
    }
    const bool onHold = isOnHold();
    if (onHold) {
        OXL_LOG_INFO(stateLogger(), "Will not notify observers for "
                                        << what << " because abortObserverNotification is: true");
        return;
    }
    OXL_LOG_DEBUG(stateLogger(),
                  "Notifying Observers, count is " << observers.size() << ", onHold is: " << onHold);
    for (const auto& observer : observers) {
        // Observers are the host's code: what they throw stays on their side.
        try {
            call(*observer);
        } catch (const std::exception& e) {
            OXL_LOG_ERROR(stateLogger(), "A GlobalEdgeStateObserver threw: " << e.what());
        } catch (...) {
            OXL_LOG_ERROR(stateLogger(), "A GlobalEdgeStateObserver threw");
        }
    }
}

void GlobalEdgeStateImpl::enqueueTask(const std::shared_ptr<oxl::Task>& task) {
    pool_->enqueue(task);
}

// ---- credentials and components ----

std::shared_ptr<Credentials> GlobalEdgeStateImpl::getEdgeCredentials() {
    const auto manager = getCredentialsManager();
    if (!manager) {
        OXL_LOG_ERROR(stateLogger(), "Unable to get Edge Configuration. CredentialsManager is NULL");
        return nullptr;
    }
    return manager->getCredentials();
}

std::shared_ptr<CredentialsManager> GlobalEdgeStateImpl::getCredentialsManager() {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    return credentialsManager_;
}

void GlobalEdgeStateImpl::setCredentialsManager(std::shared_ptr<CredentialsManager> manager) {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    credentialsManager_ = std::move(manager);
}

void GlobalEdgeStateImpl::setEdgeInfrastructureEventController(
    std::shared_ptr<EdgeInfrastructureEventController> controller) {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    infrastructureController_ = controller;
}

void GlobalEdgeStateImpl::setEdgeConfigRequest(std::shared_ptr<EdgeConfigRequest> request) {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    request_ = std::move(request);
}

std::shared_ptr<EdgeConfigRequest> GlobalEdgeStateImpl::request() {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    return request_;
}

void GlobalEdgeStateImpl::setRecentlyUsedServers(std::shared_ptr<RecentlyUsedServers> servers) {
    if (!servers) {
        OXL_LOG_WARN(stateLogger(), "Ignoring a null RecentlyUsedServers");
        return;
    }
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    recentlyUsedServers_ = std::move(servers);
}

std::shared_ptr<RecentlyUsedServers> GlobalEdgeStateImpl::getRecentlyUsedServers() {
    return recentlyUsedServers();
}

std::shared_ptr<RecentlyUsedServers> GlobalEdgeStateImpl::recentlyUsedServers() {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    return recentlyUsedServers_;
}

bool GlobalEdgeStateImpl::addRecentlyFailedServer(const std::string& server, unsigned int errorCode) {
    return recentlyUsedServers()->addFailedServer(server, errorCode);
}

std::shared_ptr<EdgeDetectionController> GlobalEdgeStateImpl::getEdgeDetectionController() {
    return detection_;
}

void GlobalEdgeStateImpl::setClockForTesting(Clock clock) {
    const std::lock_guard<std::mutex> lock(componentsMutex_);
    clock_ = clock ? std::move(clock) : Clock(oxl::common::systemSeconds);
}

std::int64_t GlobalEdgeStateImpl::now() {
    Clock clock;
    {
        const std::lock_guard<std::mutex> lock(componentsMutex_);
        clock = clock_;
    }
    return clock();
}

void GlobalEdgeStateImpl::setRefreshTimerFireTime(long fireTime) {
    OXL_LOG_INFO(stateLogger(), "GlobalEdgeState: Setting refresh timer fire time to: " << fireTime);
    detail::refreshFireTimeOverride() = fireTime;
}

void GlobalEdgeStateImpl::setTokenRefreshTimeRate(float rate) {
    if (!(rate > 0.0F && rate <= 1.0F)) {
        OXL_LOG_ERROR(stateLogger(), "GlobalEdgeState: Refusing token refresh time rate "
                                         << rate << ", keeping " << refreshRate().load());
        return;
    }
    OXL_LOG_INFO(stateLogger(), "GlobalEdgeState: Setting token refresh time rate to: " << rate);
    refreshRate() = rate;
}

float GlobalEdgeStateImpl::getTokenRefreshTimeRate() {
    return refreshRate();
}

// ---- domain and hold ----

std::string GlobalEdgeStateImpl::getEdgeDomain() {
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    return edgeDomain_;
}

void GlobalEdgeStateImpl::setEdgeDomain(const std::string& domain) {
    {
        const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
        if (domain == edgeDomain_) {
            OXL_LOG_INFO(stateLogger(), "Edge Domain: " << domain << " is not changed.");
        } else {
            OXL_LOG_INFO(stateLogger(), "Setting edge domain from: " << edgeDomain_ << "to: " << domain);
            edgeDomain_ = domain;
            // A configuration and session belong to the domain they were fetched for.
            if (hasConfig_) {
                removeEdgeConfigLocked();
            }
        }
    }
    bool wasOnHold = false;
    {
        const std::lock_guard<std::mutex> lock(onHoldMutex_);
        wasOnHold = std::exchange(onHold_, false);
    }
    if (wasOnHold) {
        OXL_LOG_INFO(stateLogger(),
                     "GlobalEdgeState status changed from onHold to active. Updating Connectivity info.");
        std::shared_ptr<EdgeInfrastructureEventController> infrastructure;
        {
            const std::lock_guard<std::mutex> lock(componentsMutex_);
            infrastructure = infrastructureController_.lock();
        }
        if (infrastructure) {
            infrastructure->clearOnHold();
        }
        updateVisibilityInfo();
        notifyObserversOfVisibilityChange();
    }
}

bool GlobalEdgeStateImpl::isOnHold() {
    const std::lock_guard<std::mutex> lock(onHoldMutex_);
    return onHold_;
}

void GlobalEdgeStateImpl::stop() {
    OXL_LOG_INFO(stateLogger(), "Stopping GlobalEdgeState -putting status to onHold.");
    bool visibilityReported = false;
    {
        const std::lock_guard<std::mutex> visibility(visibilityMutex_);
        const std::lock_guard<std::mutex> config(edgeConfigMutex_);
        const std::lock_guard<std::mutex> hold(onHoldMutex_);
        onHold_ = true;
        visibilityReported = visibilityInitialised_;
    }
    std::shared_ptr<EdgeInfrastructureEventController> infrastructure;
    {
        const std::lock_guard<std::mutex> lock(componentsMutex_);
        infrastructure = infrastructureController_.lock();
    }
    if (infrastructure) {
        infrastructure->setOnHold();
    }
    if (visibilityReported) {
        const auto result = terminateEdgeSession();
        OXL_LOG_INFO(stateLogger(), "Edge session ended on stop: " << result);
    }
    OXL_LOG_INFO(stateLogger(),
                 "Current State of GlobalEdgeState is onHold - cleaning up any changed state.");
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    removeEdgeConfigLocked();
}

// ---- application events ----

void GlobalEdgeStateImpl::onAppEvent(OXLSystemMonitor::AppEventType type) {
    if (type != OXLSystemMonitor::AppEventType::WAKEUP_IN_BACKGROUND) {
        OXL_LOG_DEBUG(stateLogger(), "Ignoring application event " << type);
        return;
    }
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    if (!edgeRefreshTimer_) {
        OXL_LOG_INFO(stateLogger(), "No EdgeRefreshTimer, ignoring WakeupInBackground event");
        return;
    }
    if (!edgeRefreshTimer_->isRefreshTimerExpired(now())) {
        OXL_LOG_INFO(stateLogger(), "WakeupInBackground Event, edgeRefreshTimer not expired, ignoring");
        return;
    }
    OXL_LOG_INFO(stateLogger(), "WakeupInBackground Event, edgeRefreshTimer expired");
    if (!edgeRefreshTimer_->killRefreshTimer()) {
        OXL_LOG_INFO(stateLogger(), "ignoring background wakeup event, as existing timer is not killable");
        return;
    }
    OXL_LOG_INFO(stateLogger(), "Starting the edge refresh triggered by iOSBackground Event");
    scheduleRefresh();
}

// ---- diagnostics ----

EdgeServiceLocation GlobalEdgeStateImpl::getCurrentEdgeServer() {
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    return hasConfig_ ? configServer_ : EdgeServiceLocation();
}

long GlobalEdgeStateImpl::getRefreshTimerSeconds() {
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    return edgeRefreshTimer_ && !edgeRefreshTimer_->isKilled() ? edgeRefreshTimer_->getSeconds() : 0;
}

long GlobalEdgeStateImpl::getRefreshTimerFireTime() {
    const std::lock_guard<std::mutex> lock(edgeConfigMutex_);
    return edgeRefreshTimer_ && !edgeRefreshTimer_->isKilled() ? edgeRefreshTimer_->getFireTime() : 0;
}

}  // namespace oxl::edge

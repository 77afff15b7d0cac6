// The infrastructure event controller on its own reactor thread ("Edge Infr Ctrl"). A failed edge server is
// recorded with the global edge state; when the whole cluster failed, or when single servers failed over
// too often within the monitoring window, the edge configuration is thrown away and fetched again from
// the servers still available, at most once per re-fetch period.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "oxl/common/Reactor.h"
#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/runtime/TestHook.h"

namespace oxl::edge {

class GlobalEdgeState;

class EdgeInfrastructureEventControllerImpl : public EdgeInfrastructureEventController,
                                              public oxl::common::Reactor {
    struct Token {};

  public:
    static constexpr const char* REACTOR_NAME = "Edge Infr Ctrl";
    static constexpr unsigned int DEFAULT_MINIMUM_REFETCH_PERIOD_SEC = 60;
    static constexpr unsigned int DEFAULT_FAILOVER_MONITORING_WINDOW_SEC = 90;
    static constexpr unsigned int DEFAULT_FAILOVER_THRESHOLD = 2;
    // Error codes recorded for the failed server.
    static constexpr unsigned int CONNECTION_FAILED_ERROR = 4;
    static constexpr unsigned int UNRESOLVED_HOST_ERROR = 6;
    static constexpr unsigned int SERVER_ERROR = 8;

    // Seconds since 1970.
    using Clock = std::function<std::int64_t()>;

    static std::shared_ptr<EdgeInfrastructureEventControllerImpl> build(
        std::shared_ptr<GlobalEdgeState> globalEdgeState);
    EdgeInfrastructureEventControllerImpl(Token, std::shared_ptr<GlobalEdgeState> globalEdgeState);
    ~EdgeInfrastructureEventControllerImpl() override;

    // Starts the serving thread; events queued before are then processed.
    void start();
    // Ends the thread (queued events are dropped) and forgets the times of the last check and re-fetch.
    void stop() override;

    void setOnHold() override;
    void clearOnHold() override;
    bool isOnHold() const;
    void enqueue(std::unique_ptr<EdgeInfrastructureEvent> event) override;

    std::unique_ptr<EdgeInfrastructureEvent> createEdgeOauthExpiredEvent(const std::string& server) override;
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeAuthenticationRequiredEvent(
        const std::string& server) override;
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeConnectionFailedEvent(const std::string& server,
                                                                             bool clusterFailed) override;
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeUnresolvedHostEvent(const std::string& server,
                                                                           bool clusterFailed) override;
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeNextHopFailedEvent(const std::string& server) override;
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeInternalServerErrorEvent(
        const std::string& server) override;
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeServiceUnavailableEvent(
        const std::string& server) override;

    void setMinimumRefetchPeriodInSeconds(unsigned int seconds);
    void setFailoverMonitoringWindowsInSeconds(unsigned int seconds);
    // Replaces the system clock (tests move time by hand).
    OXL_TEST_HOOK void setClockForTesting(Clock clock);
    // How many re-fetches were started (for tests and diagnostics).
    unsigned int getRefetchCount() const;

  protected:
    void processEvent(const oxl::common::Reactor::Event* event) override;

  private:
    void handleConnectionFailure(const std::string& server, bool clusterFailed, unsigned int errorCode);
    void handleOauthExpired();
    bool isFailoverTooFrequent();
    void refetchEdgeConfigFromAvailableServers();
    std::int64_t now() const;

    const std::shared_ptr<GlobalEdgeState> globalEdgeState_;

    mutable std::mutex mutex_;
    Clock clock_;
    std::int64_t lastRefetchTime_ = 0;
    std::int64_t lastFailoverCheckTime_ = 0;
    unsigned int minimumRefetchPeriodSec_ = DEFAULT_MINIMUM_REFETCH_PERIOD_SEC;
    unsigned int failoverMonitoringWindowSec_ = DEFAULT_FAILOVER_MONITORING_WINDOW_SEC;
    unsigned int failoverThreshold_ = DEFAULT_FAILOVER_THRESHOLD;
    std::deque<std::int64_t> failoverTimestamps_;
    bool onHold_ = false;
    unsigned int refetchCount_ = 0;
};

}  // namespace oxl::edge

// The transition controller on its own reactor thread ("Edge Tran Ctrl"): owns both direct-connect state
// machines and the address-change monitor, and forwards what the machines find to its observers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "oxl/common/Reactor.h"
#include "oxl/edge/DetectDirectConnectAvailableFsm.h"
#include "oxl/edge/DetectDirectConnectUnavailableFsm.h"
#include "oxl/edge/DirectConnectFsmSettings.h"
#include "oxl/edge/EdgeTransitionDetectionController.h"
#include "oxl/runtime/TestHook.h"

namespace oxl::edge {

class IpInterfaceChangeMonitor;

class EdgeTransitionDetectionControllerImpl
    : public EdgeTransitionDetectionController,
      public oxl::common::Reactor,
      public std::enable_shared_from_this<EdgeTransitionDetectionControllerImpl> {
    struct Token {};

  public:
    static constexpr const char* REACTOR_NAME = "Edge Tran Ctrl";

    static std::shared_ptr<EdgeTransitionDetectionControllerImpl> build();
    explicit EdgeTransitionDetectionControllerImpl(Token);
    ~EdgeTransitionDetectionControllerImpl() override;

    // Creates and starts both machines, the event thread and the address-change monitor.
    void start() override;
    // Ends the monitor and the event thread; queued events are not processed.
    void stop() override;
    // Drops queued events and, unless stopped, replaces both machines by new, started ones.
    void reset() override;
    // At most one address change waits in the queue: one arriving while another is pending is dropped,
    // since the pending one's probes run after both.
    void enqueueEvent(std::unique_ptr<ControllerEvent> event) override;
    void registerInternalConnectivityObserver(
        const std::shared_ptr<InternalConnectivityObserver>& observer) override;

    void notifyDirectConnectAvailable(std::uint32_t seq, const ServiceRecord& record,
                                      const std::string& eventName) override;
    void notifyDirectConnectUnavailable(std::uint32_t seq, const std::string& eventName) override;
    void notifyEdgeConnectAvailable(std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
                                    const std::string& eventName) override;
    void notifyEdgeConnectUnavailable(std::uint32_t seq, const std::string& eventName) override;
    void notifyDirectAndEdgeConnectUnavailable(std::uint32_t seq, const std::string& eventName) override;
    void notifyDirectConnectUnavailableAndEdgeConnectAvailable(
        std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
        const std::string& eventName) override;
    void notifyConfirmingDirectConnectivity(std::uint32_t seq, const std::string& eventName) override;

    // Test seams, used by the machines instead of their own testers and DNS-backed edge sensor.
    OXL_TEST_HOOK void setMockDirectConnectivityTester(std::shared_ptr<NetworkTester> tester);
    OXL_TEST_HOOK void setMockInternalNetworkVisibilityTester(
        std::shared_ptr<InternalNetworkVisibilityTester> tester);
    OXL_TEST_HOOK void setMockEdgeServiceSensor(std::shared_ptr<BriselEdgeServiceSensor> sensor);
    // Delay, limit and tolerance of the inside machine's delayed sensing, in milliseconds.
    OXL_TEST_HOOK void setDelayedSensingDelayForTestOnly(std::int64_t delayMs, std::int64_t limitMs,
                                                         std::int64_t toleranceMs);
    // The outside machine's poll retry, retry-schedule period and retry-schedule window, in milliseconds
    // (before start()): a deployment or a sandbox that wants transitions noticed sooner than the defaults.
    void setPollingSchedule(std::uint32_t pollRetryDelayMs, std::uint32_t retryPeriodMs,
                            std::uint32_t retryWindowMs);
    // Without the monitor no address change of the host reaches the machines (before start()).
    void setIpInterfaceChangeMonitorEnabled(bool enabled);

    std::string getDetectDirectConnectAvailableFsmState() const;
    std::string getDetectDirectConnectUnavailableFsmState() const;
    DetectDirectConnectAvailableFsm::Statistics getDetectDirectConnectAvailableFsmStatistics() const;
    DetectDirectConnectUnavailableFsm::Statistics getDetectDirectConnectUnavailableFsmStatistics() const;
    bool isStopped() const;

  protected:
    void processEvent(const oxl::common::Reactor::Event* event) override;

  private:
    void createMachinesLocked();
    void dispatch(const ControllerEvent& event);
    template <typename Call>
    void notifyListeners(const char* text, Call call);

    // Guards the machines and their settings; held while an event is processed (re-entrant, so that an
    // observer may read the machines' states from its callback).
    mutable std::recursive_mutex machinesMutex_;
    std::unique_ptr<DetectDirectConnectAvailableFsm> availableFsm_;
    std::unique_ptr<DetectDirectConnectUnavailableFsm> unavailableFsm_;
    DirectConnectFsmSettings settings_;

    std::mutex listenersMutex_;
    std::set<std::weak_ptr<InternalConnectivityObserver>,
             std::owner_less<std::weak_ptr<InternalConnectivityObserver>>>
        listeners_;

    // Whether an address-change event is queued or sleeping out its delay; shared with that event.
    std::shared_ptr<std::atomic<bool>> changePending_ = std::make_shared<std::atomic<bool>>(false);

    mutable std::mutex lifecycleMutex_;
    bool stopped_ = true;
    bool monitorEnabled_ = true;
    std::unique_ptr<IpInterfaceChangeMonitor> monitor_;
};

}  // namespace oxl::edge

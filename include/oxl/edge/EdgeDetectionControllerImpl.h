// The edge detection controller: evaluates the sensors lazily, keeps visibility and records current from the
// transition controller's findings and delivers notices on its "EdgeVisiChange" and "EdgeNetSense" pools.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "oxl/common/PolicyDriven.h"
#include "oxl/edge/BriselEdgeServiceSensor.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/EnterpriseNetworkSensor.h"
#include "oxl/edge/InternalConnectivityObserver.h"
#include "oxl/edge/PolicyDrivenEdgeVisibility.h"
#include "oxl/runtime/TestHook.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::edge {

class EdgeDetectionControllerImpl : public EdgeDetectionController,
                                    public InternalConnectivityObserver,
                                    public oxl::common::PolicyDriven,
                                    public NetworkSensingHints,
                                    public std::enable_shared_from_this<EdgeDetectionControllerImpl> {
    struct Token {};

  public:
    static constexpr unsigned int WORKER_IDLE_TIMEOUT_SEC = 60;

    // Registers the controller for default-policy changes; nothing is queried yet.
    static std::shared_ptr<EdgeDetectionControllerImpl> build(std::string internalDomain,
                                                              std::string externalDomain);
    EdgeDetectionControllerImpl(Token, std::string internalDomain, std::string externalDomain);
    ~EdgeDetectionControllerImpl() override;

    bool isEdgeAvailable() override;
    bool isOnPremServerAvailable() override;
    std::vector<EdgeServiceRecordData> getEdgeServiceRecordData() override;
    std::vector<ServiceRecord> getInternalServiceRecords(bool forceReevaluation) override;
    void enqueueProperEdgeTransitionEvent() override;
    void registerVisibilityChangeObserver(const std::shared_ptr<VisibilityChangeObserver>& observer) override;
    void unregisterVisibilityChangeObserver(
        const std::shared_ptr<VisibilityChangeObserver>& observer) override;
    void registerNetworkSensingObserver(const std::shared_ptr<NetworkSensingObserver>& observer) override;
    void unregisterNetworkSensingObserver(const std::shared_ptr<NetworkSensingObserver>& observer) override;
    void setDomains(const std::string& internalDomain, const std::string& externalDomain) override;
    void setEdgeTransitionDetectionController(
        std::shared_ptr<EdgeTransitionDetectionController> controller) override;
    std::shared_ptr<EdgeTransitionDetectionController> getEdgeTransitionDetectionController() override;
    void stop() override;
    std::shared_ptr<NetworkSensingHints> getNetworkSensingHints() override;

    // InternalConnectivityObserver: called on the transition controller's event thread.
    void onInternalConnectivityAvailable(std::uint32_t seq, const ServiceRecord& record,
                                         const std::string& eventName) override;
    void onInternalConnectivityUnavailable(std::uint32_t seq, const std::string& eventName) override;
    void onEdgeConnectivityAvailable(std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
                                     const std::string& eventName) override;
    void onEdgeConnectivityUnavailable(std::uint32_t seq, const std::string& eventName) override;
    void onInternalAndEdgeConnectivityUnavailable(std::uint32_t seq, const std::string& eventName) override;
    void onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(
        std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
        const std::string& eventName) override;
    void onConfirmingDirectConnectivity(std::uint32_t seq, const std::string& eventName) override;

    // NetworkSensingHints: turned into events of the transition controller.
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override;
    void hintNetworkStackNotReady(const std::string& label) override;
    void hintNetworkIsInUse(const std::string& label) override;
    void hintHostOsIpInterfaceChanged(const std::string& label) override;

    // Re-reads the default policies and tells the observers when that changed the reported edge visibility.
    void onDefaultPoliciesStoreUpdate() override;

    void setInternalNetworkSensor(std::shared_ptr<EnterpriseNetworkSensor> sensor);
    void setEdgeServiceSensorExternal(std::shared_ptr<BriselEdgeServiceSensor> sensor);
    // Clears visibility and both record lists.
    OXL_TEST_HOOK void resetForTesting() override;

    std::string getInternalDomain() const;
    std::string getExternalDomain() const;
    bool isStopped() const { return stopped_.load(); }

  private:
    void ensureInitialised(bool forceReevaluation);
    void initData(bool forceReevaluation);
    void gatherEdgeConnectivity(std::uint32_t seq);
    bool updateInternalConnectivity(std::uint32_t seq, bool visible);
    // (srvRecordsUpdated, edgeConnectivityChanged)
    std::pair<bool, bool> updateEdgeConnectivity(std::uint32_t seq, bool available,
                                                 const std::vector<EdgeServiceRecordData>& records);
    void notifyVisibilityObservers();
    void notifySensingObservers(bool internalChanged, bool edgeChanged, const std::string& eventName);
    // Runs the notices of a callback unless stop() came meanwhile.
    void finishCallback(bool notifyVisibility, bool internalChanged, bool edgeChanged,
                        const std::string& eventName);
    void forwardHint(const char* operation, const std::string& label, std::unique_ptr<ControllerEvent> event);
    void recordVisibilityDiagnostics(const char* key, bool visible) const;

    mutable std::mutex dataMutex_;
    bool initialised_ = false;
    bool edgeGathered_ = false;
    std::uint32_t lastInternalEventSeq_ = 0;
    std::uint32_t lastEdgeEventSeq_ = 0;
    bool internalVisibility_ = false;
    PolicyDrivenEdgeVisibility edgeVisibility_{false};
    std::vector<EdgeServiceRecordData> edgeServiceRecords_;
    std::vector<ServiceRecord> internalServiceRecords_;
    std::shared_ptr<EnterpriseNetworkSensor> internalNetworkSensor_;
    std::shared_ptr<BriselEdgeServiceSensor> edgeServiceSensor_;
    std::string internalDomain_;
    std::string externalDomain_;

    std::mutex visibilityObserversMutex_;
    std::set<std::shared_ptr<VisibilityChangeObserver>> visibilityObservers_;
    std::mutex sensingObserversMutex_;
    std::set<std::shared_ptr<NetworkSensingObserver>> sensingObservers_;

    mutable std::mutex transitionControllerMutex_;
    std::shared_ptr<EdgeTransitionDetectionController> transitionController_;

    std::shared_ptr<oxl::ThreadPool> visibilityWorker_;
    std::shared_ptr<oxl::ThreadPool> sensingWorker_;

    // Orders stop() against callbacks; re-entrant because callbacks call stop() while holding it.
    std::recursive_mutex stopMutex_;
    std::atomic<bool> stopped_{false};
};

}  // namespace oxl::edge

#include "oxl/edge/EdgeDetectionControllerImpl.h"

#include <algorithm>
#include <iterator>
#include <sstream>

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/SequenceNumber.h"
#include "oxl/diag/Diagnostics.h"
#include "oxl/edge/NetworkSensingEventTask.h"
#include "oxl/edge/VisibilityChangedTask.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

// The delay the address-change monitor gives an interface change to settle.
constexpr std::uint32_t HOST_INTERFACE_CHANGE_DELAY_MS = 300;

std::string recordsText(const std::vector<EdgeServiceRecordData>& records) {
    std::ostringstream os;
    for (size_t i = 0; i < records.size(); ++i) {
        os << (i == 0 ? "" : ", ") << "[" << records[i] << "]";
    }
    return os.str();
}
}  // namespace

std::shared_ptr<EdgeDetectionControllerImpl> EdgeDetectionControllerImpl::build(std::string internalDomain,
                                                                                std::string externalDomain) {
    auto controller = std::make_shared<EdgeDetectionControllerImpl>(Token{}, std::move(internalDomain),
                                                                    std::move(externalDomain));
    oxl::common::DefaultPoliciesStore::registerForDefaultPoliciesChanges(
        std::weak_ptr<oxl::common::DefaultPoliciesStoreObserver>(controller));
    controller->edgeVisibility_.setPolicyDriver(std::weak_ptr<oxl::common::PolicyDriven>(controller));
    return controller;
}

EdgeDetectionControllerImpl::EdgeDetectionControllerImpl(Token, std::string internalDomain,
                                                         std::string externalDomain)
    : PolicyDriven(true),
      internalNetworkSensor_(std::make_shared<EnterpriseNetworkSensor>(
          EnterpriseNetworkSensorStrategy::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, internalDomain)),
      edgeServiceSensor_(std::make_shared<BriselEdgeServiceSensor>(
          BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD, externalDomain)),
      internalDomain_(std::move(internalDomain)),
      externalDomain_(std::move(externalDomain)),
      visibilityWorker_(std::make_shared<oxl::ThreadPool>(1, 1, "EdgeVisiChange", WORKER_IDLE_TIMEOUT_SEC)),
      sensingWorker_(std::make_shared<oxl::ThreadPool>(1, 1, "EdgeNetSense", WORKER_IDLE_TIMEOUT_SEC)) {}

EdgeDetectionControllerImpl::~EdgeDetectionControllerImpl() = default;

// ---- public queries ----

void EdgeDetectionControllerImpl::recordVisibilityDiagnostics(const char* key, bool visible) const {
    OXLDiagnostics::DiagnosticsWrapper::AddRecord(0, 0, key, visible ? "Visible" : "Not Visible", 1, "");
}

bool EdgeDetectionControllerImpl::isEdgeAvailable() {
    ensureInitialised(false);
    bool visible = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        visible = edgeVisibility_.isVisible();
    }
    recordVisibilityDiagnostics("Edge Visibility", visible);
    return visible;
}

bool EdgeDetectionControllerImpl::isOnPremServerAvailable() {
    ensureInitialised(false);
    bool visible = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        visible = internalVisibility_;
    }
    recordVisibilityDiagnostics("Internal Visibility", visible);
    return visible;
}

std::vector<EdgeServiceRecordData> EdgeDetectionControllerImpl::getEdgeServiceRecordData() {
    ensureInitialised(false);
    std::lock_guard<std::mutex> lock(dataMutex_);
    return edgeServiceRecords_;
}

std::vector<ServiceRecord> EdgeDetectionControllerImpl::getInternalServiceRecords(bool forceReevaluation) {
    ensureInitialised(forceReevaluation);
    std::lock_guard<std::mutex> lock(dataMutex_);
    return internalServiceRecords_;
}

std::string EdgeDetectionControllerImpl::getInternalDomain() const {
    std::lock_guard<std::mutex> lock(dataMutex_);
    return internalDomain_;
}

std::string EdgeDetectionControllerImpl::getExternalDomain() const {
    std::lock_guard<std::mutex> lock(dataMutex_);
    return externalDomain_;
}

// ---- initialisation ----

void EdgeDetectionControllerImpl::ensureInitialised(bool forceReevaluation) {
    if (stopped_) {
        return;
    }
    bool oldInternal = false;
    PolicyDrivenEdgeVisibility oldEdge(false);
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        oldInternal = internalVisibility_;
        oldEdge = edgeVisibility_;
        if (forceReevaluation || !initialised_ || !edgeGathered_) {
            initData(forceReevaluation);
            changed = true;
        }
    }
    if (!changed) {
        std::lock_guard<std::recursive_mutex> stopLock(stopMutex_);
        if (stopped_) {
            stop();
        }
        return;
    }
    bool internalChanged = false;
    bool edgeChanged = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        internalChanged = internalVisibility_ != oldInternal;
        edgeChanged = edgeVisibility_ != oldEdge;
    }
    finishCallback(true, internalChanged, edgeChanged, "GatherInitialVisibility");
}

void EdgeDetectionControllerImpl::initData(bool forceReevaluation) {
    if (!forceReevaluation && initialised_) {
        if (!edgeGathered_) {
            edgeGathered_ = true;
            gatherEdgeConnectivity(oxl::common::SequenceNumber::getSequenceNumber());
        }
        return;
    }
    initialised_ = true;
    ServiceRecord record;
    if (internalNetworkSensor_) {
        internalVisibility_ = internalNetworkSensor_->evaluate(record);
    } else {
        OXL_LOG_ERROR(logger(),
                      "The internalNetworkSensor_ object was NULL. The default value of "
                      "internalVisibility_ will be used:"
                          << internalVisibility_);
    }
    internalServiceRecords_.clear();
    if (!record.serviceName.empty()) {
        if (!record.endpoints.empty()) {
            internalServiceRecords_.push_back(record);
        }
    } else {
        OXL_LOG_ERROR(logger(),
                      "No internal service records have been found while initialising data in "
                      "EdgeDetectionController.");
    }
    if (!edgeGathered_) {
        edgeGathered_ = true;
        gatherEdgeConnectivity(oxl::common::SequenceNumber::getSequenceNumber());
    }
}

void EdgeDetectionControllerImpl::gatherEdgeConnectivity(std::uint32_t seq) {
    if (!edgeServiceSensor_) {
        OXL_LOG_ERROR(logger(), "BriselEdgeServiceSensor is NULL!");
        return;
    }
    lastEdgeEventSeq_ = seq;
    std::vector<EdgeServiceRecordData> found;
    edgeVisibility_.setVisible(edgeServiceSensor_->evaluate(std::back_inserter(found)));
    const bool visible = edgeVisibility_.isVisible();
    OXL_LOG_INFO(logger(),
                 "Finished evaluation with BriselEdgeServiceSensor. Edge Connectivity is " << visible);
    if (!visible) {
        return;
    }
    if (found.empty()) {
        OXL_LOG_ERROR(logger(),
                      "Unexpected Condition: Edge Server information is not available, setting Edge "
                      "connectivity to be unavailable");
        edgeVisibility_.setVisible(false);
        return;
    }
    for (const auto& record : found) {
        if (std::find(edgeServiceRecords_.begin(), edgeServiceRecords_.end(), record) ==
            edgeServiceRecords_.end()) {
            edgeServiceRecords_.push_back(record);
        }
    }
}

// ---- state updates (dataMutex held) ----

bool EdgeDetectionControllerImpl::updateInternalConnectivity(std::uint32_t seq, bool visible) {
    if (seq <= lastInternalEventSeq_) {
        OXL_LOG_ERROR(logger(), "Events arrived out of sequence (current: "
                                    << seq << " last processed event: " << lastInternalEventSeq_
                                    << "), ignoring.");
        return false;
    }
    const bool changed = internalVisibility_ != visible;
    lastInternalEventSeq_ = seq;
    internalVisibility_ = visible;
    return changed;
}

std::pair<bool, bool> EdgeDetectionControllerImpl::updateEdgeConnectivity(
    std::uint32_t seq, bool available, const std::vector<EdgeServiceRecordData>& records) {
    bool srvRecordsUpdated = false;
    bool edgeConnectivityChanged = false;
    if (seq <= lastEdgeEventSeq_) {
        OXL_LOG_ERROR(logger(), "Events arrived out of sequence (current: "
                                    << seq << " last processed event: " << lastEdgeEventSeq_
                                    << "), ignoring.");
    } else {
        // Compared as reported, i.e. both through the same edge capability policy.
        PolicyDrivenEdgeVisibility candidate = edgeVisibility_;
        candidate.setVisible(available);
        edgeConnectivityChanged = edgeVisibility_ != candidate;
        lastEdgeEventSeq_ = seq;
        if (!available) {
            edgeVisibility_.setVisible(false);
        } else {
            std::vector<EdgeServiceRecordData> merged;
            for (const auto& current : edgeServiceRecords_) {
                if (std::find(records.begin(), records.end(), current) != records.end()) {
                    merged.push_back(current);
                }
            }
            for (const auto& fresh : records) {
                if (std::find(edgeServiceRecords_.begin(), edgeServiceRecords_.end(), fresh) ==
                    edgeServiceRecords_.end()) {
                    merged.push_back(fresh);
                }
            }
            edgeVisibility_.setVisible(true);
            if (merged != edgeServiceRecords_) {
                edgeServiceRecords_ = std::move(merged);
                if (edgeVisibility_.isVisible()) {
                    srvRecordsUpdated = true;
                } else {
                    OXL_LOG_DEBUG(logger(), "not setting edgeSrvRecordsChanged when Edge is disabled");
                }
            }
        }
    }
    OXL_LOG_INFO(logger(), "Edge Connectivity Changed: "
                               << edgeConnectivityChanged << " Srv Records Updated: " << srvRecordsUpdated
                               << " Srv Records: " << recordsText(edgeServiceRecords_));
    return {srvRecordsUpdated, edgeConnectivityChanged};
}

// ---- notifications ----

void EdgeDetectionControllerImpl::finishCallback(bool notifyVisibility, bool internalChanged,
                                                 bool edgeChanged, const std::string& eventName) {
    std::lock_guard<std::recursive_mutex> stopLock(stopMutex_);
    if (stopped_) {
        stop();
        return;
    }
    if (notifyVisibility) {
        notifyVisibilityObservers();
    }
    notifySensingObservers(internalChanged, edgeChanged, eventName);
}

void EdgeDetectionControllerImpl::notifyVisibilityObservers() {
    std::vector<std::shared_ptr<VisibilityChangeObserver>> observers;
    {
        std::lock_guard<std::mutex> lock(visibilityObserversMutex_);
        observers.assign(visibilityObservers_.begin(), visibilityObservers_.end());
    }
    OXL_LOG_DEBUG(logger(), "Notifying Observers, onVisibilityChanged, count is " << observers.size());
    if (stopped_) {
        return;
    }
    enqueueProperEdgeTransitionEvent();
    visibilityWorker_->enqueue(std::make_shared<VisibilityChangedTask>(std::move(observers)));
}

void EdgeDetectionControllerImpl::notifySensingObservers(bool internalChanged, bool edgeChanged,
                                                         const std::string& eventName) {
    bool internal = false;
    bool edge = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        internal = internalVisibility_;
        edge = edgeVisibility_.isVisible();
    }
    std::vector<std::shared_ptr<NetworkSensingObserver>> observers;
    {
        std::lock_guard<std::mutex> lock(sensingObserversMutex_);
        observers.assign(sensingObservers_.begin(), sensingObservers_.end());
    }
    OXL_LOG_DEBUG(logger(), "Notifying Observers, onNetworkSensingEvent, count is "
                                << observers.size() << " internalChanged " << internalChanged
                                << " edgeChanged " << edgeChanged << " internal " << internal << " edge "
                                << edge << " event " << eventName);
    if (stopped_) {
        return;
    }
    NetworkSensingEvent event(internalChanged, edgeChanged, internal, edge, eventName);
    sensingWorker_->enqueue(
        std::make_shared<NetworkSensingEventTask>(std::move(event), std::move(observers)));
}

void EdgeDetectionControllerImpl::enqueueProperEdgeTransitionEvent() {
    if (stopped_) {
        return;
    }
    OXL_LOG_INFO(logger(), "About to enqueue Proper Edge Transition Event.");
    auto controller = getEdgeTransitionDetectionController();
    if (!controller) {
        OXL_LOG_ERROR(logger(), "EdgeTransitionDetectionController not initialised!. ");
        return;
    }
    DetectionParameters parameters;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        parameters.domainName = internalDomain_;
        parameters.externalDomainName = externalDomain_;
        parameters.internalNetworkSensor = internalNetworkSensor_;
    }
    std::unique_ptr<ControllerEvent> event;
    if (isOnPremServerAvailable()) {
        OXL_LOG_DEBUG(
            logger(),
            "OnPremServer available. About to create and enqueue StartMonitoringFromInside Event. ");
        event = EdgeTransitionDetectionController::createStartMonitoringFromInsideEvent(parameters);
    } else {
        OXL_LOG_DEBUG(
            logger(),
            "OnPremServer unavailable. About to create and enqueue StartPollingFromOutside Event. ");
        event = EdgeTransitionDetectionController::createStartPollingFromOutsideEvent(parameters);
    }
    controller->enqueueEvent(std::move(event));
}

// ---- observers ----

void EdgeDetectionControllerImpl::registerVisibilityChangeObserver(
    const std::shared_ptr<VisibilityChangeObserver>& observer) {
    if (!observer) {
        return;
    }
    std::lock_guard<std::mutex> lock(visibilityObserversMutex_);
    visibilityObservers_.insert(observer);
}

void EdgeDetectionControllerImpl::unregisterVisibilityChangeObserver(
    const std::shared_ptr<VisibilityChangeObserver>& observer) {
    std::lock_guard<std::mutex> lock(visibilityObserversMutex_);
    visibilityObservers_.erase(observer);
}

void EdgeDetectionControllerImpl::registerNetworkSensingObserver(
    const std::shared_ptr<NetworkSensingObserver>& observer) {
    if (!observer) {
        return;
    }
    std::lock_guard<std::mutex> lock(sensingObserversMutex_);
    sensingObservers_.insert(observer);
}

void EdgeDetectionControllerImpl::unregisterNetworkSensingObserver(
    const std::shared_ptr<NetworkSensingObserver>& observer) {
    std::lock_guard<std::mutex> lock(sensingObserversMutex_);
    sensingObservers_.erase(observer);
}

// ---- lifecycle ----

void EdgeDetectionControllerImpl::setEdgeTransitionDetectionController(
    std::shared_ptr<EdgeTransitionDetectionController> controller) {
    {
        std::lock_guard<std::mutex> lock(transitionControllerMutex_);
        transitionController_ = controller;
    }
    // Registered without holding any lock of ours: the transition controller calls us under its own.
    if (controller && !stopped_) {
        controller->registerInternalConnectivityObserver(shared_from_this());
    }
}

std::shared_ptr<EdgeTransitionDetectionController>
EdgeDetectionControllerImpl::getEdgeTransitionDetectionController() {
    std::lock_guard<std::mutex> lock(transitionControllerMutex_);
    return transitionController_;
}

void EdgeDetectionControllerImpl::stop() {
    OXL_LOG_DEBUG(logger(), "Stopping EdgeDetectionController");
    std::lock_guard<std::recursive_mutex> stopLock(stopMutex_);
    stopped_ = true;
    visibilityWorker_->clear();
    sensingWorker_->clear();
    std::lock_guard<std::mutex> lock(dataMutex_);
    internalDomain_.clear();
    externalDomain_.clear();
    internalNetworkSensor_.reset();
    edgeServiceSensor_.reset();
    initialised_ = false;
    edgeGathered_ = false;
    edgeVisibility_.setVisible(false);
    internalServiceRecords_.clear();
    edgeServiceRecords_.clear();
}

void EdgeDetectionControllerImpl::setDomains(const std::string& internalDomain,
                                             const std::string& externalDomain) {
    std::string oldInternal;
    std::string oldExternal;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        if (internalDomain == internalDomain_ && externalDomain == externalDomain_ && !stopped_) {
            OXL_LOG_DEBUG(logger(), "No change in domain, returning");
            return;
        }
        oldInternal = internalDomain_;
        oldExternal = externalDomain_;
    }
    {
        std::lock_guard<std::recursive_mutex> stopLock(stopMutex_);
        stop();
        stopped_ = false;
    }
    OXL_LOG_INFO(logger(), "Domains are changed: Previous values: internal domain: "
                               << oldInternal << ", external domain: " << oldExternal
                               << " New values: internal domain: " << internalDomain
                               << ", external domain: " << externalDomain);
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        internalDomain_ = internalDomain;
        externalDomain_ = externalDomain;
        internalNetworkSensor_ = std::make_shared<EnterpriseNetworkSensor>(
            EnterpriseNetworkSensorStrategy::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, internalDomain);
        edgeServiceSensor_ = std::make_shared<BriselEdgeServiceSensor>(
            BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD, externalDomain);
    }
    if (auto controller = getEdgeTransitionDetectionController()) {
        controller->reset();
        controller->registerInternalConnectivityObserver(shared_from_this());
    }
    ensureInitialised(false);
}

// ---- InternalConnectivityObserver ----

void EdgeDetectionControllerImpl::onInternalConnectivityAvailable(std::uint32_t seq,
                                                                  const ServiceRecord& record,
                                                                  const std::string& eventName) {
    if (stopped_) {
        return;
    }
    bool internalChanged = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        initialised_ = true;
        internalServiceRecords_.clear();
        if (!record.serviceName.empty() && !record.endpoints.empty()) {
            internalServiceRecords_.push_back(record);
        } else {
            OXL_LOG_ERROR(logger(),
                          "No internal service records are available after receiving the "
                          "onInternalConnectivityAvailable callback.");
        }
        internalChanged = updateInternalConnectivity(seq, true);
    }
    finishCallback(internalChanged, internalChanged, false, eventName);
}

void EdgeDetectionControllerImpl::onInternalConnectivityUnavailable(std::uint32_t seq,
                                                                    const std::string& eventName) {
    if (stopped_) {
        return;
    }
    bool internalChanged = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        initialised_ = true;
        internalServiceRecords_.clear();
        internalChanged = updateInternalConnectivity(seq, false);
    }
    finishCallback(internalChanged, internalChanged, false, eventName);
}

void EdgeDetectionControllerImpl::onEdgeConnectivityAvailable(
    std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records, const std::string& eventName) {
    if (stopped_) {
        return;
    }
    std::pair<bool, bool> result;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        edgeGathered_ = true;
        result = updateEdgeConnectivity(seq, true, records);
    }
    const auto [updated, edgeChanged] = result;
    finishCallback(edgeChanged || updated, false, edgeChanged, eventName);
}

void EdgeDetectionControllerImpl::onEdgeConnectivityUnavailable(std::uint32_t seq,
                                                                const std::string& eventName) {
    if (stopped_) {
        return;
    }
    std::pair<bool, bool> result;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        edgeGathered_ = true;
        result = updateEdgeConnectivity(seq, false, {});
    }
    const auto [updated, edgeChanged] = result;
    finishCallback(edgeChanged || updated, false, edgeChanged, eventName);
}

void EdgeDetectionControllerImpl::onInternalAndEdgeConnectivityUnavailable(std::uint32_t seq,
                                                                           const std::string& eventName) {
    if (stopped_) {
        return;
    }
    bool internalChanged = false;
    std::pair<bool, bool> result;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        initialised_ = true;
        edgeGathered_ = true;
        internalServiceRecords_.clear();
        internalChanged = updateInternalConnectivity(seq, false);
        result = updateEdgeConnectivity(seq, false, {});
    }
    const auto [updated, edgeChanged] = result;
    finishCallback(internalChanged || edgeChanged || updated, internalChanged, edgeChanged, eventName);
}

void EdgeDetectionControllerImpl::onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(
    std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records, const std::string& eventName) {
    if (stopped_) {
        return;
    }
    bool internalChanged = false;
    std::pair<bool, bool> result;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        initialised_ = true;
        edgeGathered_ = true;
        internalServiceRecords_.clear();
        internalChanged = updateInternalConnectivity(seq, false);
        result = updateEdgeConnectivity(seq, true, records);
    }
    const auto [updated, edgeChanged] = result;
    finishCallback(internalChanged || edgeChanged || updated, internalChanged, edgeChanged, eventName);
}

void EdgeDetectionControllerImpl::onConfirmingDirectConnectivity(std::uint32_t seq,
                                                                 const std::string& eventName) {
    if (stopped_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        if (seq <= lastInternalEventSeq_) {
            OXL_LOG_ERROR(logger(), "Events arrived out of sequence (current: "
                                        << seq << " last processed event: " << lastInternalEventSeq_
                                        << "), ignoring.");
        } else {
            lastInternalEventSeq_ = seq;
        }
    }
    finishCallback(false, false, false, eventName);
}

// ---- hints ----

std::shared_ptr<NetworkSensingHints> EdgeDetectionControllerImpl::getNetworkSensingHints() {
    return shared_from_this();
}

void EdgeDetectionControllerImpl::forwardHint(const char* operation, const std::string& label,
                                              std::unique_ptr<ControllerEvent> event) {
    if (stopped_) {
        OXL_LOG_DEBUG(logger(),
                      operation << " '" << label << "' ignored: EdgeDetectionController is stopped.");
        return;
    }
    auto controller = getEdgeTransitionDetectionController();
    if (!controller) {
        OXL_LOG_WARN(logger(),
                     operation << " '" << label << "' ignored: no EdgeTransitionDetectionController.");
        return;
    }
    OXL_LOG_INFO(logger(), operation << " '" << label << "': enqueueing " << event->toString());
    controller->enqueueEvent(std::move(event));
}

void EdgeDetectionControllerImpl::hintNetworkInterfaceMightHaveDropped(const std::string& label) {
    forwardHint("hintNetworkInterfaceMightHaveDropped", label,
                EdgeTransitionDetectionController::createHintNetworkInterfaceDroppedEvent());
}

void EdgeDetectionControllerImpl::hintNetworkStackNotReady(const std::string& label) {
    forwardHint("hintNetworkStackNotReady", label,
                EdgeTransitionDetectionController::createHintNetworkStackNotReadyEvent());
}

void EdgeDetectionControllerImpl::hintNetworkIsInUse(const std::string& label) {
    forwardHint("hintNetworkIsInUse", label, EdgeTransitionDetectionController::createNetworkActivityEvent());
}

void EdgeDetectionControllerImpl::hintHostOsIpInterfaceChanged(const std::string& label) {
    forwardHint(
        "hintHostOsIpInterfaceChanged", label,
        EdgeTransitionDetectionController::createIpInterfaceChangedEvent(HOST_INTERFACE_CHANGE_DELAY_MS));
}

// ---- policies and test seams ----

void EdgeDetectionControllerImpl::onDefaultPoliciesStoreUpdate() {
    OXL_LOG_DEBUG(logger(), "Default Policy Store has been updated");
    bool before = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        before = edgeVisibility_.isVisible();
    }
    PolicyDriven::onDefaultPoliciesStoreUpdate();
    bool after = false;
    {
        std::lock_guard<std::mutex> lock(dataMutex_);
        after = edgeVisibility_.isVisible();
    }
    if (before == after) {
        return;
    }
    OXL_LOG_INFO(logger(), "Edge Visibility Changed due to Policy, notifying observers");
    std::lock_guard<std::recursive_mutex> stopLock(stopMutex_);
    if (stopped_) {
        return;
    }
    notifyVisibilityObservers();
    notifySensingObservers(false, true, "EdgeCapabilityChange");
}

void EdgeDetectionControllerImpl::setInternalNetworkSensor(std::shared_ptr<EnterpriseNetworkSensor> sensor) {
    std::lock_guard<std::mutex> lock(dataMutex_);
    internalNetworkSensor_ = std::move(sensor);
}

void EdgeDetectionControllerImpl::setEdgeServiceSensorExternal(
    std::shared_ptr<BriselEdgeServiceSensor> sensor) {
    std::lock_guard<std::mutex> lock(dataMutex_);
    edgeServiceSensor_ = std::move(sensor);
}

void EdgeDetectionControllerImpl::resetForTesting() {
    std::lock_guard<std::mutex> lock(dataMutex_);
    internalVisibility_ = false;
    edgeVisibility_.setVisible(false);
    internalServiceRecords_.clear();
    edgeServiceRecords_.clear();
}

}  // namespace oxl::edge

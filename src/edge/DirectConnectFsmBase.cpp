#include "oxl/edge/DirectConnectFsmBase.h"

#include <iterator>

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

DirectConnectFsmBase::ControllerEventTimer::ControllerEventTimer(
    std::weak_ptr<EdgeTransitionDetectionController> controller, std::string label, std::string eventName,
    MakeEvent makeEvent)
    : controller_(std::move(controller)),
      label_(std::move(label)),
      eventName_(std::move(eventName)),
      makeEvent_(std::move(makeEvent)) {}

void DirectConnectFsmBase::ControllerEventTimer::onTimer() {
    OXL_LOG_INFO(logger(), label_);
    auto controller = controller_.lock();
    if (!controller) {
        OXL_LOG_DEBUG(logger(), "Unable to lock EdgeTransitionDetectionController, will not enqueue a "
                                    << eventName_ << ".");
        return;
    }
    controller->enqueueEvent(makeEvent_());
}

DirectConnectFsmBase::DirectConnectFsmBase(std::string name,
                                           std::weak_ptr<EdgeTransitionDetectionController> controller,
                                           DirectConnectFsmSettings settings)
    : name_(std::move(name)), controller_(std::move(controller)), settings_(std::move(settings)) {}

DirectConnectFsmBase::~DirectConnectFsmBase() = default;

void DirectConnectFsmBase::logProcessing(const std::string& state, const std::string& event) {
    OXL_LOG_DEBUG(logger(), "Processing event " << event << " in state " << state);
}

void DirectConnectFsmBase::logIgnoring(const std::string& state, const std::string& event) {
    OXL_LOG_DEBUG(logger(), "Ignoring event " << event << " in state " << state);
}

bool DirectConnectFsmBase::acceptsEvents() const {
    if (!started_) {
        OXL_LOG_DEBUG(logger(), name_ << "Fsm is not started! Ignore FsmEvent.");
    }
    return started_;
}

std::shared_ptr<EdgeTransitionDetectionController> DirectConnectFsmBase::lockController(
    const char* operation) const {
    auto controller = controller_.lock();
    if (!controller) {
        OXL_LOG_DEBUG(logger(),
                      "Unable to lock EdgeTransitionDetectionController, will not " << operation << ".");
    }
    return controller;
}

bool DirectConnectFsmBase::probeInternalVisibility(ServiceRecord& record) {
    if (settings_.mockInternalNetworkVisibilityTester) {
        const bool seen = settings_.mockInternalNetworkVisibilityTester->test();
        record = settings_.mockInternalNetworkVisibilityTester->getInternalServiceRecord();
        return seen;
    }
    internalTester_ = std::make_unique<InternalNetworkVisibilityTester>(
        parameters_.domainName, parameters_.serverEndpoints, parameters_.internalNetworkSensor);
    const bool seen = internalTester_->test();
    record = internalTester_->getInternalServiceRecord();
    return seen;
}

ServiceRecord DirectConnectFsmBase::internalServiceRecord() const {
    if (settings_.mockInternalNetworkVisibilityTester) {
        return settings_.mockInternalNetworkVisibilityTester->getInternalServiceRecord();
    }
    return internalTester_ ? internalTester_->getInternalServiceRecord() : ServiceRecord();
}

bool DirectConnectFsmBase::evaluateEdgeRecords(std::vector<EdgeServiceRecordData>& records) {
    if (settings_.edgeServiceSensor) {
        return settings_.edgeServiceSensor->evaluate(std::back_inserter(records));
    }
    BriselEdgeServiceSensor sensor(BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD,
                                   parameters_.externalDomainName);
    return sensor.evaluate(std::back_inserter(records));
}

}  // namespace oxl::edge

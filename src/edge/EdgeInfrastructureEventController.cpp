#include "oxl/edge/EdgeInfrastructureEventController.h"

#include <mutex>
#include <utility>

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

void noImplementation() {
    OXL_LOG_WARN(logger(), "No implementation provided for EdgeInfrastructureEventController");
}

struct Instance {
    std::mutex mutex;
    std::shared_ptr<EdgeInfrastructureEventController> controller;
};

// Never destroyed: events may still be reported while static objects go away.
Instance& instance() {
    static auto* holder = new Instance();
    return *holder;
}

}  // namespace

EdgeInfrastructureEventController::~EdgeInfrastructureEventController() = default;

void EdgeInfrastructureEventController::setOnHold() {
    noImplementation();
}

void EdgeInfrastructureEventController::clearOnHold() {
    noImplementation();
}

void EdgeInfrastructureEventController::enqueue(std::unique_ptr<EdgeInfrastructureEvent>) {
    noImplementation();
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventController::createEdgeOauthExpiredEvent(
    const std::string&) {
    noImplementation();
    return nullptr;
}

std::unique_ptr<EdgeInfrastructureEvent>
EdgeInfrastructureEventController::createEdgeAuthenticationRequiredEvent(const std::string&) {
    noImplementation();
    return nullptr;
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventController::createEdgeConnectionFailedEvent(
    const std::string&, bool) {
    noImplementation();
    return nullptr;
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventController::createEdgeUnresolvedHostEvent(
    const std::string&, bool) {
    noImplementation();
    return nullptr;
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventController::createEdgeNextHopFailedEvent(
    const std::string&) {
    noImplementation();
    return nullptr;
}

std::unique_ptr<EdgeInfrastructureEvent>
EdgeInfrastructureEventController::createEdgeInternalServerErrorEvent(const std::string&) {
    noImplementation();
    return nullptr;
}

std::unique_ptr<EdgeInfrastructureEvent> EdgeInfrastructureEventController::createEdgeServiceUnavailableEvent(
    const std::string&) {
    noImplementation();
    return nullptr;
}

std::shared_ptr<EdgeInfrastructureEventController> EdgeInfrastructureEventController::getInstance() {
    auto& holder = instance();
    const std::lock_guard<std::mutex> lock(holder.mutex);
    if (!holder.controller) {
        holder.controller = std::make_shared<EdgeInfrastructureEventController>();
    }
    return holder.controller;
}

void EdgeInfrastructureEventController::setInstance(
    std::shared_ptr<EdgeInfrastructureEventController> controller) {
    std::shared_ptr<EdgeInfrastructureEventController> replaced;
    {
        auto& holder = instance();
        const std::lock_guard<std::mutex> lock(holder.mutex);
        replaced = std::exchange(holder.controller, std::move(controller));
    }
    // `replaced` may stop a reactor thread when it goes: outside the lock.
}

}  // namespace oxl::edge

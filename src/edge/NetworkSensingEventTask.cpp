#include "oxl/edge/NetworkSensingEventTask.h"

#include <exception>

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

NetworkSensingEventTask::NetworkSensingEventTask(
    NetworkSensingEvent event, std::vector<std::shared_ptr<NetworkSensingObserver>> observers)
    : event_(std::move(event)), observers_(std::move(observers)) {}

void NetworkSensingEventTask::execute() {
    for (const auto& observer : observers_) {
        OXL_LOG_DEBUG(logger(), "Notifying observer of onNetworkSensingEvent.");
        // One failing observer must not keep the others from hearing about it or end the pool thread.
        try {
            observer->onNetworkSensingEvent(event_);
        } catch (const std::exception& e) {
            OXL_LOG_ERROR(logger(), "Observer threw from onNetworkSensingEvent: " << e.what());
        } catch (...) {
            OXL_LOG_ERROR(logger(), "Observer threw from onNetworkSensingEvent");
        }
    }
}

}  // namespace oxl::edge

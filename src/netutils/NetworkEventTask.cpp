#include "netutils/NetworkEventTask.h"

#include <utility>

#include "oxl/log/Log.h"
#include "oxl/netutils/NetworkEventReporterImpl.h"

namespace oxl::netutils {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}
}  // namespace

NetworkEventTask::NetworkEventTask(Type type, std::string label) : type_(type), label_(std::move(label)) {}

void NetworkEventTask::setServerForEdgeEvent(const std::string& server) {
    if (type_ != EDGE_INFRASTRUCTURE_EVENT) {
        OXL_LOG_ERROR(logger(), "Got a call to setServerForEdgeEvent for a non EDGE_INFRASTRUCTURE_EVENT");
        return;
    }
    server_ = server;
}

void NetworkEventTask::execute() {
    OXL_LOG_DEBUG(logger(), "Executing a NetworkEventTask for label:" << label_);
    switch (type_) {
        case HINT_NETWORK_INTERFACE_MIGHT_HAVE_DROPPED:
            NetworkEventReporterImpl::hintNetworkInterfaceMightHaveDroppedImpl(label_);
            return;
        case HINT_NETWORK_STACK_NOT_READY:
            NetworkEventReporterImpl::hintNetworkStackNotReadyImpl(label_);
            return;
        case HINT_NETWORK_IS_IN_USE:
            NetworkEventReporterImpl::hintNetworkIsInUseImpl(label_);
            return;
        case HINT_HOST_OS_IP_INTERFACE_CHANGED:
            NetworkEventReporterImpl::hintHostOsIpInterfaceChangedImpl(label_);
            return;
        case EDGE_INFRASTRUCTURE_EVENT:
            if (server_.empty()) {
                OXL_LOG_WARN(logger(), "Executing an EDGE_INFRASTRUCTURE_EVENT with an empty edge server");
            }
            NetworkEventReporterImpl::edgeInfrastructureEventImpl(label_, server_);
            return;
    }
    OXL_LOG_ERROR(logger(), "Unrecognized NetworkEventTask::Type :'" << static_cast<int>(type_) << "'");
}

}  // namespace oxl::netutils

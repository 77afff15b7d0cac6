#include "oxl/netutils/adapters/HttpEventReporterAdapter.h"

#include <utility>

#include "oxl/log/Log.h"
#include "oxl/netutils/NetworkEventReporter.h"

namespace oxl::netutils::adapters {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.adapters");
    return l;
}
}  // namespace

HttpEventReporterAdapter::HttpEventReporterAdapter(std::shared_ptr<NetworkEventReporter> reporter)
    : reporter_(std::move(reporter)) {}

bool HttpEventReporterAdapter::hasReporter(const std::string& label) const {
    if (!reporter_) {
        OXL_LOG_WARN(logger(), "No NetworkEventReporter, dropping event " << label);
        return false;
    }
    return true;
}

void HttpEventReporterAdapter::hintNetworkInterfaceMightHaveDropped(const std::string& label) {
    if (hasReporter(label)) {
        reporter_->hintNetworkInterfaceMightHaveDropped(label);
    }
}

void HttpEventReporterAdapter::hintNetworkStackNotReady(const std::string& label) {
    if (hasReporter(label)) {
        reporter_->hintNetworkStackNotReady(label);
    }
}

void HttpEventReporterAdapter::hintNetworkIsInUse(const std::string& label) {
    if (hasReporter(label)) {
        reporter_->hintNetworkIsInUse(label);
    }
}

void HttpEventReporterAdapter::edgeInfrastructureEvent(const std::string& label, const std::string& server) {
    if (hasReporter(label)) {
        reporter_->edgeInfrastructureEvent(label, server);
    }
}

}  // namespace oxl::netutils::adapters

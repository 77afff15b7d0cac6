#include "oxl/edge/PolicyDrivenEdgeVisibility.h"

#include "oxl/edge/EdgeCapabilityPolicy.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

PolicyDrivenEdgeVisibility::PolicyDrivenEdgeVisibility(bool visible) : visible_(visible) {}

bool PolicyDrivenEdgeVisibility::isVisible() const {
    bool value = visible_;
    auto driver = policyDriver_.lock();
    if (!driver) {
        OXL_LOG_DEBUG(logger(),
                      "unable to get a strong reference for policyDriver, edgeVisibility will be unchanged");
        return value;
    }
    auto policy = driver->getPolicy(oxl::common::Policy::PolicyNature::EDGE_CAPABILITY);
    if (!policy || policy->getNature() == oxl::common::Policy::PolicyNature::UNKNOWN) {
        OXL_LOG_DEBUG(logger(), "No Edge Capability Policy found, edgeVisibility will be unchanged");
        return value;
    }
    auto capability = std::dynamic_pointer_cast<EdgeCapabilityPolicy>(policy);
    if (!capability) {
        OXL_LOG_WARN(logger(), "Edge Capability Policy cast failed, edgeVisibility will be unchanged");
        return value;
    }
    capability->enforce(value);
    return value;
}

}  // namespace oxl::edge

#include "oxl/edge/EdgeCapabilityPolicy.h"

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge.capability.EdgeCapabilityPolicy");
    return l;
}
}  // namespace

const std::shared_ptr<oxl::common::Policy> EdgeCapabilityPolicy::EDGE_ENABLED_POLICY =
    std::make_shared<EdgeCapabilityPolicy>(EdgeCapabilityPolicy::PolicyValue::ENABLED);
const std::shared_ptr<oxl::common::Policy> EdgeCapabilityPolicy::EDGE_DISABLED_POLICY =
    std::make_shared<EdgeCapabilityPolicy>(EdgeCapabilityPolicy::PolicyValue::DISABLED);

std::ostream& operator<<(std::ostream& os, EdgeCapabilityPolicy::PolicyValue::Value value) {
    switch (value) {
        case EdgeCapabilityPolicy::PolicyValue::ENABLED:
            return os << "ENABLED";
        case EdgeCapabilityPolicy::PolicyValue::DISABLED:
            return os << "DISABLED";
    }
    return os << static_cast<int>(value);
}

EdgeCapabilityPolicy::EdgeCapabilityPolicy(PolicyValue::Value value)
    : InputIndependentPolicy(PolicyNature::EDGE_CAPABILITY, PolicyFailureClass::SOFT_FAILURE),
      value_(value) {}

EdgeCapabilityPolicy::~EdgeCapabilityPolicy() = default;

std::string EdgeCapabilityPolicy::getName() const {
    switch (value_) {
        case PolicyValue::ENABLED:
            return "EDGE_ENABLED";
        case PolicyValue::DISABLED:
            return "EDGE_DISABLED";
    }
    return std::to_string(static_cast<int>(value_));
}

bool EdgeCapabilityPolicy::equals(const oxl::common::Policy& other) const {
    if (!InputIndependentPolicy::equals(other)) {
        return false;
    }
    const auto* same = dynamic_cast<const EdgeCapabilityPolicy*>(&other);
    return same != nullptr && same->value_ == value_;
}

bool EdgeCapabilityPolicy::verifyEnforceability() const {
    return true;
}

oxl::common::Policy::PolicyEnforcingResult::EnforcingResult EdgeCapabilityPolicy::enforce(
    bool& visible) const {
    if (!verifyEnforceability()) {
        OXL_LOG_WARN(logger(), "Policy " << value_ << " not enforceable");
        return PolicyEnforcingResult::NOT_ENFORCEABLE;
    }
    switch (value_) {
        case PolicyValue::ENABLED:
            return PolicyEnforcingResult::SUCCESS;
        case PolicyValue::DISABLED:
            visible = false;
            return PolicyEnforcingResult::SUCCESS;
    }
    OXL_LOG_ERROR(logger(), "Policy not managed! Enforcing failed");
    return PolicyEnforcingResult::ENFORCING_FAILURE;
}

}  // namespace oxl::edge

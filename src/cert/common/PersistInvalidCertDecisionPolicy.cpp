#include "oxl/cert/common/PersistInvalidCertDecisionPolicy.h"

#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using oxl::common::Policy;
using P = PersistInvalidCertDecisionPolicy;
}  // namespace

const std::shared_ptr<P> P::PERSIST_DECISION_POLICY = std::make_shared<P>(PolicyValue::PERSIST_DECISION);
const std::shared_ptr<P> P::DO_NOT_PERSIST_DECISION_POLICY =
    std::make_shared<P>(PolicyValue::DO_NOT_PERSIST_DECISION);

P::PersistInvalidCertDecisionPolicy(PolicyValue::Value value)
    : InputIndependentPolicy(PolicyNature::PERSIST_INVALID_CERT_DECISION, PolicyFailureClass::SOFT_FAILURE),
      value_(value) {}

P::~PersistInvalidCertDecisionPolicy() = default;

bool P::equals(const Policy& other) const {
    if (!Policy::equals(other)) {
        return false;
    }
    const auto* o = dynamic_cast<const P*>(&other);
    return o != nullptr && o->value_ == value_;
}

std::string P::getName() const {
    switch (value_) {
        case PolicyValue::PERSIST_DECISION:
            return "PERSIST_DECISION";
        case PolicyValue::DO_NOT_PERSIST_DECISION:
            return "DO_NOT_PERSIST_DECISION";
    }
    return std::to_string(static_cast<int>(value_));
}

Policy::PolicyEnforcingResult::EnforcingResult P::enforce(bool& persist) const {
    switch (value_) {
        case PolicyValue::PERSIST_DECISION:
            persist = true;
            break;
        case PolicyValue::DO_NOT_PERSIST_DECISION:
            persist = false;
            break;
        default:
            OXL_LOG_WARN(logger(), "Policy not managed! Enforcing failed");
            return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    OXL_LOG_DEBUG(logger(), "Policy enforced");
    return PolicyEnforcingResult::SUCCESS;
}

}  // namespace oxl::cert

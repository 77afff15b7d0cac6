#include "oxl/common/FailureManagementPolicy.h"

#include "oxl/log/Log.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common");
    return l;
}

std::shared_ptr<Policy> make(FailureManagementPolicy::FailureManagementValue::Value value) {
    return std::make_shared<FailureManagementPolicy>(value);
}
}  // namespace

const std::shared_ptr<Policy>& detail::ignoreSoftFailurePolicy() {
    static const std::shared_ptr<Policy> instance =
        make(FailureManagementPolicy::FailureManagementValue::IGNORE_SOFT_FAILURE);
    return instance;
}

const std::shared_ptr<Policy> FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY =
    detail::ignoreSoftFailurePolicy();
const std::shared_ptr<Policy> FailureManagementPolicy::IGNORE_HARD_FAILURE_POLICY =
    make(FailureManagementValue::IGNORE_HARD_FAILURE);
const std::shared_ptr<Policy> FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY =
    make(FailureManagementValue::ALWAYS_IGNORE_FAILURE);
const std::shared_ptr<Policy> FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY =
    make(FailureManagementValue::NEVER_IGNORE_FAILURE);

FailureManagementPolicy::FailureManagementPolicy(FailureManagementValue::Value value)
    : InputIndependentPolicy(PolicyNature::FAILURE_MANAGEMENT), value_(value) {}

FailureManagementPolicy::~FailureManagementPolicy() = default;

bool FailureManagementPolicy::equals(const Policy& other) const {
    if (!InputIndependentPolicy::equals(other)) {
        return false;
    }
    const auto* same = dynamic_cast<const FailureManagementPolicy*>(&other);
    return same != nullptr && same->value_ == value_;
}

std::string FailureManagementPolicy::getName() const {
    switch (value_) {
        case FailureManagementValue::IGNORE_SOFT_FAILURE:
            return "IGNORE_SOFT_FAILURE";
        case FailureManagementValue::IGNORE_HARD_FAILURE:
            return "IGNORE_HARD_FAILURE";
        case FailureManagementValue::ALWAYS_IGNORE_FAILURE:
            return "ALWAYS_IGNORE_FAILURE";
        case FailureManagementValue::NEVER_IGNORE_FAILURE:
            return "NEVER_IGNORE_FAILURE";
    }
    return std::to_string(static_cast<int>(value_));
}

Policy::PolicyEnforcingResult::EnforcingResult FailureManagementPolicy::enforce(const Policy& failed,
                                                                                bool& canBeIgnored) const {
    switch (value_) {
        case FailureManagementValue::IGNORE_SOFT_FAILURE:
            canBeIgnored = failed.getFailureClass() == PolicyFailureClass::SOFT_FAILURE;
            return PolicyEnforcingResult::SUCCESS;
        case FailureManagementValue::IGNORE_HARD_FAILURE:
            canBeIgnored = failed.getFailureClass() == PolicyFailureClass::HARD_FAILURE;
            return PolicyEnforcingResult::SUCCESS;
        case FailureManagementValue::ALWAYS_IGNORE_FAILURE:
            canBeIgnored = true;
            return PolicyEnforcingResult::SUCCESS;
        case FailureManagementValue::NEVER_IGNORE_FAILURE:
            canBeIgnored = false;
            return PolicyEnforcingResult::SUCCESS;
    }
    OXL_LOG_ERROR(logger(), "Unknown failure management value " << static_cast<int>(value_));
    return PolicyEnforcingResult::ENFORCING_FAILURE;
}

std::ostream& operator<<(std::ostream& os, FailureManagementPolicy::FailureManagementValue::Value value) {
    using V = FailureManagementPolicy::FailureManagementValue;
    return oxl::detail::printEnum(os, value,
                                  {{V::IGNORE_SOFT_FAILURE, "INGNORE_SOFT_FAILURE"},
                                   {V::IGNORE_HARD_FAILURE, "INGNORE_HARD_FAILURE"},
                                   {V::ALWAYS_IGNORE_FAILURE, "ALWAYS_IGNORE_FAILURE"},
                                   {V::NEVER_IGNORE_FAILURE, "NEVER_IGNORE_FAILURE"}});
}

}  // namespace oxl::common

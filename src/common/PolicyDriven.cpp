#include "oxl/common/PolicyDriven.h"

#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/log/Log.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common.PolicyDriven");
    return l;
}
}  // namespace

PolicyDriven::PolicyDriven(bool followsDefaultPolicies) : followsDefaultPolicies_(followsDefaultPolicies) {
    policySet_.addPolicy(detail::ignoreSoftFailurePolicy());
    policySet_.addAll(DefaultPoliciesStore::getAllPolicies());
    OXL_LOG_DEBUG(logger(), "PolicySet : " << policySet_);
}

PolicyDriven::PolicyDriven(const std::set<std::shared_ptr<Policy>>& policies, bool followsDefaultPolicies)
    : followsDefaultPolicies_(followsDefaultPolicies) {
    policySet_.addPolicy(detail::ignoreSoftFailurePolicy());
    policySet_.addAll(policies);
    policySet_.addAll(DefaultPoliciesStore::getAllPolicies());
    OXL_LOG_DEBUG(logger(), "PolicySet : " << policySet_);
}

PolicyDriven::PolicyDriven(WithoutDefaults) : followsDefaultPolicies_(false) {
    policySet_.addPolicy(detail::ignoreSoftFailurePolicy());
    OXL_LOG_DEBUG(logger(), "PolicySet : " << policySet_);
}

PolicyDriven::~PolicyDriven() = default;

void PolicyDriven::onDefaultPoliciesStoreUpdate() {
    if (!followsDefaultPolicies_) {
        return;
    }
    OXL_LOG_DEBUG(logger(), "DefaultPolicyStore has been updated, storing all the available policies");
    policySet_.addAll(DefaultPoliciesStore::getAllPolicies());
}

void PolicyDriven::addPolicy(std::shared_ptr<Policy> policy) {
    policySet_.addPolicy(policy);
}

void PolicyDriven::removePolicy(Policy::PolicyNature::Nature nature) {
    OXL_LOG_DEBUG(logger(), "Removing policy with nature " << nature);
    policySet_.removePolicy(nature);
}

std::shared_ptr<Policy> PolicyDriven::getPolicy(Policy::PolicyNature::Nature nature) const {
    return policySet_.getPolicy(nature);
}

PolicySet::VerifyPoliciesResult PolicyDriven::verifyPolicies() {
    return policySet_.verifyInputIndependentPolicies();
}

std::set<std::shared_ptr<Policy>> PolicyDriven::getAllPolicies() const {
    return policySet_.getAll();
}

bool PolicyDriven::policyFailureCanBeIgnored(const std::shared_ptr<Policy>& policy) const {
    OXL_LOG_DEBUG(logger(), "Checking if the failure of a policy can be ignored by this object");
    if (!policy) {
        OXL_LOG_WARN(logger(), "No policy given, the failure can't be ignored");
        return false;
    }
    auto managing = std::dynamic_pointer_cast<FailureManagementPolicy>(
        getPolicy(Policy::PolicyNature::FAILURE_MANAGEMENT));
    if (!managing) {
        OXL_LOG_WARN(logger(), "FailureManagementPolicy policy not available, the failure can't be ignored");
        return false;
    }
    bool canBeIgnored = false;
    managing->enforce(*policy, canBeIgnored);
    OXL_LOG_DEBUG(logger(), "The policy failure can" << (canBeIgnored ? "" : "not") << " be ignored");
    return canBeIgnored;
}

void PolicyDriven::resetForTesting() {
    policySet_.clear();
    policySet_.addPolicy(detail::ignoreSoftFailurePolicy());
}

}  // namespace oxl::common

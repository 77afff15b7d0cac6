// Mix-in for objects that own, receive and enforce policies.
#pragma once

#include <memory>
#include <set>

#include "oxl/common/DefaultPoliciesStoreObserver.h"
#include "oxl/common/Policy.h"
#include "oxl/common/PolicySet.h"
#include "oxl/runtime/TestHook.h"

namespace oxl::common {

class PolicyDriven : public DefaultPoliciesStoreObserver {
  public:
    // Starts with IGNORE_SOFT_FAILURE_POLICY and the current default policies.
    explicit PolicyDriven(bool followsDefaultPolicies);
    // Starts with IGNORE_SOFT_FAILURE_POLICY, the given policies, then the defaults (a default replaces a
    // given policy of the same nature).
    PolicyDriven(const std::set<std::shared_ptr<Policy>>& policies, bool followsDefaultPolicies);
    ~PolicyDriven() override;
    PolicyDriven(const PolicyDriven&) = delete;
    PolicyDriven& operator=(const PolicyDriven&) = delete;

    // Takes all defaults again, only when this object follows the defaults.
    void onDefaultPoliciesStoreUpdate() override;
    virtual void addPolicy(std::shared_ptr<Policy> policy);
    virtual void removePolicy(Policy::PolicyNature::Nature nature);
    // Never null: Policy::UNKNOWN_POLICY when absent.
    virtual std::shared_ptr<Policy> getPolicy(Policy::PolicyNature::Nature nature) const;
    virtual PolicySet::VerifyPoliciesResult verifyPolicies();

    std::set<std::shared_ptr<Policy>> getAllPolicies() const;
    // Asks this object's FAILURE_MANAGEMENT policy; false when there is none.
    bool policyFailureCanBeIgnored(const std::shared_ptr<Policy>& policy) const;
    bool followsDefaultPolicies() const { return followsDefaultPolicies_; }

  protected:
    struct WithoutDefaults {};
    // Starts with IGNORE_SOFT_FAILURE_POLICY only, for objects that neither take nor follow the defaults.
    explicit PolicyDriven(WithoutDefaults);

    OXL_TEST_HOOK virtual void resetForTesting();

  private:
    PolicySet policySet_;
    bool followsDefaultPolicies_;
};

}  // namespace oxl::common

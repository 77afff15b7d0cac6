// A thread-safe set holding at most one policy per nature.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>

#include "oxl/common/Policy.h"

namespace oxl::common {

class PolicySet {
  public:
    class VerifyPoliciesResult {
      public:
        VerifyPoliciesResult() = default;
        VerifyPoliciesResult(const VerifyPoliciesResult& other);
        VerifyPoliciesResult& operator=(const VerifyPoliciesResult& other);

        bool isSuccess() const;
        void setSuccess(bool success);
        std::set<std::shared_ptr<Policy>> getFailedPolicies() const;
        void addFailedPolicy(const std::shared_ptr<Policy>& policy);

      private:
        mutable std::mutex mutex_;
        bool success_ = true;
        std::set<std::shared_ptr<Policy>> failedPolicies_;
    };

    PolicySet() = default;
    PolicySet(const PolicySet&) = delete;
    PolicySet& operator=(const PolicySet&) = delete;

    // Replaces any stored policy of the same nature. A null policy is ignored.
    void addPolicy(const std::shared_ptr<Policy>& policy);
    // addPolicy for each, in the set's order, under one lock.
    void addAll(const std::set<std::shared_ptr<Policy>>& policies);
    std::set<std::shared_ptr<Policy>> getAll() const;
    // The stored policy, or Policy::UNKNOWN_POLICY; never null.
    std::shared_ptr<Policy> getPolicy(Policy::PolicyNature::Nature nature) const;
    void removePolicy(Policy::PolicyNature::Nature nature);
    // True only when a policy of the same nature is stored and equal to the given one.
    bool contains(const std::shared_ptr<Policy>& policy) const;
    VerifyPoliciesResult verifyInputIndependentPolicies() const;
    void clear();
    size_t size() const;

    friend std::ostream& operator<<(std::ostream& os, const PolicySet& set);

  private:
    void addLocked(const std::shared_ptr<Policy>& policy);

    mutable std::mutex mutex_;
    std::map<Policy::PolicyNature::Nature, std::shared_ptr<Policy>> policies_;
};

// "[EDGE_USAGE, FAILURE_MANAGEMENT]"
std::ostream& operator<<(std::ostream& os, const PolicySet& set);

}  // namespace oxl::common

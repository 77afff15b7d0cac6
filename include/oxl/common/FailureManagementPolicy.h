// Decides whether the failure of another policy may be ignored, by that policy's failure class.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::common {

class FailureManagementPolicy : public InputIndependentPolicy {
  public:
    struct FailureManagementValue {
        enum Value : int {
            IGNORE_SOFT_FAILURE = 0,
            IGNORE_HARD_FAILURE = 1,
            ALWAYS_IGNORE_FAILURE = 2,
            NEVER_IGNORE_FAILURE = 3,
        };
    };

    static const std::shared_ptr<Policy> IGNORE_SOFT_FAILURE_POLICY;
    static const std::shared_ptr<Policy> IGNORE_HARD_FAILURE_POLICY;
    static const std::shared_ptr<Policy> ALWAYS_IGNORE_FAILURE_POLICY;
    static const std::shared_ptr<Policy> NEVER_IGNORE_FAILURE_POLICY;

    explicit FailureManagementPolicy(FailureManagementValue::Value value);
    ~FailureManagementPolicy() override;

    bool equals(const Policy& other) const override;
    // "IGNORE_SOFT_FAILURE" ...; an unknown value gives its number.
    std::string getName() const override;
    bool verifyEnforceability() const override { return true; }

    FailureManagementValue::Value getValue() const { return value_; }

    // Sets canBeIgnored for the failed policy and returns SUCCESS; an unknown value returns
    // ENFORCING_FAILURE and leaves the flag untouched.
    PolicyEnforcingResult::EnforcingResult enforce(const Policy& failed, bool& canBeIgnored) const;

  private:
    FailureManagementValue::Value value_;
};

// The stream form keeps the historical spelling ("INGNORE_SOFT_FAILURE").
std::ostream& operator<<(std::ostream& os, FailureManagementPolicy::FailureManagementValue::Value value);

namespace detail {
// IGNORE_SOFT_FAILURE_POLICY, safe during static initialisation of other translation units.
const std::shared_ptr<Policy>& ignoreSoftFailurePolicy();
}  // namespace detail

}  // namespace oxl::common

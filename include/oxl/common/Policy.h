// Base of every configurable behaviour: a policy has a nature (its kind), a failure class and a flag telling
// whether it can judge its own enforceability without any input.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace oxl::common {

class Policy {
  public:
    struct PolicyNature {
        enum Nature : int {
            EDGE_USAGE = 0,
            FAILURE_MANAGEMENT = 1,
            INVALID_CERT_MANAGEMENT = 2,
            IGNORE_INVALID_CERT_CONDITION = 3,
            EDGE_CAPABILITY = 4,
            PERSIST_INVALID_CERT_DECISION = 5,
            IP_FAMILY_PREFERENCE = 6,
            SYSTEM_PROXY_USAGE = 7,
            UNKNOWN = 8,
        };
    };

    struct PolicyEnforcingResult {
        enum EnforcingResult : int {
            SUCCESS = 0,
            NOT_ENFORCEABLE = 1,
            ENFORCING_FAILURE = 2,
        };
    };

    struct PolicyFailureClass {
        enum FailureClass : int {
            HARD_FAILURE = 0,
            SOFT_FAILURE = 1,
        };
    };

    // Returned wherever a policy is looked up and not found; never null.
    static const std::shared_ptr<Policy> UNKNOWN_POLICY;

    // Same nature, same input independence and same failure class.
    virtual bool equals(const Policy& other) const;
    virtual std::string getName() const;
    virtual ~Policy();

    PolicyNature::Nature getNature() const { return nature_; }
    PolicyFailureClass::FailureClass getFailureClass() const { return failureClass_; }
    bool isInputIndependent() const { return inputIndependent_; }

  protected:
    Policy(PolicyNature::Nature nature, PolicyFailureClass::FailureClass failureClass, bool inputIndependent);
    Policy(PolicyNature::Nature nature, bool inputIndependent);
    Policy(const Policy&) = default;
    Policy& operator=(const Policy&) = default;

  private:
    PolicyNature::Nature nature_;
    PolicyFailureClass::FailureClass failureClass_;
    bool inputIndependent_;
};

// Names as listed in the enumerations; any other value prints as its number.
std::ostream& operator<<(std::ostream& os, Policy::PolicyNature::Nature nature);
std::ostream& operator<<(std::ostream& os, Policy::PolicyEnforcingResult::EnforcingResult result);
std::ostream& operator<<(std::ostream& os, Policy::PolicyFailureClass::FailureClass failureClass);

namespace detail {
// The unknown policy, safe to use during static initialisation of other translation units.
const std::shared_ptr<Policy>& unknownPolicy();
}  // namespace detail

}  // namespace oxl::common

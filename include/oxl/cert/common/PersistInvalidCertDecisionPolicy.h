// Says whether a user's decision about an invalid certificate is remembered for the session.
#pragma once

#include <memory>
#include <string>

#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::cert {

class PersistInvalidCertDecisionPolicy
    : public oxl::common::InputIndependentPolicy,
      public std::enable_shared_from_this<PersistInvalidCertDecisionPolicy> {
  public:
    struct PolicyValue {
        enum Value : int {
            PERSIST_DECISION = 0,
            DO_NOT_PERSIST_DECISION = 1,
        };
    };

    static const std::shared_ptr<PersistInvalidCertDecisionPolicy> PERSIST_DECISION_POLICY;
    static const std::shared_ptr<PersistInvalidCertDecisionPolicy> DO_NOT_PERSIST_DECISION_POLICY;

    explicit PersistInvalidCertDecisionPolicy(PolicyValue::Value value);
    ~PersistInvalidCertDecisionPolicy() override;

    bool equals(const oxl::common::Policy& other) const override;
    // "PERSIST_DECISION" or "DO_NOT_PERSIST_DECISION"; the number for anything else.
    std::string getName() const override;
    bool verifyEnforceability() const override { return true; }

    // Sets `persist` from the value; ENFORCING_FAILURE (flag untouched) for an unknown value.
    PolicyEnforcingResult::EnforcingResult enforce(bool& persist) const;

    PolicyValue::Value getValue() const { return value_; }

  private:
    PolicyValue::Value value_;
};

}  // namespace oxl::cert

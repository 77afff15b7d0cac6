// Lets the embedding application switch edge visibility off whatever DNS says.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::edge {

class EdgeCapabilityPolicy : public oxl::common::InputIndependentPolicy {
  public:
    struct PolicyValue {
        enum Value : int {
            ENABLED = 0,
            DISABLED = 1,
        };
    };

    static const std::shared_ptr<oxl::common::Policy> EDGE_ENABLED_POLICY;
    static const std::shared_ptr<oxl::common::Policy> EDGE_DISABLED_POLICY;

    explicit EdgeCapabilityPolicy(PolicyValue::Value value);
    ~EdgeCapabilityPolicy() override;

    // "EDGE_ENABLED", "EDGE_DISABLED"; any other value as its number.
    std::string getName() const override;
    bool equals(const oxl::common::Policy& other) const override;
    // The value needs no input to be applied.
    bool verifyEnforceability() const override;

    // ENABLED leaves `visible` alone, DISABLED clears it; another value is ENFORCING_FAILURE.
    PolicyEnforcingResult::EnforcingResult enforce(bool& visible) const;

    PolicyValue::Value getValue() const { return value_; }

  private:
    PolicyValue::Value value_;
};

// "ENABLED", "DISABLED"; any other value as its number.
std::ostream& operator<<(std::ostream& os, EdgeCapabilityPolicy::PolicyValue::Value value);

}  // namespace oxl::edge

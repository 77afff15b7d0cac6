// A policy that can tell whether it is enforceable without looking at any request or handle.
#pragma once

#include "oxl/common/Policy.h"

namespace oxl::common {

class InputIndependentPolicy : public Policy {
  public:
    ~InputIndependentPolicy() override;
    virtual bool verifyEnforceability() const = 0;

  protected:
    explicit InputIndependentPolicy(PolicyNature::Nature nature);
    InputIndependentPolicy(PolicyNature::Nature nature, PolicyFailureClass::FailureClass failureClass);
};

}  // namespace oxl::common

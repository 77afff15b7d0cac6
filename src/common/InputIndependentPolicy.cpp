#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::common {

InputIndependentPolicy::InputIndependentPolicy(PolicyNature::Nature nature) : Policy(nature, true) {}

InputIndependentPolicy::InputIndependentPolicy(PolicyNature::Nature nature,
                                               PolicyFailureClass::FailureClass failureClass)
    : Policy(nature, failureClass, true) {}

InputIndependentPolicy::~InputIndependentPolicy() = default;

}  // namespace oxl::common

#include "oxl/common/Policy.h"

#include "oxl/common/InputIndependentPolicy.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::common {

namespace {

// Nothing to enforce, so it is trivially enforceable should it ever end up in a set.
class UnknownPolicy final : public InputIndependentPolicy {
  public:
    UnknownPolicy() : InputIndependentPolicy(PolicyNature::UNKNOWN, PolicyFailureClass::HARD_FAILURE) {}
    bool verifyEnforceability() const override { return true; }
};

std::ostream& printOrNumber(std::ostream& os, int value,
                            std::initializer_list<std::pair<int, const char*>> names) {
    for (const auto& [v, name] : names) {
        if (v == value) {
            return os << name;
        }
    }
    return os << value;
}

}  // namespace

const std::shared_ptr<Policy>& detail::unknownPolicy() {
    static const std::shared_ptr<Policy> instance = std::make_shared<UnknownPolicy>();
    return instance;
}

const std::shared_ptr<Policy> Policy::UNKNOWN_POLICY = detail::unknownPolicy();

Policy::Policy(PolicyNature::Nature nature, PolicyFailureClass::FailureClass failureClass,
               bool inputIndependent)
    : nature_(nature), failureClass_(failureClass), inputIndependent_(inputIndependent) {}

Policy::Policy(PolicyNature::Nature nature, bool inputIndependent)
    : Policy(nature, PolicyFailureClass::HARD_FAILURE, inputIndependent) {}

Policy::~Policy() = default;

bool Policy::equals(const Policy& other) const {
    return nature_ == other.nature_ && inputIndependent_ == other.inputIndependent_ &&
           failureClass_ == other.failureClass_;
}

std::string Policy::getName() const {
    return "UNKNOWN";
}

std::ostream& operator<<(std::ostream& os, Policy::PolicyNature::Nature nature) {
    using N = Policy::PolicyNature;
    return printOrNumber(os, nature,
                         {{N::EDGE_USAGE, "EDGE_USAGE"},
                          {N::FAILURE_MANAGEMENT, "FAILURE_MANAGEMENT"},
                          {N::INVALID_CERT_MANAGEMENT, "INVALID_CERT_MANAGEMENT"},
                          {N::IGNORE_INVALID_CERT_CONDITION, "IGNORE_INVALID_CERT_CONDITION"},
                          {N::EDGE_CAPABILITY, "EDGE_CAPABILITY"},
                          {N::PERSIST_INVALID_CERT_DECISION, "PERSIST_INVALID_CERT_DECISION"},
                          {N::IP_FAMILY_PREFERENCE, "IP_FAMILY_PREFERENCE"},
                          {N::SYSTEM_PROXY_USAGE, "SYSTEM_PROXY_USAGE"},
                          {N::UNKNOWN, "UNKNOWN"}});
}

std::ostream& operator<<(std::ostream& os, Policy::PolicyEnforcingResult::EnforcingResult result) {
    using R = Policy::PolicyEnforcingResult;
    return printOrNumber(os, result,
                         {{R::SUCCESS, "SUCCESS"},
                          {R::NOT_ENFORCEABLE, "NOT_ENFORCEABLE"},
                          {R::ENFORCING_FAILURE, "ENFORCING_FAILURE"}});
}

std::ostream& operator<<(std::ostream& os, Policy::PolicyFailureClass::FailureClass failureClass) {
    using F = Policy::PolicyFailureClass;
    return oxl::detail::printEnum(os, failureClass,
                                  {{F::HARD_FAILURE, "HARD_FAILURE"}, {F::SOFT_FAILURE, "SOFT_FAILURE"}});
}

}  // namespace oxl::common

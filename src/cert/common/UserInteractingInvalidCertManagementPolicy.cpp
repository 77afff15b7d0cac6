#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"

#include <stdexcept>

#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using oxl::common::Policy;
using Result = Policy::PolicyEnforcingResult;
using Decision = InvalidCertNotificationManager::PromptDecision;
using Builder =
    UserInteractingInvalidCertManagementPolicy::AvoidableUserInteractingInvalidCertManagementPolicyBuilder;

bool isUserInteractingValue(InvalidCertManagementPolicy::PolicyValue::Value value) {
    using V = InvalidCertManagementPolicy::PolicyValue;
    return value == V::PROMPT_USER || value == V::NOTIFY_USER_AND_SUCCEED || value == V::NOTIFY_USER_AND_FAIL;
}
}  // namespace

Builder::AvoidableUserInteractingInvalidCertManagementPolicyBuilder(PolicyValue::Value value, bool prompts)
    : value_(value), prompts_(prompts) {}

Builder& Builder::acceptTransaction(CertStatus::Status from, CertStatus::Status to) {
    if (from != to) {
        transitions_[from].insert(to);
    }
    return *this;
}

std::shared_ptr<Policy> Builder::build() const {
    return std::make_shared<UserInteractingInvalidCertManagementPolicy>(value_, true, prompts_, transitions_,
                                                                        PolicyFailureClass::HARD_FAILURE);
}

UserInteractingInvalidCertManagementPolicy::
    PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder::
        PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
    : Builder(PolicyValue::PROMPT_USER, true) {}

UserInteractingInvalidCertManagementPolicy::
    NotifyingSucceedingAvoidableUserInteractingInvalidCertManagementPolicyBuilder::
        NotifyingSucceedingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
    : Builder(PolicyValue::NOTIFY_USER_AND_SUCCEED, false) {}

UserInteractingInvalidCertManagementPolicy::
    NotifyingFailingAvoidableUserInteractingInvalidCertManagementPolicyBuilder::
        NotifyingFailingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
    : Builder(PolicyValue::NOTIFY_USER_AND_FAIL, false) {}

UserInteractingInvalidCertManagementPolicy::UserInteractingInvalidCertManagementPolicy(
    PolicyValue::Value value, bool avoidable, bool prompts, Transitions transitions,
    PolicyFailureClass::FailureClass failureClass)
    : InvalidCertManagementPolicy(value, true, failureClass),
      avoidable_(avoidable),
      prompts_(prompts),
      transitions_(std::move(transitions)) {}

UserInteractingInvalidCertManagementPolicy::~UserInteractingInvalidCertManagementPolicy() = default;

bool UserInteractingInvalidCertManagementPolicy::equals(const Policy& other) const {
    if (!InvalidCertManagementPolicy::equals(other)) {
        return false;
    }
    const auto* o = dynamic_cast<const UserInteractingInvalidCertManagementPolicy*>(&other);
    return o != nullptr && o->avoidable_ == avoidable_ && o->prompts_ == prompts_ &&
           o->transitions_ == transitions_;
}

bool UserInteractingInvalidCertManagementPolicy::verifyEnforceability(
    const std::set<CertStatus::Status>& statuses, std::shared_ptr<CertificateData> /*data*/) const {
    return verifyEnforceability(statuses, InvalidCertTexts{}, {});
}

bool UserInteractingInvalidCertManagementPolicy::verifyEnforceability(
    const std::set<CertStatus::Status>& /*statuses*/, const InvalidCertTexts& /*texts*/,
    const std::vector<std::string>& /*pemCertificates*/) const {
    if (isUserInteractingValue(getValue())) {
        return InvalidCertNotificationManager::getInstance()->isInitialized();
    }
    logUnmanaged();
    return false;
}

Result::EnforcingResult UserInteractingInvalidCertManagementPolicy::enforce(
    std::set<CertStatus::Status>& statuses, const InvalidCertTexts& texts,
    const std::vector<std::string>& pemCertificates, const CertificateCacheAccessor& accessor) const {
    if (!verifyEnforceability(statuses, texts, pemCertificates)) {
        OXL_LOG_WARN(logger(), "The policy can't be enforced.");
        return Result::NOT_ENFORCEABLE;
    }
    if (CertStatus::representsVerificationSuccess(statuses)) {
        return Result::SUCCESS;
    }
    if (statuses.count(CertStatus::INVALID_REVOKED) != 0) {
        OXL_LOG_WARN(logger(),
                     "Invalid certificate management policy enforcement does not manage failures "
                     "reporting INVALID_REVOKED error");
        return Result::SUCCESS;
    }
    try {
        auto manager = InvalidCertNotificationManager::getInstance();
        switch (getValue()) {
            case PolicyValue::PROMPT_USER: {
                auto decision = manager->promptUserForAction(texts, statuses, pemCertificates, accessor);
                if (!manageUserDecision(decision, statuses)) {
                    OXL_LOG_WARN(logger(),
                                 "Fail to enforce this " << getValue() << " InvalidCertManagementPolicy.");
                    return Result::ENFORCING_FAILURE;
                }
                return Result::SUCCESS;
            }
            case PolicyValue::NOTIFY_USER_AND_SUCCEED:
                manager->displayCertWarning(texts, statuses, pemCertificates, true, accessor);
                statuses = {CertStatus::VALID};
                return Result::SUCCESS;
            case PolicyValue::NOTIFY_USER_AND_FAIL:
                manager->displayCertWarning(texts, statuses, pemCertificates, false, accessor);
                return Result::SUCCESS;
            default:
                logUnmanaged();
                return Result::ENFORCING_FAILURE;
        }
    } catch (const std::logic_error& e) {
        OXL_LOG_WARN(logger(),
                     "Unable to enforce the policy, received a logic_error from "
                     "InvalidCertNotificationManager: "
                         << e.what());
        return Result::ENFORCING_FAILURE;
    }
}

bool UserInteractingInvalidCertManagementPolicy::verifyEnforceabilityWithoutUserInteraction(
    const std::set<CertStatus::Status>& /*oldStatuses*/,
    const std::set<CertStatus::Status>& /*currentStatuses*/) const {
    return avoidable_;
}

Result::EnforcingResult UserInteractingInvalidCertManagementPolicy::enforceWithoutUserInteraction(
    const std::set<CertStatus::Status>& oldStatuses, const std::set<CertStatus::Status>& currentStatuses,
    bool& accepted) const {
    if (!verifyEnforceabilityWithoutUserInteraction(oldStatuses, currentStatuses)) {
        OXL_LOG_WARN(logger(), "Policy is not enforceable.");
        return Result::NOT_ENFORCEABLE;
    }
    if (currentStatuses.count(CertStatus::INVALID_REVOKED) != 0) {
        OXL_LOG_WARN(logger(),
                     "Invalid certificate management policy enforcement does not manage failures "
                     "reporting INVALID_REVOKED error");
        accepted = false;
        return Result::SUCCESS;
    }
    accepted = evaluateTransition(oldStatuses, currentStatuses);
    return Result::SUCCESS;
}

bool UserInteractingInvalidCertManagementPolicy::evaluateTransition(
    const std::set<CertStatus::Status>& oldStatuses,
    const std::set<CertStatus::Status>& currentStatuses) const {
    OXL_LOG_DEBUG(logger(), "About to evaluate transition with old status:"
                                << oldStatuses << " and current status:" << currentStatuses);
    std::set<CertStatus::Status> allowed;
    for (auto s : oldStatuses) {
        auto it = transitions_.find(s);
        if (it != transitions_.end()) {
            allowed.insert(it->second.begin(), it->second.end());
        }
    }
    for (auto s : currentStatuses) {
        if (allowed.count(s) == 0) {
            return false;
        }
    }
    return true;
}

bool UserInteractingInvalidCertManagementPolicy::manageUserDecision(
    Decision::Decision decision, std::set<CertStatus::Status>& statuses) const {
    switch (decision) {
        case Decision::ACCEPT_FOR_SESSION:
            statuses = {CertStatus::VALID};
            return true;
        case Decision::DENY:
            return true;
        default:
            OXL_LOG_WARN(logger(), "Unable to manage user decision " << decision);
            return false;
    }
}

}  // namespace oxl::cert

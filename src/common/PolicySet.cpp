#include "oxl/common/PolicySet.h"

#include "oxl/common/InputIndependentPolicy.h"
#include "oxl/log/Log.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common.PolicySet");
    return l;
}
}  // namespace

PolicySet::VerifyPoliciesResult::VerifyPoliciesResult(const VerifyPoliciesResult& other) {
    std::lock_guard<std::mutex> lock(other.mutex_);
    success_ = other.success_;
    failedPolicies_ = other.failedPolicies_;
}

PolicySet::VerifyPoliciesResult& PolicySet::VerifyPoliciesResult::operator=(
    const VerifyPoliciesResult& other) {
    if (this != &other) {
        std::scoped_lock lock(mutex_, other.mutex_);
        success_ = other.success_;
        failedPolicies_ = other.failedPolicies_;
    }
    return *this;
}

bool PolicySet::VerifyPoliciesResult::isSuccess() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return success_;
}

void PolicySet::VerifyPoliciesResult::setSuccess(bool success) {
    std::lock_guard<std::mutex> lock(mutex_);
    success_ = success;
}

std::set<std::shared_ptr<Policy>> PolicySet::VerifyPoliciesResult::getFailedPolicies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failedPolicies_;
}

void PolicySet::VerifyPoliciesResult::addFailedPolicy(const std::shared_ptr<Policy>& policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    failedPolicies_.insert(policy);
}

void PolicySet::addLocked(const std::shared_ptr<Policy>& policy) {
    if (!policy) {
        OXL_LOG_WARN(logger(), "Ignoring a null policy");
        return;
    }
    policies_[policy->getNature()] = policy;
}

void PolicySet::addPolicy(const std::shared_ptr<Policy>& policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    addLocked(policy);
}

void PolicySet::addAll(const std::set<std::shared_ptr<Policy>>& policies) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& policy : policies) {
        addLocked(policy);
    }
}

std::set<std::shared_ptr<Policy>> PolicySet::getAll() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<std::shared_ptr<Policy>> all;
    for (const auto& [nature, policy] : policies_) {
        all.insert(policy);
    }
    return all;
}

std::shared_ptr<Policy> PolicySet::getPolicy(Policy::PolicyNature::Nature nature) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = policies_.find(nature);
    if (it == policies_.end()) {
        OXL_LOG_DEBUG(logger(), "Policy not found with nature " << nature);
        return detail::unknownPolicy();
    }
    OXL_LOG_DEBUG(logger(),
                  "Successfully found Policy with nature " << nature << " [" << it->second->getName() << "]");
    return it->second;
}

void PolicySet::removePolicy(Policy::PolicyNature::Nature nature) {
    std::lock_guard<std::mutex> lock(mutex_);
    OXL_LOG_DEBUG(logger(), "Removing a policy with nature " << nature);
    policies_.erase(nature);
}

bool PolicySet::contains(const std::shared_ptr<Policy>& policy) const {
    if (!policy) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const auto nature = policy->getNature();
    auto it = policies_.find(nature);
    if (it == policies_.end()) {
        OXL_LOG_DEBUG(logger(), "The provided policy with nature " << nature << "[" << policy->getName()
                                                                   << "] is NOT already stored");
        return false;
    }
    if (it->second->equals(*policy)) {
        OXL_LOG_DEBUG(logger(), "The provided policy with nature " << nature << " [" << policy->getName()
                                                                   << "] is already stored");
        return true;
    }
    OXL_LOG_DEBUG(logger(), "A different policy with the same nature [" << nature << "] is already stored");
    return false;
}

PolicySet::VerifyPoliciesResult PolicySet::verifyInputIndependentPolicies() const {
    VerifyPoliciesResult result;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [nature, policy] : policies_) {
        if (!policy->isInputIndependent()) {
            continue;
        }
        // A policy flagged input-independent that is not of that class cannot vouch for itself.
        const auto* independent = dynamic_cast<const InputIndependentPolicy*>(policy.get());
        const bool enforceable = independent != nullptr && independent->verifyEnforceability();
        if (!enforceable) {
            result.setSuccess(false);
            result.addFailedPolicy(policy);
        }
    }
    OXL_LOG_DEBUG(logger(), "Enforceability check " << (result.isSuccess() ? " succeeded" : " failed"));
    return result;
}

void PolicySet::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    policies_.clear();
}

size_t PolicySet::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return policies_.size();
}

std::ostream& operator<<(std::ostream& os, const PolicySet& set) {
    std::lock_guard<std::mutex> lock(set.mutex_);
    os << "[";
    bool first = true;
    for (const auto& [nature, policy] : set.policies_) {
        os << (first ? "" : ", ") << nature;
        first = false;
    }
    return os << "]";
}

}  // namespace oxl::common

#include "oxl/http/SystemProxyUsagePolicy.h"

#include "oxl/http/Proxy.h"

namespace oxl::http {

using oxl::common::Policy;

const std::shared_ptr<Policy> SystemProxyUsagePolicy::USE_SYSTEM_PROXY_WHEN_REQUESTED_POLICY =
    std::make_shared<SystemProxyUsagePolicy>(SystemProxyUsage::USE_SYSTEM_PROXY_WHEN_REQUESTED);
const std::shared_ptr<Policy> SystemProxyUsagePolicy::NEVER_USE_SYSTEM_PROXY_POLICY =
    std::make_shared<SystemProxyUsagePolicy>(SystemProxyUsage::NEVER_USE_SYSTEM_PROXY);

SystemProxyUsagePolicy::SystemProxyUsagePolicy(SystemProxyUsage::Value value)
    : InputIndependentPolicy(PolicyNature::SYSTEM_PROXY_USAGE, PolicyFailureClass::SOFT_FAILURE),
      value_(value) {}

SystemProxyUsagePolicy::~SystemProxyUsagePolicy() = default;

bool SystemProxyUsagePolicy::equals(const Policy& other) const {
    if (!InputIndependentPolicy::equals(other)) {
        return false;
    }
    const auto* same = dynamic_cast<const SystemProxyUsagePolicy*>(&other);
    return same != nullptr && same->value_ == value_;
}

std::string SystemProxyUsagePolicy::getName() const {
    switch (value_) {
        case SystemProxyUsage::USE_SYSTEM_PROXY_WHEN_REQUESTED:
            return "USE_SYSTEM_PROXY_WHEN_REQUESTED";
        case SystemProxyUsage::NEVER_USE_SYSTEM_PROXY:
            return "NEVER_USE_SYSTEM_PROXY";
    }
    return std::to_string(static_cast<int>(value_));
}

Policy::PolicyEnforcingResult::EnforcingResult SystemProxyUsagePolicy::enforce(
    std::shared_ptr<Proxy>& proxy) const {
    switch (value_) {
        case SystemProxyUsage::USE_SYSTEM_PROXY_WHEN_REQUESTED:
            return PolicyEnforcingResult::SUCCESS;
        case SystemProxyUsage::NEVER_USE_SYSTEM_PROXY:
            proxy.reset();
            return PolicyEnforcingResult::SUCCESS;
    }
    return PolicyEnforcingResult::ENFORCING_FAILURE;
}

std::ostream& operator<<(std::ostream& os, SystemProxyUsagePolicy::SystemProxyUsage::Value value) {
    switch (value) {
        case SystemProxyUsagePolicy::SystemProxyUsage::USE_SYSTEM_PROXY_WHEN_REQUESTED:
            return os << "USE_SYSTEM_PROXY_WHEN_REQUESTED";
        case SystemProxyUsagePolicy::SystemProxyUsage::NEVER_USE_SYSTEM_PROXY:
            return os << "NEVER_USE_SYSTEM_PROXY";
    }
    return os << static_cast<int>(value);
}

}  // namespace oxl::http

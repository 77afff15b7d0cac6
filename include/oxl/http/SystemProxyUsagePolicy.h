// Whether a request that asks for the system proxy may use it.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::http {

class Proxy;

class SystemProxyUsagePolicy : public oxl::common::InputIndependentPolicy {
  public:
    struct SystemProxyUsage {
        enum Value : int {
            USE_SYSTEM_PROXY_WHEN_REQUESTED = 0,
            NEVER_USE_SYSTEM_PROXY = 1,
        };
    };

    static const std::shared_ptr<oxl::common::Policy> USE_SYSTEM_PROXY_WHEN_REQUESTED_POLICY;
    static const std::shared_ptr<oxl::common::Policy> NEVER_USE_SYSTEM_PROXY_POLICY;

    explicit SystemProxyUsagePolicy(SystemProxyUsage::Value value);
    ~SystemProxyUsagePolicy() override;

    bool equals(const oxl::common::Policy& other) const override;
    // The value's name; an unknown value gives its number.
    std::string getName() const override;
    bool verifyEnforceability() const override { return true; }

    SystemProxyUsage::Value getValue() const { return value_; }

    // NEVER_USE_SYSTEM_PROXY drops the resolved proxy; an unknown value fails with ENFORCING_FAILURE and
    // leaves the proxy alone.
    PolicyEnforcingResult::EnforcingResult enforce(std::shared_ptr<Proxy>& proxy) const;

  private:
    SystemProxyUsage::Value value_;
};

// The name, or the number for any other value.
std::ostream& operator<<(std::ostream& os, SystemProxyUsagePolicy::SystemProxyUsage::Value value);

}  // namespace oxl::http

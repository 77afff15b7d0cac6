// Restricts a libcurl transfer to IPv4, to IPv6 or to both (CURLOPT_IPRESOLVE).
#pragma once

#include <memory>
#include <string>

#include "oxl/common/InputIndependentPolicy.h"

namespace oxl::ip {

class IpFamilyPreferencePolicy : public oxl::common::InputIndependentPolicy {
  public:
    struct PolicyValue {
        enum Value : int {
            IPV4_ONLY = 0,
            IPV6_ONLY = 1,
            DUAL_STACK = 2,
        };
    };

    static const std::shared_ptr<oxl::common::Policy> IPV4_ONLY_POLICY;
    static const std::shared_ptr<oxl::common::Policy> IPV6_ONLY_POLICY;
    static const std::shared_ptr<oxl::common::Policy> DUAL_STACK_POLICY;

    explicit IpFamilyPreferencePolicy(PolicyValue::Value value);
    ~IpFamilyPreferencePolicy() override;

    // "IPV4_ONLY", "IPV6_ONLY", "DUAL_STACK"; an unknown value gives its number.
    std::string getName() const override;
    bool equals(const oxl::common::Policy& other) const override;
    // True for the three known values.
    bool verifyEnforceability() const override;

    PolicyValue::Value getValue() const { return value_; }

    // Sets CURLOPT_IPRESOLVE on a libcurl easy handle (CURL*). ENFORCING_FAILURE when libcurl refuses it,
    // the handle is null or the value is unknown.
    PolicyEnforcingResult::EnforcingResult enforce(void* curlHandle) const;

  private:
    PolicyValue::Value value_;
};

}  // namespace oxl::ip

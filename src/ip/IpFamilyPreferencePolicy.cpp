#include "oxl/ip/IpFamilyPreferencePolicy.h"

#include <curl/curl.h>

#include "oxl/log/Log.h"

namespace oxl::ip {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.ip");
    return l;
}

using Value = IpFamilyPreferencePolicy::PolicyValue;

std::shared_ptr<oxl::common::Policy> make(Value::Value value) {
    return std::make_shared<IpFamilyPreferencePolicy>(value);
}
}  // namespace

const std::shared_ptr<oxl::common::Policy> IpFamilyPreferencePolicy::IPV4_ONLY_POLICY =
    make(Value::IPV4_ONLY);
const std::shared_ptr<oxl::common::Policy> IpFamilyPreferencePolicy::IPV6_ONLY_POLICY =
    make(Value::IPV6_ONLY);
const std::shared_ptr<oxl::common::Policy> IpFamilyPreferencePolicy::DUAL_STACK_POLICY =
    make(Value::DUAL_STACK);

IpFamilyPreferencePolicy::IpFamilyPreferencePolicy(PolicyValue::Value value)
    : InputIndependentPolicy(PolicyNature::IP_FAMILY_PREFERENCE, PolicyFailureClass::SOFT_FAILURE),
      value_(value) {}

IpFamilyPreferencePolicy::~IpFamilyPreferencePolicy() = default;

std::string IpFamilyPreferencePolicy::getName() const {
    switch (value_) {
        case PolicyValue::IPV4_ONLY:
            return "IPV4_ONLY";
        case PolicyValue::IPV6_ONLY:
            return "IPV6_ONLY";
        case PolicyValue::DUAL_STACK:
            return "DUAL_STACK";
    }
    return std::to_string(static_cast<int>(value_));
}

bool IpFamilyPreferencePolicy::equals(const oxl::common::Policy& other) const {
    if (!InputIndependentPolicy::equals(other)) {
        return false;
    }
    const auto* same = dynamic_cast<const IpFamilyPreferencePolicy*>(&other);
    return same != nullptr && same->value_ == value_;
}

bool IpFamilyPreferencePolicy::verifyEnforceability() const {
    return value_ == PolicyValue::IPV4_ONLY || value_ == PolicyValue::IPV6_ONLY ||
           value_ == PolicyValue::DUAL_STACK;
}

oxl::common::Policy::PolicyEnforcingResult::EnforcingResult IpFamilyPreferencePolicy::enforce(
    void* curlHandle) const {
    long resolve = 0;
    switch (value_) {
        case PolicyValue::IPV4_ONLY:
            resolve = CURL_IPRESOLVE_V4;
            break;
        case PolicyValue::IPV6_ONLY:
            resolve = CURL_IPRESOLVE_V6;
            break;
        case PolicyValue::DUAL_STACK:
            resolve = CURL_IPRESOLVE_WHATEVER;
            break;
        default:
            OXL_LOG_ERROR(logger(), "Unknown IP family preference value " << static_cast<int>(value_));
            return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    if (curlHandle == nullptr) {
        OXL_LOG_ERROR(logger(), "No Curl handle to enforce the IP family preference " << getName() << " on");
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    const CURLcode rc = curl_easy_setopt(static_cast<CURL*>(curlHandle), CURLOPT_IPRESOLVE, resolve);
    if (rc != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "Curl refused the IP family preference " << getName() << ": " << rc);
        return PolicyEnforcingResult::ENFORCING_FAILURE;
    }
    return PolicyEnforcingResult::SUCCESS;
}

}  // namespace oxl::ip

// The outcome of one certificate verification, returned by value by every verifier.
#pragma once

#include <ostream>
#include <set>

#include "oxl/cert/utils/CertEnumerations.h"
#include "oxl/cert/utils/CertIdentifierStatus.h"
#include "oxl/cert/utils/CertStatus.h"

namespace oxl::cert {

class CertResult {
  public:
    enum Result : int {
        SUCCESS = 0,
        FAILURE = 1,
        POLICY_NOT_ENFORCED_ERROR = 2,
    };

    Result result = FAILURE;
    // True when the outcome came from the cache of accepted certificates.
    bool fingerprintMarkedAsValid = false;
    std::set<CertStatus::Status> invalidReasons;
    CertIdentifierStatus identifierStatus;
    CertKeyUsageResult::Result keyUsageResult = CertKeyUsageResult::NO_MATCHING_BASIC_KEY_USAGE_FOUND;
    CertKeyStrengthResult::Result keyStrengthResult = CertKeyStrengthResult::FAILURE;

    bool operator==(const CertResult&) const = default;
};

// Unknown values print as the bare number.
std::ostream& operator<<(std::ostream& os, CertResult::Result result);
// "[result : R , invalid reason : [..] , identifier validation : [..] , fingerprint marked as valid :
// false]"; the key-usage and key-strength results are not printed.
std::ostream& operator<<(std::ostream& os, const CertResult& result);

}  // namespace oxl::cert

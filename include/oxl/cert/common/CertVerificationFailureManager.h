// Strings the invalid-certificate policies and the validity cache together into one acceptance decision.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "oxl/cert/common/InvalidCertListener.h"
#include "oxl/cert/utils/CertEnumerations.h"
#include "oxl/cert/utils/CertStatus.h"
#include "oxl/common/Policy.h"

namespace oxl::cert {

class CertificateData;
class CertificateCacheAccessor;

class CertVerificationFailureManager {
  public:
    // Decides about a failed verification: from the cache when it knows the answer, otherwise by enforcing
    // the INVALID_CERT_MANAGEMENT policy, which may ask the user and block until answered. `persistPolicy`
    // is the asking verifier's PERSIST_INVALID_CERT_DECISION policy, if any.
    static CertAcceptanceDecision::Decision manageCertValidationFailure(
        std::shared_ptr<CertificateData> data, const std::string& referenceIdentifier,
        const std::string& identifierToDisplay, std::set<CertStatus::Status>& statuses,
        std::shared_ptr<oxl::common::Policy> policy,
        std::shared_ptr<oxl::common::Policy> persistPolicy = nullptr);

    // Only the cache's answer: UNKNOWN when the policy does not use the cache or the cache does not know. A
    // name mismatch is looked up for `referenceIdentifier` alone.
    static CertAcceptanceDecision::Decision checkCertificateCachedDecision(
        std::shared_ptr<CertificateData> data, std::set<CertStatus::Status>& statuses,
        std::shared_ptr<oxl::common::Policy> policy, const std::string& referenceIdentifier = {});

    // What the user is told about a certificate; the common name is "Unknown" when the certificate has none.
    static InvalidCertTexts buildTexts(const std::shared_ptr<CertificateData>& data,
                                       const std::string& referenceIdentifier,
                                       const std::string& identifierToDisplay,
                                       const std::set<CertStatus::Status>& statuses);

  private:
    static CertAcceptanceDecision::Decision canBeAccepted(const std::shared_ptr<CertificateData>& data,
                                                          const std::string& referenceIdentifier,
                                                          const std::string& identifierToDisplay,
                                                          std::set<CertStatus::Status>& statuses,
                                                          const std::shared_ptr<oxl::common::Policy>& policy,
                                                          const CertificateCacheAccessor& accessor);
    static CertAcceptanceDecision::Decision managePolicyEnforcementResult(
        oxl::common::Policy::PolicyEnforcingResult::EnforcingResult result,
        const std::set<CertStatus::Status>& statuses);
};

}  // namespace oxl::cert

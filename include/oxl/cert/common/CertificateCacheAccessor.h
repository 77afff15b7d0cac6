// Reads the validity cache on behalf of one failed verification, and lets the user-interacting policy judge
// whether reasons that differ from the cached ones are still covered by the cached decision.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "oxl/cert/utils/CertEnumerations.h"
#include "oxl/cert/utils/CertStatus.h"

namespace oxl::cert {

class InvalidCertManagementPolicy;
class UserInteractingInvalidCertManagementPolicy;

class CertificateCacheAccessor {
  public:
    // `statuses` are the verification's current reasons; they must outlive the accessor, which may change
    // them to {VALID} when a cached acceptance covers them.
    CertificateCacheAccessor(const std::string& fingerprint, std::set<CertStatus::Status>& statuses,
                             std::shared_ptr<InvalidCertManagementPolicy> policy);

    // NO when a cached rejection covers the reasons, YES when a cached acceptance does, UNKNOWN when the user
    // must be asked (or the policy does not use the cache), POLICY_ENFORCEMENT_ERROR when the policy fails.
    CertAcceptanceDecision::Decision buildDecisionFromCache() const;
    CertAcceptanceDecision::Decision hasBeenAlreadyRejectedByUser(
        const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy) const;
    CertAcceptanceDecision::Decision hasBeenAlreadyAcceptedByUser(
        const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy) const;

    // Record the user's answer: the current reasons are added to the accepted / rejected entry.
    void updateCacheAccepted() const;
    void updateCacheRejected() const;

    const std::string& getFingerprint() const { return fingerprint_; }
    const std::set<CertStatus::Status>& getStatuses() const { return statuses_; }
    std::shared_ptr<InvalidCertManagementPolicy> getPolicy() const { return policy_; }

  private:
    std::string fingerprint_;
    std::set<CertStatus::Status>& statuses_;
    std::shared_ptr<InvalidCertManagementPolicy> policy_;
};

}  // namespace oxl::cert

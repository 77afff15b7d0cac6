// Reads the validity cache on behalf of one failed verification, and lets the user-interacting policy judge
// whether reasons that differ from the cached ones are still covered by the cached decision.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "oxl/cert/utils/CertEnumerations.h"
#include "oxl/cert/utils/CertStatus.h"

namespace oxl::common {
class Policy;
}

namespace oxl::cert {

class InvalidCertManagementPolicy;
class UserInteractingInvalidCertManagementPolicy;

class CertificateCacheAccessor {
  public:
    // `statuses` are the verification's current reasons; they must outlive the accessor, which may change
    // them to {VALID} when a cached acceptance covers them. When they include a name mismatch, decisions are
    // read and written for `referenceIdentifier` alone (a certificate accepted for one host with the wrong
    // name is not accepted for every other host, and a rejection for a wrong host leaves the right host's
    // decision alone).
    CertificateCacheAccessor(const std::string& fingerprint, std::set<CertStatus::Status>& statuses,
                             std::shared_ptr<InvalidCertManagementPolicy> policy,
                             const std::string& referenceIdentifier = {});

    // NO when a cached rejection covers the reasons, YES when a cached acceptance does, UNKNOWN when the user
    // must be asked (or the policy does not use the cache), POLICY_ENFORCEMENT_ERROR when the policy fails.
    // A revoked certificate is never accepted from the cache.
    CertAcceptanceDecision::Decision buildDecisionFromCache() const;
    CertAcceptanceDecision::Decision hasBeenAlreadyRejectedByUser(
        const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy) const;
    CertAcceptanceDecision::Decision hasBeenAlreadyAcceptedByUser(
        const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy) const;

    // Record the user's answer: the current reasons are added to the accepted / rejected entry.
    void updateCacheAccepted() const;
    void updateCacheRejected() const;

    const std::string& getFingerprint() const { return fingerprint_; }
    // The cache key this accessor reads and writes (the fingerprint, or its host-scoped form).
    const std::string& getCacheKey() const { return key_; }
    // The PERSIST_INVALID_CERT_DECISION policy of the verifier that asks, if it has one; the notification
    // manager honours it together with its own.
    void setPersistPolicy(std::shared_ptr<oxl::common::Policy> policy) { persistPolicy_ = std::move(policy); }
    std::shared_ptr<oxl::common::Policy> getPersistPolicy() const { return persistPolicy_; }
    const std::set<CertStatus::Status>& getStatuses() const { return statuses_; }
    std::shared_ptr<InvalidCertManagementPolicy> getPolicy() const { return policy_; }

  private:
    std::string fingerprint_;
    std::string key_;
    std::set<CertStatus::Status>& statuses_;
    std::shared_ptr<InvalidCertManagementPolicy> policy_;
    std::shared_ptr<oxl::common::Policy> persistPolicy_;
};

}  // namespace oxl::cert

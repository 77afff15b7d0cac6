#include "oxl/cert/common/CertificateCacheAccessor.h"

#include <algorithm>

#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using Decision = CertAcceptanceDecision;
using EnforcingResult = oxl::common::Policy::PolicyEnforcingResult;

bool covers(const std::set<CertStatus::Status>& cached, const std::set<CertStatus::Status>& current) {
    return std::includes(cached.begin(), cached.end(), current.begin(), current.end());
}

// The policy judges the current failure reasons against those cached for the certificate: YES when it
// accepts them (the cache entry is then widened), NO when it does not (the entry is dropped).
Decision::Decision judgeAgainstCache(
    const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy,
    const std::set<CertStatus::Status>& cached, const std::set<CertStatus::Status>& current) {
    if (!policy) {
        return Decision::POLICY_ENFORCEMENT_ERROR;
    }
    bool accepted = false;
    const auto result = policy->enforceWithoutUserInteraction(cached, current, accepted);
    if (result != EnforcingResult::SUCCESS) {
        OXL_LOG_WARN(logger(), "UserInteractingInvalidCertManagementPolicy not enforced: " << result);
        return Decision::POLICY_ENFORCEMENT_ERROR;
    }
    if (accepted) {
        OXL_LOG_DEBUG(
            logger(),
            "Invalid Certificate management Policy accepted the failure reason give the cached ones, "
            "updating the cache with those reasons");
        return Decision::YES;
    }
    OXL_LOG_DEBUG(logger(),
                  "Invalid Certificate management Policy rejected the failure reason give the cached ones, "
                  "removing cache entry if any");
    return Decision::NO;
}

}  // namespace

CertificateCacheAccessor::CertificateCacheAccessor(const std::string& fingerprint,
                                                   std::set<CertStatus::Status>& statuses,
                                                   std::shared_ptr<InvalidCertManagementPolicy> policy,
                                                   const std::string& referenceIdentifier)
    : fingerprint_(fingerprint),
      key_(statuses.count(CertStatus::CN_NO_MATCH) != 0
               ? CertificateValidityCache::hostScopedKey(fingerprint, referenceIdentifier)
               : fingerprint),
      statuses_(statuses),
      policy_(std::move(policy)) {}

Decision::Decision CertificateCacheAccessor::buildDecisionFromCache() const {
    auto userPolicy = std::dynamic_pointer_cast<UserInteractingInvalidCertManagementPolicy>(policy_);
    if (!userPolicy) {
        OXL_LOG_DEBUG(logger(), "Policy does not interact with the user");
        return Decision::UNKNOWN;
    }
    if (!userPolicy->isAvoidable()) {
        OXL_LOG_DEBUG(logger(), "User interaction is unavoidable");
        return Decision::UNKNOWN;
    }
    const auto rejected = hasBeenAlreadyRejectedByUser(userPolicy);
    if (rejected == Decision::YES) {
        OXL_LOG_DEBUG(logger(), "Certificate cached as rejected for fingerprint [" << fingerprint_ << "]");
        return Decision::NO;
    }
    if (rejected == Decision::POLICY_ENFORCEMENT_ERROR) {
        OXL_LOG_WARN(logger(), "Unable to check rejected certificate cache content: "
                                   << rejected << " Fingerprint: [" << fingerprint_ << "]");
        return Decision::POLICY_ENFORCEMENT_ERROR;
    }
    const auto accepted = hasBeenAlreadyAcceptedByUser(userPolicy);
    if (accepted == Decision::YES) {
        OXL_LOG_DEBUG(logger(), "Certificate cached as accepted for fingerprint [" << fingerprint_ << "]");
        return Decision::YES;
    }
    if (accepted == Decision::POLICY_ENFORCEMENT_ERROR) {
        OXL_LOG_WARN(logger(), "Unable to check accepted certificate cache content: "
                                   << accepted << " Fingerprint: [" << fingerprint_ << "]");
        return Decision::POLICY_ENFORCEMENT_ERROR;
    }
    return Decision::UNKNOWN;
}

Decision::Decision CertificateCacheAccessor::hasBeenAlreadyRejectedByUser(
    const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy) const {
    const auto cached = CertificateValidityCache::getRejectedInvalidCacheValue(key_);
    if (!cached.empty() && covers(cached, statuses_)) {
        OXL_LOG_DEBUG(logger(),
                      "The certificate has been found in rejected cache, the failure reason have already "
                      "been accepted");
        return Decision::YES;
    }
    OXL_LOG_DEBUG(
        logger(),
        "The certificate has been found in rejected cache, not all the failure reason have already been "
        "accepted. Enforcing invalid certificate management policy on the result");
    const auto decision = judgeAgainstCache(policy, cached, statuses_);
    if (decision == Decision::YES) {
        CertificateValidityCache::addRejectedInvalidCertificate(key_, statuses_);
    } else if (decision == Decision::NO) {
        CertificateValidityCache::removeFromRejectedInvalidCache(key_);
    }
    return decision;
}

Decision::Decision CertificateCacheAccessor::hasBeenAlreadyAcceptedByUser(
    const std::shared_ptr<UserInteractingInvalidCertManagementPolicy>& policy) const {
    if (statuses_.count(CertStatus::INVALID_REVOKED) != 0) {
        OXL_LOG_DEBUG(logger(), "A revoked certificate is never accepted from the cache");
        return Decision::NO;
    }
    if (CertificateValidityCache::findInAcceptedValidCache(key_)) {
        OXL_LOG_DEBUG(logger(), "The certificate has been found in accepted valid cache");
        statuses_ = {CertStatus::VALID};
        return Decision::YES;
    }
    const auto cached = CertificateValidityCache::getAcceptedInvalidCacheValue(key_);
    if (!cached.empty() && covers(cached, statuses_)) {
        OXL_LOG_DEBUG(
            logger(),
            "The certificate has been found in accepted invalid cache, the failure reason have already been "
            "accepted");
        statuses_ = {CertStatus::VALID};
        return Decision::YES;
    }
    OXL_LOG_DEBUG(
        logger(),
        "The certificate has been found in accepted invalid cache, not all the failure reason have already "
        "been accepted. Enforcing invalid certificate management policy on the result");
    const auto decision = judgeAgainstCache(policy, cached, statuses_);
    if (decision == Decision::YES) {
        CertificateValidityCache::addAcceptedInvalidCertificate(key_, statuses_);
        statuses_ = {CertStatus::VALID};
    } else if (decision == Decision::NO) {
        CertificateValidityCache::removeFromAcceptedInvalidCache(key_);
    }
    return decision;
}

void CertificateCacheAccessor::updateCacheAccepted() const {
    OXL_LOG_DEBUG(logger(), "Adding the certificate to accepted invalid certificate cache, fingerprint ["
                                << key_ << "]");
    CertificateValidityCache::addAcceptedInvalidCertificate(key_, statuses_);
}

void CertificateCacheAccessor::updateCacheRejected() const {
    OXL_LOG_DEBUG(logger(), "Adding the certificate to rejected invalid certificate cache, fingerprint ["
                                << key_ << "]");
    CertificateValidityCache::addRejectedInvalidCertificate(key_, statuses_);
}

}  // namespace oxl::cert

#include "oxl/cert/common/CertVerificationFailureManager.h"

#include "oxl/cert/common/CertificateCacheAccessor.h"
#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

using oxl::common::Policy;
using Decision = CertAcceptanceDecision;

std::shared_ptr<InvalidCertManagementPolicy> asManagementPolicy(const std::shared_ptr<Policy>& policy) {
    if (!policy || policy->getNature() != Policy::PolicyNature::INVALID_CERT_MANAGEMENT) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<InvalidCertManagementPolicy>(policy);
}

std::string fingerprintOf(const std::shared_ptr<CertificateData>& data) {
    return data ? data->getFingerprint() : std::string();
}
}  // namespace

InvalidCertTexts CertVerificationFailureManager::buildTexts(const std::shared_ptr<CertificateData>& data,
                                                            const std::string& referenceIdentifier,
                                                            const std::string& identifierToDisplay,
                                                            const std::set<CertStatus::Status>& statuses) {
    InvalidCertTexts texts;
    texts.fingerprint = fingerprintOf(data);
    texts.commonName = data ? data->getCommonName() : std::string();
    if (texts.commonName.empty()) {
        OXL_LOG_DEBUG(logger(), "The certificate common name is empty, replacing with Unknown.");
        texts.commonName = "Unknown";
    }
    texts.referenceIdentifier = referenceIdentifier;
    texts.identifierToDisplay = identifierToDisplay;
    texts.failureDescription = describeInvalidReasons(statuses);
    return texts;
}

Decision::Decision CertVerificationFailureManager::manageCertValidationFailure(
    std::shared_ptr<CertificateData> data, const std::string& referenceIdentifier,
    const std::string& identifierToDisplay, std::set<CertStatus::Status>& statuses,
    std::shared_ptr<Policy> policy, std::shared_ptr<Policy> persistPolicy) {
    OXL_LOG_DEBUG(logger(), "About to manage Invalid Cert.");
    if (CertStatus::representsVerificationSuccess(statuses)) {
        OXL_LOG_DEBUG(logger(), "Accepting the provided cert because its status represents a valid cert.");
        return Decision::YES;
    }
    auto management = asManagementPolicy(policy);
    if (!management) {
        OXL_LOG_WARN(
            logger(),
            "Invalid certificate management policy not available, cannot take any action, rejecting");
        return Decision::NO;
    }
    CertificateCacheAccessor accessor(fingerprintOf(data), statuses, management, referenceIdentifier);
    if (persistPolicy && persistPolicy->getNature() == Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION) {
        accessor.setPersistPolicy(std::move(persistPolicy));
    }
    auto decision = accessor.buildDecisionFromCache();
    if (decision != Decision::UNKNOWN) {
        OXL_LOG_DEBUG(logger(), "Cert Acceptance decision: " << decision);
        return decision;
    }
    decision = canBeAccepted(data, referenceIdentifier, identifierToDisplay, statuses, management, accessor);
    OXL_LOG_DEBUG(logger(), "Cert Acceptance decision: " << decision);
    return decision;
}

Decision::Decision CertVerificationFailureManager::checkCertificateCachedDecision(
    std::shared_ptr<CertificateData> data, std::set<CertStatus::Status>& statuses,
    std::shared_ptr<Policy> policy, const std::string& referenceIdentifier) {
    OXL_LOG_DEBUG(logger(), "About to check cached decision for an Invalid Cert.");
    auto management = asManagementPolicy(policy);
    if (!management) {
        OXL_LOG_DEBUG(logger(), "Invalid certificate management policy not available");
        return Decision::UNKNOWN;
    }
    if (!management->interactsWithUser()) {
        OXL_LOG_DEBUG(logger(), "Invalid certificate management policy not interacting with the cache");
        return Decision::UNKNOWN;
    }
    CertificateCacheAccessor accessor(fingerprintOf(data), statuses, management, referenceIdentifier);
    auto decision = accessor.buildDecisionFromCache();
    OXL_LOG_DEBUG(logger(), "Cert Acceptance decision: " << decision);
    return decision;
}

Decision::Decision CertVerificationFailureManager::canBeAccepted(const std::shared_ptr<CertificateData>& data,
                                                                 const std::string& referenceIdentifier,
                                                                 const std::string& identifierToDisplay,
                                                                 std::set<CertStatus::Status>& statuses,
                                                                 const std::shared_ptr<Policy>& policy,
                                                                 const CertificateCacheAccessor& accessor) {
    OXL_LOG_DEBUG(logger(), "About to check if the Invalid Cert can be accepted.");
    auto management = asManagementPolicy(policy);
    std::set<CertStatus::Status> copy = statuses;
    Policy::PolicyEnforcingResult::EnforcingResult result = Policy::PolicyEnforcingResult::ENFORCING_FAILURE;
    auto interacting = std::dynamic_pointer_cast<UserInteractingInvalidCertManagementPolicy>(management);
    if (!management->interactsWithUser() || !interacting) {
        OXL_LOG_DEBUG(logger(), "About to enforce InvalidCertManagementPolicy.");
        result = management->enforce(copy, data);
        OXL_LOG_DEBUG(logger(), "InvalidCertManagementPolicy enforced with result: " << result);
    } else {
        auto texts = buildTexts(data, referenceIdentifier, identifierToDisplay, statuses);
        std::vector<std::string> pems = data ? data->getPemCertificates() : std::vector<std::string>();
        if (pems.empty()) {
            OXL_LOG_DEBUG(logger(), "The certificate data PEM list is empty.");
        }
        OXL_LOG_DEBUG(logger(), "About to enforce UserInteractingInvalidCertManagementPolicy.");
        result = interacting->enforce(copy, texts, pems, accessor);
        OXL_LOG_DEBUG(logger(),
                      "UserInteractingInvalidCertManagementPolicy enforced with result: " << result);
    }
    return managePolicyEnforcementResult(result, copy);
}

Decision::Decision CertVerificationFailureManager::managePolicyEnforcementResult(
    Policy::PolicyEnforcingResult::EnforcingResult result, const std::set<CertStatus::Status>& statuses) {
    if (result == Policy::PolicyEnforcingResult::SUCCESS) {
        return CertStatus::representsVerificationSuccess(statuses) ? Decision::YES : Decision::NO;
    }
    OXL_LOG_WARN(logger(), "Invalid certificate management policy not enforced");
    return Decision::POLICY_ENFORCEMENT_ERROR;
}

}  // namespace oxl::cert

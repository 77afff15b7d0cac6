#include "oxl/cert/common/BaseCertVerifier.h"

#include <sstream>

#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/IgnoreInvalidCertConditionPolicy.h"
#include "oxl/cert/common/PlatformVerificationHandler.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/cert/utils/AltNameParser.h"
#include "oxl/cert/utils/CertContainer.h"
#include "oxl/cert/utils/KeyStrengthParser.h"
#include "oxl/cert/utils/KeyUsageParser.h"
#include "oxl/common/FipsUtils.h"
#include "oxl/diag/Diagnostics.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.");
    return l;
}

using oxl::common::Policy;

// Diagnostics section of certificate verifications, and its record types.
constexpr int DIAG_SECTION_CERT = 6;
constexpr int DIAG_RECORD_VALID = 0;
constexpr int DIAG_RECORD_INVALID = 1;

CertResult internalError() {
    CertResult result;
    result.result = CertResult::FAILURE;
    result.invalidReasons = {CertStatus::INTERNAL_ERROR};
    return result;
}
// Only a failed verification is shown to the user or cached, so a valid one skips the PEM conversion.
bool needsCertificateData(const CertResult& initial) {
    return initial.result != CertResult::SUCCESS ||
           !CertStatus::representsVerificationSuccess(initial.invalidReasons);
}
}  // namespace

// A consistent snapshot of the replaceable factories for one verification.
struct BaseCertVerifier::Factories {
    std::shared_ptr<CertContainerFactory> certContainer;
    std::shared_ptr<AltNameParserFactory> altNameParser;
    std::shared_ptr<KeyUsageParserFactory> keyUsageParser;
    std::shared_ptr<KeyStrengthParserFactory> keyStrengthParser;
    std::shared_ptr<CertificateDataFactory> certificateData;
};

BaseCertVerifier::BaseCertVerifier(std::shared_ptr<PlatformCertVerifier> platformCertVerifier)
    : PolicyDriven(false),
      certContainerFactory_(std::make_shared<CertContainerFactory>()),
      platformCertVerifier_(std::move(platformCertVerifier)),
      altNameParserFactory_(std::make_shared<AltNameParserFactory>()),
      keyUsageParserFactory_(std::make_shared<KeyUsageParserFactory>()),
      keyStrengthParserFactory_(std::make_shared<KeyStrengthParserFactory>()),
      certificateDataFactory_(std::make_shared<CertificateDataFactory>()),
      platformVerificationHandler_(std::make_shared<PlatformVerificationHandler>()) {}

BaseCertVerifier::~BaseCertVerifier() = default;

void BaseCertVerifier::addPolicy(std::shared_ptr<Policy> policy) {
    if (!policy) {
        return;
    }
    switch (policy->getNature()) {
        case Policy::PolicyNature::INVALID_CERT_MANAGEMENT:
            OXL_LOG_DEBUG(logger(), "Adding INVALID_CERT_MANAGEMENT policy : " << policy->getName());
            break;
        case Policy::PolicyNature::IGNORE_INVALID_CERT_CONDITION:
            if (oxl::common::FipsUtils::isFipsEnabled()) {
                if (auto ignore = std::dynamic_pointer_cast<IgnoreInvalidCertConditionPolicy>(policy)) {
                    auto reduced =
                        std::dynamic_pointer_cast<IgnoreInvalidCertConditionPolicy>(ignore->stripOut(
                            IgnoreInvalidCertConditionPolicy::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY));
                    if (reduced) {
                        policy = reduced->stripOut(
                            IgnoreInvalidCertConditionPolicy::IGNORE_WEAK_KEY_ERRORS_POLICY);
                    }
                }
            }
            break;
        default:
            break;
    }
    PolicyDriven::addPolicy(policy);
    platformVerificationHandler_->addPolicy(policy);
}

void BaseCertVerifier::removePolicy(Policy::PolicyNature::Nature nature) {
    PolicyDriven::removePolicy(nature);
    platformVerificationHandler_->removePolicy(nature);
}

void BaseCertVerifier::setCertContainerFactory(std::shared_ptr<CertContainerFactory> factory) {
    std::lock_guard<std::mutex> lock(factoriesMutex_);
    certContainerFactory_ = std::move(factory);
}

void BaseCertVerifier::setAltNameParserFactory(std::shared_ptr<AltNameParserFactory> factory) {
    std::lock_guard<std::mutex> lock(factoriesMutex_);
    altNameParserFactory_ = std::move(factory);
}

void BaseCertVerifier::setKeyUsageParserFactory(std::shared_ptr<KeyUsageParserFactory> factory) {
    std::lock_guard<std::mutex> lock(factoriesMutex_);
    keyUsageParserFactory_ = std::move(factory);
}

void BaseCertVerifier::setKeyStrengthParserFactory(std::shared_ptr<KeyStrengthParserFactory> factory) {
    std::lock_guard<std::mutex> lock(factoriesMutex_);
    keyStrengthParserFactory_ = std::move(factory);
}

void BaseCertVerifier::setCertificateDataFactory(std::shared_ptr<CertificateDataFactory> factory) {
    std::lock_guard<std::mutex> lock(factoriesMutex_);
    certificateDataFactory_ = std::move(factory);
}

std::shared_ptr<CertificateData> BaseCertVerifier::buildCertificateData(
    const Factories& f, const std::shared_ptr<CertContainer>& container) {
    return f.certificateData ? f.certificateData->buildCertificateData(container) : nullptr;
}

BaseCertVerifier::Factories BaseCertVerifier::factories() const {
    std::lock_guard<std::mutex> lock(factoriesMutex_);
    return Factories{certContainerFactory_, altNameParserFactory_, keyUsageParserFactory_,
                     keyStrengthParserFactory_, certificateDataFactory_};
}

std::shared_ptr<CertContainer> BaseCertVerifier::buildContainer(const X509_STORE_CTX* ctx) const {
    auto factory = factories().certContainer;
    return factory ? factory->buildCertContainer(ctx) : nullptr;
}

std::shared_ptr<CertContainer> BaseCertVerifier::buildContainer(const X509* cert) const {
    auto factory = factories().certContainer;
    return factory ? factory->buildCertContainer(cert) : nullptr;
}

CertResult BaseCertVerifier::verifyCertificate(const std::shared_ptr<CertContainer>& container,
                                               Identity& identity) {
    OXL_LOG_DEBUG(logger(), "verifyCertificate using ctx. Identity: " << identity);
    if (!container || !container->isValid()) {
        OXL_LOG_ERROR(logger(), "Received an invalid certContainer");
        return internalError();
    }
    if (!identity.isValid()) {
        OXL_LOG_ERROR(logger(), "Received an invalid identity");
        return internalError();
    }
    auto f = factories();
    CertResult initial = doVerifyCertificate(container, identity, f);
    auto data = needsCertificateData(initial) ? buildCertificateData(f, container) : nullptr;
    return platformVerificationHandler_->handlePlatformVerificationResultSynchronously(
        initial, data, identity.getDecisionIdentifier(), identity.getIdentifierToDisplay());
}

bool BaseCertVerifier::verifyCertificateAsync(
    const std::shared_ptr<CertContainer>& container, Identity& identity,
    const std::shared_ptr<CertificateVerificationListener>& listener, CertResult& instantResult,
    unsigned int& requestId) {
    OXL_LOG_DEBUG(logger(), "verifyCertificateAsync using ctx. Identity: " << identity);
    requestId = 0;
    if (!container || !container->isValid()) {
        OXL_LOG_ERROR(logger(), "Received an invalid cert context");
        return false;
    }
    if (!identity.isValid()) {
        OXL_LOG_ERROR(logger(), "Received an invalid identity");
        return false;
    }
    auto f = factories();
    CertResult initial = doVerifyCertificate(container, identity, f);
    OXL_LOG_DEBUG(logger(), "Certificate initially verified, result: " << initial);
    auto data = needsCertificateData(initial) ? buildCertificateData(f, container) : nullptr;
    platformVerificationHandler_->handlePlatformVerificationResultAsynchronously(
        data, identity.getDecisionIdentifier(), identity.getIdentifierToDisplay(), listener, initial,
        instantResult, requestId);
    return true;
}

CertResult BaseCertVerifier::doVerifyCertificate(const std::shared_ptr<CertContainer>& container,
                                                 Identity& identity, const Factories& f) {
    auto altNames = f.altNameParser ? f.altNameParser->buildAltNameParser() : nullptr;
    auto keyUsage = f.keyUsageParser ? f.keyUsageParser->buildKeyUsageParser() : nullptr;
    auto keyStrength = f.keyStrengthParser ? f.keyStrengthParser->buildKeyStrengthParser() : nullptr;
    if (!container->hasValidLeafCert() ||
        !parseCert(container->getLeafCert(), altNames, keyUsage, keyStrength)) {
        return internalError();
    }
    if (!platformCertVerifier_) {
        OXL_LOG_ERROR(logger(), "No platform certificate verifier available");
        return internalError();
    }

    // The identity is checked first: the chain must also show that the CAs may vouch for the names matched.
    std::vector<std::string> matchedNames;
    CertResult checks = checkCertificate(altNames, keyUsage, keyStrength, identity, matchedNames);

    OXL_LOG_DEBUG(logger(), "About to verify the certificate.");
    std::set<CertStatus::Status> platform =
        container->isLeafCert()
            ? platformCertVerifier_->verifyForHostNames(container->getLeafCert(), matchedNames)
            : platformCertVerifier_->verifyForHostNames(container->getCertChain(), matchedNames);
    OXL_LOG_DEBUG(logger(), "Result of platform cert verification: " << platform);

    CertResult result;
    if (CertStatus::representsVerificationSuccess(platform)) {
        result = checks;
    } else {
        result.result = CertResult::FAILURE;
        result.invalidReasons = platform;
        result.identifierStatus = checks.identifierStatus;
        result.keyUsageResult = checks.keyUsageResult;
        result.keyStrengthResult = checks.keyStrengthResult;
        if (checks.result != CertResult::SUCCESS) {
            result.invalidReasons.insert(checks.invalidReasons.begin(), checks.invalidReasons.end());
        }
    }

    if (result.result == CertResult::SUCCESS) {
        OXLDiagnostics::DiagnosticsWrapper::AddRecord(
            DIAG_RECORD_VALID, DIAG_SECTION_CERT, result.identifierStatus.matchedIdentifier, "VALID", 0, "");
    } else {
        std::ostringstream reasons;
        reasons << result.invalidReasons;
        OXLDiagnostics::DiagnosticsWrapper::AddRecord(
            DIAG_RECORD_INVALID, DIAG_SECTION_CERT, identity.getIdentifierToDisplay(), reasons.str(), 0, "");
    }

    applyIgnoreInvalidCertConditionPolicy(result);

    if (result.identifierStatus.status == CertIdentifierStatus::SUCCESS) {
        identity.setMatchedReferenceIdentifier(result.identifierStatus.matchedIdentifier);
    }
    return result;
}

bool BaseCertVerifier::parseCert(const X509* cert, const std::shared_ptr<AltNameParser>& altNames,
                                 const std::shared_ptr<KeyUsageParser>& keyUsage,
                                 const std::shared_ptr<KeyStrengthParser>& keyStrength) {
    if (!altNames || altNames->parse(cert) != CertIdentifierStatus::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Parsing of alternative names failed");
        return false;
    }
    if (!keyUsage || keyUsage->parse(cert) != CertKeyUsageResult::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Parsing of key usage or extended key usage failed");
        return false;
    }
    if (!keyStrength || keyStrength->parse(cert) != CertKeyStrengthResult::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Parsing of key strength failed");
        return false;
    }
    return true;
}

CertResult BaseCertVerifier::checkCertificate(const std::shared_ptr<AltNameParser>& altNames,
                                              const std::shared_ptr<KeyUsageParser>& keyUsage,
                                              const std::shared_ptr<KeyStrengthParser>& keyStrength,
                                              const Identity& identity,
                                              std::vector<std::string>& matchedNames) {
    CertResult id = checkIdentity(altNames, identity, matchedNames);
    CertResult usage = checkKeyUsage(keyUsage);
    CertResult strength = checkKeyStrength(keyStrength);

    CertResult result;
    result.identifierStatus = id.identifierStatus;
    result.keyUsageResult = usage.keyUsageResult;
    result.keyStrengthResult = strength.keyStrengthResult;
    if (id.result == CertResult::SUCCESS && usage.result == CertResult::SUCCESS &&
        strength.result == CertResult::SUCCESS) {
        result.result = CertResult::SUCCESS;
        result.invalidReasons = {CertStatus::VALID};
        return result;
    }
    result.result = CertResult::FAILURE;
    for (const auto* part : {&id, &usage, &strength}) {
        if (part->result != CertResult::SUCCESS) {
            result.invalidReasons.insert(part->invalidReasons.begin(), part->invalidReasons.end());
        }
    }
    return result;
}

CertResult BaseCertVerifier::checkIdentity(const std::shared_ptr<AltNameParser>& parser,
                                           const Identity& identity, std::vector<std::string>& matchedNames) {
    CertResult result;
    const auto references = identity.getValidReferenceIdentifiers();
    const auto& mandatory = identity.getMandatoryReferenceIdentifier();
    if (identity.hasMandatoryReferenceIdentifier() && !mandatory.empty()) {
        CertIdentifierStatus mandatoryStatus = checkIdentifiers(parser, {mandatory});
        result.identifierStatus = mandatoryStatus;
        if (mandatoryStatus.status != CertIdentifierStatus::SUCCESS) {
            result.result = CertResult::FAILURE;
            result.invalidReasons = {CertStatus::CN_NO_MATCH};
            return result;
        }
        matchedNames.push_back(mandatory);
        const auto referenceStatus = checkIdentifiers(parser, references);
        if (referenceStatus.status != CertIdentifierStatus::SUCCESS) {
            result.result = CertResult::FAILURE;
            result.invalidReasons = {CertStatus::CN_NO_MATCH};
            return result;
        }
        matchedNames.push_back(referenceStatus.matchedIdentifier);
        result.result = CertResult::SUCCESS;
        return result;
    }
    result.identifierStatus = checkIdentifiers(parser, references);
    if (result.identifierStatus.status == CertIdentifierStatus::SUCCESS) {
        matchedNames.push_back(result.identifierStatus.matchedIdentifier);
        result.result = CertResult::SUCCESS;
    } else {
        result.result = CertResult::FAILURE;
        result.invalidReasons = {CertStatus::CN_NO_MATCH};
    }
    return result;
}

CertIdentifierStatus BaseCertVerifier::checkIdentifiers(const std::shared_ptr<AltNameParser>& parser,
                                                        const std::vector<std::string>& identifiers) {
    CertIdentifierStatus status;
    for (const auto& id : identifiers) {
        status.status = checkIdentifier(parser, id);
        if (status.status == CertIdentifierStatus::SUCCESS) {
            status.matchedIdentifier = id;
            OXL_LOG_DEBUG(logger(),
                          "Verification of identity succeeded. Matched identifier : '" << id << "'");
            return status;
        }
    }
    std::ostringstream all;
    for (const auto& id : identifiers) {
        all << " '" << id << "'";
    }
    OXL_LOG_ERROR(logger(), "Verification of identity:" << all.str() << " failed.");
    return status;
}

CertResult BaseCertVerifier::checkKeyUsage(const std::shared_ptr<KeyUsageParser>& parser) {
    CertResult result;
    if (!parser || !parser->parsed()) {
        result.result = CertResult::FAILURE;
        result.invalidReasons = {CertStatus::INTERNAL_ERROR};
        result.keyUsageResult = CertKeyUsageResult::INTERNAL_ERROR;
        return result;
    }
    CertKeyUsageResult::Result usage = CertKeyUsageResult::SUCCESS;
    if (!parser->hasBasicKeyUsage()) {
        OXL_LOG_INFO(logger(),
                     "No basic key usage extension in the cert. Considering the KeyUsage as verified");
    } else {
        usage = parser->verifyBasicKeyUsage({BasicKeyUsage::DIGITAL_SIGNATURE});
        if (usage != CertKeyUsageResult::SUCCESS) {
            usage = parser->verifyBasicKeyUsage({BasicKeyUsage::KEY_ENCIPHERMENT});
        }
    }
    if (usage == CertKeyUsageResult::SUCCESS) {
        if (parser->isExtendedKeyUsageEmpty()) {
            OXL_LOG_INFO(logger(), "The extended key usage extension allows no usage");
            usage = CertKeyUsageResult::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND;
        } else if (!parser->hasExtendedKeyUsage()) {
            OXL_LOG_INFO(
                logger(),
                "No extended key usage extension in the cert. Considering the ExtendedKeyUsage as verified");
        } else {
            usage = parser->verifyExtendedKeyUsage({ExtendedKeyUsage::SERVER_AUTH});
            if (usage != CertKeyUsageResult::SUCCESS && parser->isAnyExtendedKeyUsageSet()) {
                usage = CertKeyUsageResult::SUCCESS;
            }
        }
    }
    result.keyUsageResult = usage;
    if (usage == CertKeyUsageResult::SUCCESS) {
        result.result = CertResult::SUCCESS;
    } else {
        result.result = CertResult::FAILURE;
        result.invalidReasons = {CertStatus::WRONG_USAGE};
    }
    return result;
}

CertResult BaseCertVerifier::checkKeyStrength(const std::shared_ptr<KeyStrengthParser>& parser) {
    CertResult result;
    if (!parser || !parser->parsed()) {
        result.result = CertResult::FAILURE;
        result.invalidReasons = {CertStatus::INTERNAL_ERROR};
        result.keyStrengthResult = CertKeyStrengthResult::INTERNAL_ERROR;
        return result;
    }
    result.keyStrengthResult = oxl::common::FipsUtils::isFipsEnabled() ? parser->verify(FIPS_MINIMUM_KEY_BITS)
                                                                       : CertKeyStrengthResult::SUCCESS;
    if (result.keyStrengthResult == CertKeyStrengthResult::SUCCESS) {
        result.result = CertResult::SUCCESS;
    } else {
        result.result = CertResult::FAILURE;
        result.invalidReasons = {result.keyStrengthResult == CertKeyStrengthResult::FAILURE
                                     ? CertStatus::WEAK_KEY
                                     : CertStatus::INTERNAL_ERROR};
    }
    return result;
}

void BaseCertVerifier::applyIgnoreInvalidCertConditionPolicy(CertResult& result) const {
    if (CertStatus::representsVerificationSuccess(result.invalidReasons)) {
        OXL_LOG_DEBUG(logger(), "Certificate verification was successful, not applying policy.");
        return;
    }
    auto policy = std::dynamic_pointer_cast<IgnoreInvalidCertConditionPolicy>(
        getPolicy(Policy::PolicyNature::IGNORE_INVALID_CERT_CONDITION));
    if (!policy) {
        OXL_LOG_INFO(logger(), "Ignore invalid cert condition policy not available, not taking any action.");
        return;
    }
    OXL_LOG_DEBUG(logger(), "About to enforce ignore invalid cert condition policy.");
    const auto before = result.invalidReasons;
    policy->enforce(result.invalidReasons);
    if (oxl::common::FipsUtils::isFipsEnabled()) {
        // However the policy was made (or FIPS mode was entered after it was added), FIPS mode keeps these.
        for (auto kept : {CertStatus::WEAK_KEY, CertStatus::WRONG_USAGE}) {
            if (before.count(kept) != 0) {
                result.invalidReasons.insert(kept);
            }
        }
    }
    if (CertStatus::representsVerificationSuccess(result.invalidReasons)) {
        OXL_LOG_DEBUG(logger(), "Setting the certificate verification result to success.");
        result.result = CertResult::SUCCESS;
    }
}

}  // namespace oxl::cert

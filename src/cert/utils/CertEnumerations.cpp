#include "oxl/cert/utils/CertEnumerations.h"

#include "oxl/cert/utils/CertIdentifierStatus.h"
#include "oxl/cert/utils/CertResult.h"
#include "oxl/cert/utils/CertStatus.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::cert {

namespace {

// Printing for the enumerations whose unknown values appear as a bare number.
std::ostream& printOrNumber(std::ostream& os, long value,
                            std::initializer_list<std::pair<long, const char*>> names) {
    for (const auto& [v, name] : names) {
        if (v == value) {
            return os << name;
        }
    }
    return os << value;
}

}  // namespace

bool CertStatus::representsVerificationSuccess(const std::set<Status>& statuses) {
    return statuses.empty() || (statuses.size() == 1 && *statuses.begin() == VALID);
}

std::ostream& operator<<(std::ostream& os, CertStatus::Status status) {
    using S = CertStatus;
    return oxl::detail::printEnum(
        os, static_cast<int>(status),
        {{S::VALID, "VALID"},
         {S::INVALID_REVOKED, "INVALID_REVOKED"},
         {S::INTERNAL_ERROR, "INTERNAL_ERROR"},
         {S::BASIC_CONSTRAINTS, "BASIC_CONSTRAINTS"},
         {S::NO_REVOCATION_CHECK, "NO_REVOCATION_CHECK"},
         {S::REVOCATION_OFFLINE, "REVOCATION_OFFLINE"},
         {S::UNTRUSTED_ROOT, "UNTRUSTED_ROOT"},
         {S::INVALID_SIGNATURE, "INVALID_SIGNATURE"},
         {S::INVALID_CHAIN, "INVALID_CHAIN"},
         {S::CN_NO_MATCH, "CN_NO_MATCH"},
         {S::WRONG_USAGE, "WRONG_USAGE"},
         {S::EXPIRED, "EXPIRED"},
         {S::INVALID_NAME, "INVALID_NAME"},
         {S::INVALID_POLICY, "INVALID_POLICY"},
         {S::FAILED_TO_VERIFY_XMPP_SUBJECT_ALT_NAME, "FAILED_TO_VERIFY_XMPP_SUBJECT_ALT_NAME"},
         {S::REVOCATION_STATUS_UNKNOWN, "REVOCATION_STATUS_UNKNOWN"},
         {S::INVALID_EXTENSION, "INVALID_EXTENSION"},
         {S::CTL_IS_NOT_VALID, "CTL_IS_NOT_VALID"},
         {S::INVALID_NAME_CONSTRAINT, "INVALID_NAME_CONSTRAINT"},
         {S::POLICY_NO_ISSUANCE, "POLICY_NO_ISSUANCE"},
         {S::EXPLICIT_DISTRUST, "EXPLICIT_DISTRUST"},
         {S::NOT_SUPPORTED_CRITICAL_EXT, "NOT_SUPPORTED_CRITICAL_EXT"},
         {S::IS_PARTIAL_CHAIN, "IS_PARTIAL_CHAIN"},
         {S::CERT_TRUST_CYCLIC, "CERT_TRUST_CYCLIC"},
         {S::NO_TIME_VALID, "NO_TIME_VALID"},
         {S::WEAK_KEY, "WEAK_KEY"},
         {S::UNKNOWN, "UNKNOWN"}});
}

std::ostream& operator<<(std::ostream& os, const std::set<CertStatus::Status>& statuses) {
    os << "[";
    bool first = true;
    for (auto s : statuses) {
        if (!first) {
            os << " ";
        }
        first = false;
        os << s;
    }
    return os << "]";
}

std::ostream& operator<<(std::ostream& os, CertKeyUsageResult::Result value) {
    using R = CertKeyUsageResult;
    return oxl::detail::printEnum(
        os, static_cast<int>(value),
        {{R::SUCCESS, "SUCCESS"},
         {R::NO_MATCHING_BASIC_KEY_USAGE_FOUND, "NO_MATCHING_BASIC_KEY_USAGE_FOUND"},
         {R::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND, "NO_MATCHING_EXTENDED_KEY_USAGE_FOUND"},
         {R::INTERNAL_ERROR, "INTERNAL_ERROR"}});
}

std::ostream& operator<<(std::ostream& os, CertKeyStrengthResult::Result value) {
    using R = CertKeyStrengthResult;
    return oxl::detail::printEnum(
        os, static_cast<int>(value),
        {{R::SUCCESS, "SUCCESS"}, {R::FAILURE, "FAILURE"}, {R::INTERNAL_ERROR, "INTERNAL_ERROR"}});
}

std::ostream& operator<<(std::ostream& os, CertAcceptanceDecision::Decision value) {
    using D = CertAcceptanceDecision;
    return oxl::detail::printEnum(os, static_cast<int>(value),
                                  {{D::YES, "YES"},
                                   {D::NO, "NO"},
                                   {D::POLICY_ENFORCEMENT_ERROR, "POLICY_ENFORCEMENT_ERROR"},
                                   {D::UNKNOWN, "UNKNOWN"}});
}

std::ostream& operator<<(std::ostream& os, CertEncoding::Format value) {
    return oxl::detail::printEnum(os, static_cast<int>(value),
                                  {{CertEncoding::DER, "DER"}, {CertEncoding::PEM, "PEM"}});
}

std::ostream& operator<<(std::ostream& os, BasicKeyUsage::Usage value) {
    using U = BasicKeyUsage;
    return printOrNumber(os, static_cast<long>(value),
                         {{U::DIGITAL_SIGNATURE, "DIGITAL_SIGNATURE"},
                          {U::NON_REPUDIATION, "NON_REPUDIATION"},
                          {U::KEY_ENCIPHERMENT, "KEY_ENCIPHERMENT"},
                          {U::DATA_ENCIPHERMENT, "DATA_ENCIPHERMENT"},
                          {U::KEY_AGREEMENT, "KEY_AGREEMENT"},
                          {U::KEY_CERT_SIGN, "KEY_CERT_SIGN"},
                          {U::CRL_SIGN, "CRL_SIGN"},
                          {U::ENCIPHER_ONLY, "ENCIPHER_ONLY"},
                          {U::DECIPHER_ONLY, "DECIPHER_ONLY"}});
}

std::ostream& operator<<(std::ostream& os, ExtendedKeyUsage::Usage value) {
    using U = ExtendedKeyUsage;
    return printOrNumber(os, static_cast<long>(value),
                         {{U::SERVER_AUTH, "SERVER_AUTH"},
                          {U::CLIENT_AUTH, "CLIENT_AUTH"},
                          {U::CODE_SIGNING, "CODE_SIGNING"},
                          {U::EMAIL_PROTECTION, "EMAIL_PROTECTION"},
                          {U::IPSEC_END_SYSTEM, "IPSEC_END_SYSTEM"},
                          {U::IPSEC_TUNNEL, "IPSEC_TUNNEL"},
                          {U::IPSEC_USER, "IPSEC_USER"},
                          {U::TIME_STAMPING, "TIME_STAMPING"},
                          {U::OCSP_SIGN, "OCSP_SIGN"},
                          {U::DVCS, "DVCS"}});
}

std::ostream& operator<<(std::ostream& os, CertIdentifierStatus::Status status) {
    using S = CertIdentifierStatus;
    return printOrNumber(os, static_cast<long>(status),
                         {{S::SUCCESS, "SUCCESS"},
                          {S::INTERNAL_ERROR, "INTERNAL_ERROR"},
                          {S::NO_MATCH_FOUND, "NO_MATCH_FOUND"},
                          {S::NO_IDENTITY_INFO_IN_CERT, "NO_IDENTITY_INFO_IN_CERT"}});
}

std::ostream& operator<<(std::ostream& os, const CertIdentifierStatus& status) {
    return os << "["
              << "result : " << status.status << " , "
              << "matched ID : " << status.matchedIdentifier << "]";
}

std::ostream& operator<<(std::ostream& os, CertResult::Result result) {
    using R = CertResult;
    return printOrNumber(os, static_cast<long>(result),
                         {{R::SUCCESS, "SUCCESS"},
                          {R::FAILURE, "FAILURE"},
                          {R::POLICY_NOT_ENFORCED_ERROR, "POLICY_NOT_ENFORCED_ERROR"}});
}

std::ostream& operator<<(std::ostream& os, const CertResult& result) {
    return os << "["
              << "result : " << result.result << " , "
              << "invalid reason : " << result.invalidReasons << " , "
              << "identifier validation : " << result.identifierStatus << " , "
              << "fingerprint marked as valid : " << (result.fingerprintMarkedAsValid ? "true" : "false")
              << "]";
}

}  // namespace oxl::cert

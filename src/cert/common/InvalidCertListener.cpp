#include "oxl/cert/common/InvalidCertListener.h"

#include <sstream>

namespace oxl::cert {

namespace {
const char* describe(CertStatus::Status status) {
    switch (status) {
        case CertStatus::VALID:
            return nullptr;
        case CertStatus::INVALID_REVOKED:
            return "The certificate has been revoked";
        case CertStatus::UNTRUSTED_ROOT:
            return "The certificate is not issued by a trusted authority";
        case CertStatus::INVALID_CHAIN:
        case CertStatus::IS_PARTIAL_CHAIN:
            return "The certificate chain is incomplete";
        case CertStatus::CN_NO_MATCH:
            return "The certificate does not match the server name";
        case CertStatus::EXPIRED:
        case CertStatus::NO_TIME_VALID:
            return "The certificate has expired or is not yet valid";
        case CertStatus::WRONG_USAGE:
            return "The certificate is not meant for server authentication";
        case CertStatus::WEAK_KEY:
            return "The certificate key is too weak";
        case CertStatus::INVALID_SIGNATURE:
            return "The certificate signature is not valid";
        case CertStatus::NO_REVOCATION_CHECK:
        case CertStatus::REVOCATION_OFFLINE:
        case CertStatus::REVOCATION_STATUS_UNKNOWN:
            return "The revocation status of the certificate could not be checked";
        default:
            return "";
    }
}
}  // namespace

std::string describeInvalidReasons(const std::set<CertStatus::Status>& statuses) {
    std::ostringstream out;
    std::set<std::string> written;
    for (auto status : statuses) {
        const char* text = describe(status);
        if (text == nullptr) {
            continue;
        }
        std::ostringstream one;
        if (*text == '\0') {
            one << "The certificate failed verification (" << status << ")";
        } else {
            one << text;
        }
        // Several statuses share one sentence.
        if (!written.insert(one.str()).second) {
            continue;
        }
        if (written.size() > 1) {
            out << "; ";
        }
        out << one.str();
    }
    return out.str();
}

std::ostream& operator<<(std::ostream& os, const InvalidCertTexts& texts) {
    return os << "'" << texts.identifierToDisplay << "' (common name '" << texts.commonName
              << "', reference identifier '" << texts.referenceIdentifier << "')";
}

}  // namespace oxl::cert

// Why a certificate is not valid; a verification yields a set of these.
#pragma once

#include <ostream>
#include <set>

namespace oxl::cert {

struct CertStatus {
    // The numbers are stable: results are logged, cached and compared by value.
    enum Status : int {
        VALID = 0,
        INVALID_REVOKED = 1,
        INTERNAL_ERROR = 2,
        BASIC_CONSTRAINTS = 3,
        NO_REVOCATION_CHECK = 4,
        REVOCATION_OFFLINE = 5,
        UNTRUSTED_ROOT = 6,
        INVALID_SIGNATURE = 7,
        INVALID_CHAIN = 8,
        CN_NO_MATCH = 9,
        WRONG_USAGE = 10,
        EXPIRED = 11,
        INVALID_NAME = 12,
        INVALID_POLICY = 13,
        FAILED_TO_VERIFY_XMPP_SUBJECT_ALT_NAME = 14,
        REVOCATION_STATUS_UNKNOWN = 15,
        INVALID_EXTENSION = 16,
        CTL_IS_NOT_VALID = 17,
        INVALID_NAME_CONSTRAINT = 18,
        POLICY_NO_ISSUANCE = 19,
        EXPLICIT_DISTRUST = 20,
        NOT_SUPPORTED_CRITICAL_EXT = 21,
        IS_PARTIAL_CHAIN = 22,
        CERT_TRUST_CYCLIC = 23,
        NO_TIME_VALID = 24,
        WEAK_KEY = 25,
        UNKNOWN = 26,
    };

    // True for an empty set or exactly {VALID}; any other set is a failure.
    static bool representsVerificationSuccess(const std::set<Status>& statuses);
};

using CertStatusSet = std::set<CertStatus::Status>;

std::ostream& operator<<(std::ostream& os, CertStatus::Status status);
// "[NAME NAME ...]"
std::ostream& operator<<(std::ostream& os, const std::set<CertStatus::Status>& statuses);

}  // namespace oxl::cert

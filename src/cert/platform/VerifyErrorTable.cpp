// The one table from OpenSSL's X509_V_ERR_* codes to certificate statuses (documented in the header).
#include <openssl/x509_vfy.h>

#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"

namespace oxl::cert {

CertStatus::Status OpenSslPlatformCertVerifier::statusForVerifyError(int code) {
    switch (code) {
        case X509_V_OK:
            return CertStatus::VALID;

        case X509_V_ERR_CERT_HAS_EXPIRED:
            return CertStatus::EXPIRED;
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return CertStatus::NO_TIME_VALID;

        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_DANE_NO_MATCH:
            return CertStatus::UNTRUSTED_ROOT;

        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return CertStatus::IS_PARTIAL_CHAIN;

        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        case X509_V_ERR_NO_ISSUER_PUBLIC_KEY:
        case X509_V_ERR_CA_MD_TOO_WEAK:
        case X509_V_ERR_UNSUPPORTED_SIGNATURE_ALGORITHM:
        case X509_V_ERR_SIGNATURE_ALGORITHM_MISMATCH:
        case X509_V_ERR_SIGNATURE_ALGORITHM_INCONSISTENCY:
        case X509_V_ERR_SUITE_B_INVALID_VERSION:
        case X509_V_ERR_SUITE_B_INVALID_ALGORITHM:
        case X509_V_ERR_SUITE_B_INVALID_CURVE:
        case X509_V_ERR_SUITE_B_INVALID_SIGNATURE_ALGORITHM:
        case X509_V_ERR_SUITE_B_LOS_NOT_ALLOWED:
        case X509_V_ERR_SUITE_B_CANNOT_SIGN_P_384_WITH_P_256:
            return CertStatus::INVALID_SIGNATURE;

        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_INVALID_NON_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_PROXY_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_PATHLEN_INVALID_FOR_NON_CA:
        case X509_V_ERR_PATHLEN_WITHOUT_KU_KEY_CERT_SIGN:
        case X509_V_ERR_KU_KEY_CERT_SIGN_INVALID_FOR_NON_CA:
        case X509_V_ERR_CA_BCONS_NOT_CRITICAL:
        case X509_V_ERR_CA_CERT_MISSING_KEY_USAGE:
            return CertStatus::BASIC_CONSTRAINTS;

        case X509_V_ERR_CERT_CHAIN_TOO_LONG:
        case X509_V_ERR_SUBJECT_ISSUER_MISMATCH:
        case X509_V_ERR_AKID_SKID_MISMATCH:
        case X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
            return CertStatus::INVALID_CHAIN;

        case X509_V_ERR_PATH_LOOP:
            return CertStatus::CERT_TRUST_CYCLIC;

        case X509_V_ERR_CERT_REVOKED:
            return CertStatus::INVALID_REVOKED;

        case X509_V_ERR_UNABLE_TO_GET_CRL:
        case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
        case X509_V_ERR_CRL_SIGNATURE_FAILURE:
        case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
        case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
        case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
        case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
        case X509_V_ERR_DIFFERENT_CRL_SCOPE:
        case X509_V_ERR_CRL_PATH_VALIDATION_ERROR:
        case X509_V_ERR_OCSP_VERIFY_NEEDED:
        case X509_V_ERR_OCSP_VERIFY_FAILED:
        case X509_V_ERR_OCSP_CERT_UNKNOWN:
            return CertStatus::REVOCATION_STATUS_UNKNOWN;
        case X509_V_ERR_CRL_NOT_YET_VALID:
        case X509_V_ERR_CRL_HAS_EXPIRED:
            return CertStatus::REVOCATION_OFFLINE;

        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE:
            return CertStatus::WRONG_USAGE;

        case X509_V_ERR_CERT_REJECTED:
            return CertStatus::EXPLICIT_DISTRUST;

        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return CertStatus::NOT_SUPPORTED_CRITICAL_EXT;

        case X509_V_ERR_INVALID_EXTENSION:
        case X509_V_ERR_UNSUPPORTED_EXTENSION_FEATURE:
        case X509_V_ERR_UNNESTED_RESOURCE:
        case X509_V_ERR_PROXY_CERTIFICATES_NOT_ALLOWED:
        case X509_V_ERR_MISSING_AUTHORITY_KEY_IDENTIFIER:
        case X509_V_ERR_MISSING_SUBJECT_KEY_IDENTIFIER:
        case X509_V_ERR_AUTHORITY_KEY_IDENTIFIER_CRITICAL:
        case X509_V_ERR_SUBJECT_KEY_IDENTIFIER_CRITICAL:
        case X509_V_ERR_EXTENSIONS_REQUIRE_VERSION_3:
        case X509_V_ERR_EMPTY_SUBJECT_ALT_NAME:
        case X509_V_ERR_EMPTY_SUBJECT_SAN_NOT_CRITICAL:
        case X509_V_ERR_EC_KEY_EXPLICIT_PARAMS:
            return CertStatus::INVALID_EXTENSION;

        case X509_V_ERR_INVALID_POLICY_EXTENSION:
            return CertStatus::INVALID_POLICY;
        case X509_V_ERR_NO_EXPLICIT_POLICY:
            return CertStatus::POLICY_NO_ISSUANCE;

        case X509_V_ERR_PERMITTED_VIOLATION:
        case X509_V_ERR_EXCLUDED_VIOLATION:
        case X509_V_ERR_SUBTREE_MINMAX:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
        case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
        case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
            return CertStatus::INVALID_NAME_CONSTRAINT;

        case X509_V_ERR_ISSUER_NAME_EMPTY:
        case X509_V_ERR_SUBJECT_NAME_EMPTY:
        case X509_V_ERR_EMAIL_MISMATCH:
        case X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION:
            return CertStatus::INVALID_NAME;

        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return CertStatus::CN_NO_MATCH;

        case X509_V_ERR_EE_KEY_TOO_SMALL:
        case X509_V_ERR_CA_KEY_TOO_SMALL:
            return CertStatus::WEAK_KEY;

        case X509_V_ERR_OUT_OF_MEM:
        case X509_V_ERR_INVALID_CALL:
        case X509_V_ERR_STORE_LOOKUP:
            return CertStatus::INTERNAL_ERROR;

        default:
            return CertStatus::UNKNOWN;
    }
}

}  // namespace oxl::cert

// Chain verification with OpenSSL's X509_verify_cert against a trust store.
#pragma once

#include <memory>
#include <mutex>

#include "oxl/cert/platform/PlatformCertVerifier.h"

namespace oxl::cert {

class OpenSslPlatformCertVerifier : public PlatformCertVerifier {
  public:
    explicit OpenSslPlatformCertVerifier(PlatformTrustSettings settings = {});
    ~OpenSslPlatformCertVerifier() override;
    OpenSslPlatformCertVerifier(const OpenSslPlatformCertVerifier&) = delete;
    OpenSslPlatformCertVerifier& operator=(const OpenSslPlatformCertVerifier&) = delete;

    std::set<CertStatus::Status> verifyCertificate(const X509_STORE_CTX* ctx) override;
    std::set<CertStatus::Status> verifyCertificate(const X509* cert) override;
    std::set<CertStatus::Status> verifyForHostNames(const X509_STORE_CTX* ctx,
                                                    const std::vector<std::string>& hostNames) override;
    std::set<CertStatus::Status> verifyForHostNames(const X509* cert,
                                                    const std::vector<std::string>& hostNames) override;

    const PlatformTrustSettings& getSettings() const { return settings_; }

    // Chains are checked with strict X.509 rules (X509_V_FLAG_X509_STRICT) at OpenSSL security level 1 (2
    // in FIPS mode). Beyond X509_verify_cert, a CA whose extended key usage allows neither serverAuth nor
    // anyExtendedKeyUsage makes the chain UNTRUSTED_ROOT (not valid for server authentication, as the chain
    // engine reports it), and a host name outside a CA's DNS name constraints counts as PERMITTED_VIOLATION.
    //
    // The reason an X509_V_ERR_* code stands for:
    //   VALID                      X509_V_OK
    //   EXPIRED                    CERT_HAS_EXPIRED
    //   NO_TIME_VALID              CERT_NOT_YET_VALID, ERROR_IN_CERT_NOT_BEFORE/AFTER_FIELD
    //   UNTRUSTED_ROOT             DEPTH_ZERO_SELF_SIGNED_CERT, SELF_SIGNED_CERT_IN_CHAIN, CERT_UNTRUSTED,
    //                              DANE_NO_MATCH
    //   IS_PARTIAL_CHAIN           UNABLE_TO_GET_ISSUER_CERT(_LOCALLY), UNABLE_TO_VERIFY_LEAF_SIGNATURE
    //   INVALID_SIGNATURE          CERT_SIGNATURE_FAILURE, UNABLE_TO_DECRYPT_CERT_SIGNATURE,
    //                              UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY, NO_ISSUER_PUBLIC_KEY, CA_MD_TOO_WEAK,
    //                              UNSUPPORTED_SIGNATURE_ALGORITHM, SIGNATURE_ALGORITHM_MISMATCH,
    //                              SIGNATURE_ALGORITHM_INCONSISTENCY, SUITE_B_*
    //   BASIC_CONSTRAINTS          INVALID_CA, INVALID_NON_CA, PATH_LENGTH_EXCEEDED,
    //   PROXY_PATH_LENGTH_EXCEEDED,
    //                              PATHLEN_INVALID_FOR_NON_CA, PATHLEN_WITHOUT_KU_KEY_CERT_SIGN,
    //                              KU_KEY_CERT_SIGN_INVALID_FOR_NON_CA, CA_BCONS_NOT_CRITICAL,
    //                              CA_CERT_MISSING_KEY_USAGE
    //   INVALID_CHAIN              CERT_CHAIN_TOO_LONG, SUBJECT_ISSUER_MISMATCH, AKID_SKID_MISMATCH,
    //                              AKID_ISSUER_SERIAL_MISMATCH, KEYUSAGE_NO_CERTSIGN
    //   CERT_TRUST_CYCLIC          PATH_LOOP
    //   INVALID_REVOKED            CERT_REVOKED
    //   REVOCATION_STATUS_UNKNOWN  UNABLE_TO_GET_CRL, UNABLE_TO_GET_CRL_ISSUER,
    //   UNABLE_TO_DECRYPT_CRL_SIGNATURE,
    //                              CRL_SIGNATURE_FAILURE, ERROR_IN_CRL_LAST/NEXT_UPDATE_FIELD,
    //                              KEYUSAGE_NO_CRL_SIGN, UNHANDLED_CRITICAL_CRL_EXTENSION,
    //                              DIFFERENT_CRL_SCOPE, CRL_PATH_VALIDATION_ERROR, OCSP_VERIFY_NEEDED,
    //                              OCSP_VERIFY_FAILED, OCSP_CERT_UNKNOWN
    //   REVOCATION_OFFLINE         CRL_NOT_YET_VALID, CRL_HAS_EXPIRED (the revocation information is stale)
    //   WRONG_USAGE                INVALID_PURPOSE, KEYUSAGE_NO_DIGITAL_SIGNATURE
    //   EXPLICIT_DISTRUST          CERT_REJECTED
    //   NOT_SUPPORTED_CRITICAL_EXT UNHANDLED_CRITICAL_EXTENSION
    //   INVALID_EXTENSION          INVALID_EXTENSION, UNSUPPORTED_EXTENSION_FEATURE, UNNESTED_RESOURCE,
    //                              PROXY_CERTIFICATES_NOT_ALLOWED, MISSING_AUTHORITY/SUBJECT_KEY_IDENTIFIER,
    //                              AUTHORITY/SUBJECT_KEY_IDENTIFIER_CRITICAL, EXTENSIONS_REQUIRE_VERSION_3,
    //                              EMPTY_SUBJECT_ALT_NAME, EMPTY_SUBJECT_SAN_NOT_CRITICAL,
    //                              EC_KEY_EXPLICIT_PARAMS
    //   INVALID_POLICY             INVALID_POLICY_EXTENSION
    //   POLICY_NO_ISSUANCE         NO_EXPLICIT_POLICY
    //   INVALID_NAME_CONSTRAINT    PERMITTED_VIOLATION, EXCLUDED_VIOLATION, SUBTREE_MINMAX,
    //                              UNSUPPORTED_CONSTRAINT_TYPE, UNSUPPORTED_CONSTRAINT_SYNTAX,
    //                              UNSUPPORTED_NAME_SYNTAX
    //   INVALID_NAME               ISSUER_NAME_EMPTY, SUBJECT_NAME_EMPTY, EMAIL_MISMATCH,
    //                              PROXY_SUBJECT_NAME_VIOLATION
    //   CN_NO_MATCH                HOSTNAME_MISMATCH, IP_ADDRESS_MISMATCH
    //   WEAK_KEY                   EE_KEY_TOO_SMALL, CA_KEY_TOO_SMALL
    //   INTERNAL_ERROR             OUT_OF_MEM, INVALID_CALL, STORE_LOOKUP
    //   UNKNOWN                    every other code (UNSPECIFIED, APPLICATION_VERIFICATION, NO_VALID_SCTS,
    //   ...)
    static CertStatus::Status statusForVerifyError(int x509VerifyError);

  private:
    struct StoreDeleter {
        void operator()(X509_STORE* store) const;
    };

    // The trust store, built on first use and kept; null when it cannot be built (retried next time).
    X509_STORE* store();
    // `source` is the handshake's context whose untrusted certificates help build the path, or null.
    std::set<CertStatus::Status> verify(const X509* leaf, const X509_STORE_CTX* source,
                                        const std::vector<std::string>& hostNames);
    // Strict checks, security level, verification time and depth of one verification.
    void applyParameters(X509_STORE_CTX* ctx) const;

    PlatformTrustSettings settings_;
    std::mutex storeMutex_;
    std::unique_ptr<X509_STORE, StoreDeleter> store_;
};

}  // namespace oxl::cert

// Process-wide memory of the user's decisions about certificates, keyed by fingerprint. Lives in memory for
// the life of the process; entries never expire.
#pragma once

#include <openssl/types.h>

#include <set>
#include <string>

#include "oxl/cert/utils/CertStatus.h"

namespace oxl::cert {

class CertificateValidityCache {
  public:
    // The certificate's SHA-256 digest as text: each byte as two lower-case hexadecimal digits followed by
    // one blank ("ab 01 ... ff "). Empty (with an error log) when it cannot be computed.
    static std::string generateFingerprint(const X509* cert);
    // The same with another message digest.
    static std::string generateFingerprint(const X509* cert, const EVP_MD* digest);

    static void addAcceptedValidCertificate(const X509* cert);
    static void addAcceptedValidCertificate(const std::string& fingerprint);
    // Add reasons to the certificate's entry, creating it when needed. A set holding INVALID_REVOKED is never
    // added to the accepted cache.
    static void addAcceptedInvalidCertificate(const X509* cert, CertStatus::Status status);
    static void addAcceptedInvalidCertificate(const std::string& fingerprint,
                                              const std::set<CertStatus::Status>& statuses);
    static void addRejectedInvalidCertificate(const X509* cert, CertStatus::Status status);
    static void addRejectedInvalidCertificate(const std::string& fingerprint,
                                              const std::set<CertStatus::Status>& statuses);

    // The stored reasons; empty when absent.
    static std::set<CertStatus::Status> getAcceptedInvalidCacheValue(const X509* cert);
    static std::set<CertStatus::Status> getAcceptedInvalidCacheValue(const std::string& fingerprint);
    static std::set<CertStatus::Status> getRejectedInvalidCacheValue(const X509* cert);
    static std::set<CertStatus::Status> getRejectedInvalidCacheValue(const std::string& fingerprint);

    static std::set<std::string> getAcceptedValidFingerprints();
    static bool findInAcceptedValidCache(const std::string& fingerprint);
    static bool findInAcceptedValidCache(const X509* cert);

    static void removeFromAcceptedInvalidCache(const X509* cert);
    static void removeFromAcceptedInvalidCache(const std::string& fingerprint);
    static void removeFromRejectedInvalidCache(const X509* cert);
    static void removeFromRejectedInvalidCache(const std::string& fingerprint);

    // True when the certificate is in the accepted valid or the accepted invalid cache.
    static bool verifyAcceptedCertificate(const X509* cert);

    // The key of a decision that holds only for one host (one whose reasons include a name mismatch): the
    // fingerprint followed by "for " and the host in lower case. Empty for an empty fingerprint.
    static std::string hostScopedKey(const std::string& fingerprint, const std::string& host);

    // Forgets everything.
    static void clear();
};

}  // namespace oxl::cert

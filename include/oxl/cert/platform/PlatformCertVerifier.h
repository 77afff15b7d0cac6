// The system's certificate chain engine: is this certificate (with the chain the server sent) trusted?
#pragma once

#include <openssl/types.h>

#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "oxl/cert/utils/CertStatus.h"

namespace oxl::cert {

// Where trust and revocation information comes from. Read when a verifier is created.
struct PlatformTrustSettings {
    // PEM bundle of trusted certificates. Empty: the system's default store, which honours the
    // SSL_CERT_FILE and SSL_CERT_DIR environment variables. A non-empty file replaces the default store.
    std::string trustFile;
    // Files (PEM) holding CRLs. Revocation is checked only when at least one is given.
    std::vector<std::string> crlFiles;
    // With CRLs: false checks the leaf only, true every certificate of the chain (the root included, so
    // the host must then supply a CRL from every issuer).
    bool checkWholeChainRevocation = false;
    // The moment the chain must be valid at (seconds since the epoch); unset: the time of each verification.
    std::optional<std::time_t> verificationTime;
    // Most intermediate CA certificates between the leaf and the trust anchor; negative: OpenSSL's limit.
    int maxIntermediates = -1;
};

class PlatformCertVerifier {
  public:
    virtual ~PlatformCertVerifier() = default;

    // Verifies the context's certificate under verification, using the context's untrusted certificates
    // (the chain the server sent) to build the path. {VALID} when trusted, {INTERNAL_ERROR} when the system
    // cannot be asked, otherwise every reason found in the chain.
    virtual std::set<CertStatus::Status> verifyCertificate(const X509_STORE_CTX* ctx) = 0;
    // The same for a certificate alone.
    virtual std::set<CertStatus::Status> verifyCertificate(const X509* cert) = 0;

    // The same checks, and in addition each of `hostNames` (the DNS names the certificate was matched for,
    // by whatever route: dNSName, wildcard, common name, SRVName or XmppAddr) must lie inside the DNS name
    // constraints of every CA of the chain; a name outside them adds INVALID_NAME_CONSTRAINT. The default
    // ignores the names.
    virtual std::set<CertStatus::Status> verifyForHostNames(const X509_STORE_CTX* ctx,
                                                            const std::vector<std::string>& hostNames);
    virtual std::set<CertStatus::Status> verifyForHostNames(const X509* cert,
                                                            const std::vector<std::string>& hostNames);

    // A new verifier of this platform using the process-wide trust settings.
    static std::shared_ptr<PlatformCertVerifier> createInstance();

    // Process-wide trust settings used by createInstance(); verifiers already created keep theirs.
    static void setDefaultTrustSettings(const PlatformTrustSettings& settings);
    static PlatformTrustSettings getDefaultTrustSettings();
    // Shorthands that change one field of the process-wide settings.
    static void setTrustFile(const std::string& path);
    static void setCrlFiles(const std::vector<std::string>& paths);
};

}  // namespace oxl::cert

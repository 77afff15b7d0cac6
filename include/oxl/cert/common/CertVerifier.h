// Verifies server certificates for HTTPS: DNS-name identity rules, synchronously or asynchronously.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

#include "oxl/cert/common/BaseCertVerifier.h"

namespace oxl::cert {

class CertVerifier : public BaseCertVerifier {
  public:
    explicit CertVerifier(std::shared_ptr<PlatformCertVerifier> platformCertVerifier);
    ~CertVerifier() override;

    // A chain from a TLS handshake (the context's certificate and untrusted chain). The mandatory
    // identifier must match in addition to one of the reference identifiers.
    CertResult verifyCertificate(const X509_STORE_CTX* ctx, const std::string& mandatoryReferenceIdentifier,
                                 const std::vector<std::string>& referenceIdentifiers,
                                 const std::string& identifierToDisplay);
    CertResult verifyCertificate(const X509_STORE_CTX* ctx,
                                 const std::vector<std::string>& referenceIdentifiers,
                                 const std::string& identifierToDisplay);
    CertResult verifyCertificate(const X509_STORE_CTX* ctx, const std::string& mandatoryReferenceIdentifier,
                                 const std::vector<std::string>& referenceIdentifiers);
    CertResult verifyCertificate(const X509_STORE_CTX* ctx,
                                 const std::vector<std::string>& referenceIdentifiers);
    CertResult verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                 const std::string& identifierToDisplay);
    CertResult verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier);

    // A certificate alone, in the same six forms.
    CertResult verifyCertificate(const X509* cert, const std::string& mandatoryReferenceIdentifier,
                                 const std::vector<std::string>& referenceIdentifiers,
                                 const std::string& identifierToDisplay);
    CertResult verifyCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers,
                                 const std::string& identifierToDisplay);
    CertResult verifyCertificate(const X509* cert, const std::string& mandatoryReferenceIdentifier,
                                 const std::vector<std::string>& referenceIdentifiers);
    CertResult verifyCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers);
    CertResult verifyCertificate(const X509* cert, const std::string& referenceIdentifier,
                                 const std::string& identifierToDisplay);
    CertResult verifyCertificate(const X509* cert, const std::string& referenceIdentifier);

    // False only when the context or the identity is invalid. Otherwise instantResult is the result known
    // now, and requestId is the request whose final result the listener will receive on the
    // "AsyncCertValid" pool, or 0 when instantResult is already final.
    bool verifyCertificateAsync(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                const std::string& identifierToDisplay,
                                std::shared_ptr<CertificateVerificationListener> listener,
                                CertResult& instantResult, unsigned int& requestId);
    bool verifyCertificateAsync(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                std::shared_ptr<CertificateVerificationListener> listener,
                                CertResult& instantResult, unsigned int& requestId);

  protected:
    CertIdentifierStatus::Status checkIdentifier(std::shared_ptr<AltNameParser> parser,
                                                 const std::string& identifier) override;
};

}  // namespace oxl::cert

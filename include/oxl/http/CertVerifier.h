// The HTTP side of certificate verification: the TLS hook hands the handshake's chain and the expected
// identities to an implementation of this interface and continues the handshake only when it answers true.
#pragma once

#include <openssl/types.h>

#include <string>
#include <vector>

namespace oxl::http {

class CertVerifier {
  public:
    virtual ~CertVerifier() = default;

    // Strict identity model: the server host name must match, and so must one of the reference identifiers.
    virtual bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& serverHostName,
                                   const std::vector<std::string>& referenceIdentifiers,
                                   const std::string& identityToDisplay) = 0;
    // Soft identity model: one of the reference identifiers must match.
    virtual bool verifyCertificate(const X509_STORE_CTX* ctx,
                                   const std::vector<std::string>& referenceIdentifiers,
                                   const std::string& identityToDisplay) = 0;
    virtual bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& serverHostName,
                                   const std::vector<std::string>& referenceIdentifiers) = 0;
    virtual bool verifyCertificate(const X509_STORE_CTX* ctx,
                                   const std::vector<std::string>& referenceIdentifiers) = 0;
    virtual bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                   const std::string& identityToDisplay) = 0;
    virtual bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier) = 0;

    // The same six forms for a certificate alone.
    virtual bool verifyCertificate(const X509* cert, const std::string& serverHostName,
                                   const std::vector<std::string>& referenceIdentifiers,
                                   const std::string& identityToDisplay) = 0;
    virtual bool verifyCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers,
                                   const std::string& identityToDisplay) = 0;
    virtual bool verifyCertificate(const X509* cert, const std::string& serverHostName,
                                   const std::vector<std::string>& referenceIdentifiers) = 0;
    virtual bool verifyCertificate(const X509* cert,
                                   const std::vector<std::string>& referenceIdentifiers) = 0;
    virtual bool verifyCertificate(const X509* cert, const std::string& referenceIdentifier,
                                   const std::string& identityToDisplay) = 0;
    virtual bool verifyCertificate(const X509* cert, const std::string& referenceIdentifier) = 0;
};

}  // namespace oxl::http

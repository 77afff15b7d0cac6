// Lets the HTTP client's TLS hook verify certificates with the certificate subsystem's verifier.
#pragma once

#include <memory>

#include "oxl/http/CertVerifier.h"

namespace oxl::cert {
class CertVerifier;
}

namespace oxl::netutils::adapters {

class HttpCertAdapter : public oxl::http::CertVerifier {
  public:
    explicit HttpCertAdapter(std::shared_ptr<oxl::cert::CertVerifier> certVerifier);
    ~HttpCertAdapter() override;

    // Each entry calls the verifier's entry of the same form and answers true exactly for SUCCESS.
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& serverHostName,
                           const std::vector<std::string>& referenceIdentifiers,
                           const std::string& identityToDisplay) override;
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::vector<std::string>& referenceIdentifiers,
                           const std::string& identityToDisplay) override;
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& serverHostName,
                           const std::vector<std::string>& referenceIdentifiers) override;
    bool verifyCertificate(const X509_STORE_CTX* ctx,
                           const std::vector<std::string>& referenceIdentifiers) override;
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                           const std::string& identityToDisplay) override;
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier) override;
    bool verifyCertificate(const X509* cert, const std::string& serverHostName,
                           const std::vector<std::string>& referenceIdentifiers,
                           const std::string& identityToDisplay) override;
    bool verifyCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers,
                           const std::string& identityToDisplay) override;
    bool verifyCertificate(const X509* cert, const std::string& serverHostName,
                           const std::vector<std::string>& referenceIdentifiers) override;
    bool verifyCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers) override;
    bool verifyCertificate(const X509* cert, const std::string& referenceIdentifier,
                           const std::string& identityToDisplay) override;
    bool verifyCertificate(const X509* cert, const std::string& referenceIdentifier) override;

  private:
    std::shared_ptr<oxl::cert::CertVerifier> certVerifier_;
};

}  // namespace oxl::netutils::adapters

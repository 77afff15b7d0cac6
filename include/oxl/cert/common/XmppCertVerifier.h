// Verifies the certificate of an XMPP server: an XmppAddr or an "_xmpp-server." SRVName may prove the
// domain before the DNS names and the common name are tried.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

#include "oxl/cert/common/BaseCertVerifier.h"

namespace oxl::cert {

class XmppCertVerifier : public BaseCertVerifier {
  public:
    explicit XmppCertVerifier(std::shared_ptr<PlatformCertVerifier> platformCertVerifier);
    ~XmppCertVerifier() override;

    // The reference identifiers are the XMPP domains the client accepts, tried in order.
    CertResult verifyXmppCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers);
    CertResult verifyXmppCertificate(const X509* cert, const std::vector<std::string>& referenceIdentifiers,
                                     const std::string& identifierToDisplay);
    CertResult verifyXmppCertificate(const X509_STORE_CTX* ctx,
                                     const std::vector<std::string>& referenceIdentifiers);
    CertResult verifyXmppCertificate(const X509_STORE_CTX* ctx,
                                     const std::vector<std::string>& referenceIdentifiers,
                                     const std::string& identifierToDisplay);

    // As CertVerifier::verifyCertificateAsync, with several domains.
    bool verifyXmppCertificateAsync(const X509_STORE_CTX* ctx,
                                    const std::vector<std::string>& referenceIdentifiers,
                                    const std::string& identifierToDisplay,
                                    std::shared_ptr<CertificateVerificationListener> listener,
                                    CertResult& instantResult, unsigned int& requestId);
    bool verifyXmppCertificateAsync(const X509_STORE_CTX* ctx,
                                    const std::vector<std::string>& referenceIdentifiers,
                                    std::shared_ptr<CertificateVerificationListener> listener,
                                    CertResult& instantResult, unsigned int& requestId);

  protected:
    CertIdentifierStatus::Status checkIdentifier(std::shared_ptr<AltNameParser> parser,
                                                 const std::string& identifier) override;
};

}  // namespace oxl::cert

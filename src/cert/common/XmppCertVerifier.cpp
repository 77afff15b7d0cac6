#include "oxl/cert/common/XmppCertVerifier.h"

#include "oxl/cert/utils/AltNameParser.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert.xmpp");
    return l;
}
}  // namespace

XmppCertVerifier::XmppCertVerifier(std::shared_ptr<PlatformCertVerifier> platformCertVerifier)
    : BaseCertVerifier(std::move(platformCertVerifier)) {}

XmppCertVerifier::~XmppCertVerifier() = default;

CertIdentifierStatus::Status XmppCertVerifier::checkIdentifier(std::shared_ptr<AltNameParser> parser,
                                                               const std::string& identifier) {
    OXL_LOG_DEBUG(logger(), "Verifying XMPP identity '" << identifier << "'");
    return parser ? parser->verifyXmpp(identifier) : CertIdentifierStatus::INTERNAL_ERROR;
}

CertResult XmppCertVerifier::verifyXmppCertificate(const X509* cert,
                                                   const std::vector<std::string>& referenceIdentifiers) {
    return verifyXmppCertificate(cert, referenceIdentifiers, std::string());
}

CertResult XmppCertVerifier::verifyXmppCertificate(const X509* cert,
                                                   const std::vector<std::string>& referenceIdentifiers,
                                                   const std::string& identifierToDisplay) {
    Identity identity(referenceIdentifiers, identifierToDisplay);
    return verifyCertificate(buildContainer(cert), identity);
}

CertResult XmppCertVerifier::verifyXmppCertificate(const X509_STORE_CTX* ctx,
                                                   const std::vector<std::string>& referenceIdentifiers) {
    return verifyXmppCertificate(ctx, referenceIdentifiers, std::string());
}

CertResult XmppCertVerifier::verifyXmppCertificate(const X509_STORE_CTX* ctx,
                                                   const std::vector<std::string>& referenceIdentifiers,
                                                   const std::string& identifierToDisplay) {
    Identity identity(referenceIdentifiers, identifierToDisplay);
    return verifyCertificate(buildContainer(ctx), identity);
}

bool XmppCertVerifier::verifyXmppCertificateAsync(const X509_STORE_CTX* ctx,
                                                  const std::vector<std::string>& referenceIdentifiers,
                                                  const std::string& identifierToDisplay,
                                                  std::shared_ptr<CertificateVerificationListener> listener,
                                                  CertResult& instantResult, unsigned int& requestId) {
    Identity identity(referenceIdentifiers, identifierToDisplay);
    return verifyCertificateAsync(buildContainer(ctx), identity, listener, instantResult, requestId);
}

bool XmppCertVerifier::verifyXmppCertificateAsync(const X509_STORE_CTX* ctx,
                                                  const std::vector<std::string>& referenceIdentifiers,
                                                  std::shared_ptr<CertificateVerificationListener> listener,
                                                  CertResult& instantResult, unsigned int& requestId) {
    return verifyXmppCertificateAsync(ctx, referenceIdentifiers, std::string(), std::move(listener),
                                      instantResult, requestId);
}

}  // namespace oxl::cert

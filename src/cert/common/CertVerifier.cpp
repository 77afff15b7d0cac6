#include "oxl/cert/common/CertVerifier.h"

#include "oxl/cert/utils/AltNameParser.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}
}  // namespace

CertVerifier::CertVerifier(std::shared_ptr<PlatformCertVerifier> platformCertVerifier)
    : BaseCertVerifier(std::move(platformCertVerifier)) {}

CertVerifier::~CertVerifier() = default;

CertIdentifierStatus::Status CertVerifier::checkIdentifier(std::shared_ptr<AltNameParser> parser,
                                                           const std::string& identifier) {
    OXL_LOG_DEBUG(logger(), "Verifying identity '" << identifier << "'");
    return parser ? parser->verify(identifier) : CertIdentifierStatus::INTERNAL_ERROR;
}

CertResult CertVerifier::verifyCertificate(const X509_STORE_CTX* ctx,
                                           const std::string& mandatoryReferenceIdentifier,
                                           const std::vector<std::string>& referenceIdentifiers,
                                           const std::string& identifierToDisplay) {
    Identity identity(mandatoryReferenceIdentifier, referenceIdentifiers, identifierToDisplay);
    return BaseCertVerifier::verifyCertificate(buildContainer(ctx), identity);
}

CertResult CertVerifier::verifyCertificate(const X509_STORE_CTX* ctx,
                                           const std::vector<std::string>& referenceIdentifiers,
                                           const std::string& identifierToDisplay) {
    Identity identity(referenceIdentifiers, identifierToDisplay);
    return BaseCertVerifier::verifyCertificate(buildContainer(ctx), identity);
}

CertResult CertVerifier::verifyCertificate(const X509_STORE_CTX* ctx,
                                           const std::string& mandatoryReferenceIdentifier,
                                           const std::vector<std::string>& referenceIdentifiers) {
    Identity identity(mandatoryReferenceIdentifier, referenceIdentifiers);
    return BaseCertVerifier::verifyCertificate(buildContainer(ctx), identity);
}

CertResult CertVerifier::verifyCertificate(const X509_STORE_CTX* ctx,
                                           const std::vector<std::string>& referenceIdentifiers) {
    Identity identity(referenceIdentifiers);
    return BaseCertVerifier::verifyCertificate(buildContainer(ctx), identity);
}

CertResult CertVerifier::verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                           const std::string& identifierToDisplay) {
    Identity identity(std::vector<std::string>{referenceIdentifier}, identifierToDisplay);
    return BaseCertVerifier::verifyCertificate(buildContainer(ctx), identity);
}

CertResult CertVerifier::verifyCertificate(const X509_STORE_CTX* ctx,
                                           const std::string& referenceIdentifier) {
    Identity identity(std::vector<std::string>{referenceIdentifier});
    return BaseCertVerifier::verifyCertificate(buildContainer(ctx), identity);
}

CertResult CertVerifier::verifyCertificate(const X509* cert, const std::string& mandatoryReferenceIdentifier,
                                           const std::vector<std::string>& referenceIdentifiers,
                                           const std::string& identifierToDisplay) {
    Identity identity(mandatoryReferenceIdentifier, referenceIdentifiers, identifierToDisplay);
    return BaseCertVerifier::verifyCertificate(buildContainer(cert), identity);
}

CertResult CertVerifier::verifyCertificate(const X509* cert,
                                           const std::vector<std::string>& referenceIdentifiers,
                                           const std::string& identifierToDisplay) {
    Identity identity(referenceIdentifiers, identifierToDisplay);
    return BaseCertVerifier::verifyCertificate(buildContainer(cert), identity);
}

CertResult CertVerifier::verifyCertificate(const X509* cert, const std::string& mandatoryReferenceIdentifier,
                                           const std::vector<std::string>& referenceIdentifiers) {
    Identity identity(mandatoryReferenceIdentifier, referenceIdentifiers);
    return BaseCertVerifier::verifyCertificate(buildContainer(cert), identity);
}

CertResult CertVerifier::verifyCertificate(const X509* cert,
                                           const std::vector<std::string>& referenceIdentifiers) {
    Identity identity(referenceIdentifiers);
    return BaseCertVerifier::verifyCertificate(buildContainer(cert), identity);
}

CertResult CertVerifier::verifyCertificate(const X509* cert, const std::string& referenceIdentifier,
                                           const std::string& identifierToDisplay) {
    Identity identity(std::vector<std::string>{referenceIdentifier}, identifierToDisplay);
    return BaseCertVerifier::verifyCertificate(buildContainer(cert), identity);
}

CertResult CertVerifier::verifyCertificate(const X509* cert, const std::string& referenceIdentifier) {
    Identity identity(std::vector<std::string>{referenceIdentifier});
    return BaseCertVerifier::verifyCertificate(buildContainer(cert), identity);
}

bool CertVerifier::verifyCertificateAsync(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                          const std::string& identifierToDisplay,
                                          std::shared_ptr<CertificateVerificationListener> listener,
                                          CertResult& instantResult, unsigned int& requestId) {
    Identity identity(std::vector<std::string>{referenceIdentifier}, identifierToDisplay);
    return BaseCertVerifier::verifyCertificateAsync(buildContainer(ctx), identity, listener, instantResult,
                                                    requestId);
}

bool CertVerifier::verifyCertificateAsync(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                          std::shared_ptr<CertificateVerificationListener> listener,
                                          CertResult& instantResult, unsigned int& requestId) {
    return verifyCertificateAsync(ctx, referenceIdentifier, std::string(), std::move(listener), instantResult,
                                  requestId);
}

}  // namespace oxl::cert

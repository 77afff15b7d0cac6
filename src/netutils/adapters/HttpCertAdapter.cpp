#include "oxl/netutils/adapters/HttpCertAdapter.h"

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/log/Log.h"

namespace oxl::netutils::adapters {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.adapters");
    return l;
}

bool accepted(const oxl::cert::CertResult& result, const char* label = "Certificate Verification Result: ") {
    OXL_LOG_INFO(logger(), label << result);
    return result.result == oxl::cert::CertResult::SUCCESS;
}

oxl::cert::CertResult noVerifier() {
    OXL_LOG_ERROR(logger(), "No certificate verifier available, rejecting the certificate");
    oxl::cert::CertResult result;
    result.invalidReasons = {oxl::cert::CertStatus::INTERNAL_ERROR};
    return result;
}
}  // namespace

HttpCertAdapter::HttpCertAdapter(std::shared_ptr<oxl::cert::CertVerifier> certVerifier)
    : certVerifier_(std::move(certVerifier)) {}

HttpCertAdapter::~HttpCertAdapter() = default;

#define OXL_ADAPTER_VERIFY(...) (certVerifier_ ? certVerifier_->verifyCertificate(__VA_ARGS__) : noVerifier())

bool HttpCertAdapter::verifyCertificate(const X509_STORE_CTX* ctx, const std::string& serverHostName,
                                        const std::vector<std::string>& referenceIdentifiers,
                                        const std::string& identityToDisplay) {
    return accepted(OXL_ADAPTER_VERIFY(ctx, serverHostName, referenceIdentifiers, identityToDisplay));
}

bool HttpCertAdapter::verifyCertificate(const X509_STORE_CTX* ctx,
                                        const std::vector<std::string>& referenceIdentifiers,
                                        const std::string& identityToDisplay) {
    return accepted(OXL_ADAPTER_VERIFY(ctx, referenceIdentifiers, identityToDisplay));
}

bool HttpCertAdapter::verifyCertificate(const X509_STORE_CTX* ctx, const std::string& serverHostName,
                                        const std::vector<std::string>& referenceIdentifiers) {
    return accepted(OXL_ADAPTER_VERIFY(ctx, serverHostName, referenceIdentifiers));
}

bool HttpCertAdapter::verifyCertificate(const X509_STORE_CTX* ctx,
                                        const std::vector<std::string>& referenceIdentifiers) {
    return accepted(OXL_ADAPTER_VERIFY(ctx, referenceIdentifiers));
}

bool HttpCertAdapter::verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier,
                                        const std::string& identityToDisplay) {
    return accepted(OXL_ADAPTER_VERIFY(ctx, referenceIdentifier, identityToDisplay));
}

bool HttpCertAdapter::verifyCertificate(const X509_STORE_CTX* ctx, const std::string& referenceIdentifier) {
    return accepted(OXL_ADAPTER_VERIFY(ctx, referenceIdentifier));
}

bool HttpCertAdapter::verifyCertificate(const X509* cert, const std::string& serverHostName,
                                        const std::vector<std::string>& referenceIdentifiers,
                                        const std::string& identityToDisplay) {
    return accepted(OXL_ADAPTER_VERIFY(cert, serverHostName, referenceIdentifiers, identityToDisplay));
}

bool HttpCertAdapter::verifyCertificate(const X509* cert,
                                        const std::vector<std::string>& referenceIdentifiers,
                                        const std::string& identityToDisplay) {
    return accepted(OXL_ADAPTER_VERIFY(cert, referenceIdentifiers, identityToDisplay));
}

bool HttpCertAdapter::verifyCertificate(const X509* cert, const std::string& serverHostName,
                                        const std::vector<std::string>& referenceIdentifiers) {
    return accepted(OXL_ADAPTER_VERIFY(cert, serverHostName, referenceIdentifiers));
}

bool HttpCertAdapter::verifyCertificate(const X509* cert,
                                        const std::vector<std::string>& referenceIdentifiers) {
    return accepted(OXL_ADAPTER_VERIFY(cert, referenceIdentifiers));
}

bool HttpCertAdapter::verifyCertificate(const X509* cert, const std::string& referenceIdentifier,
                                        const std::string& identityToDisplay) {
    // This entry has always logged under its own label.
    return accepted(OXL_ADAPTER_VERIFY(cert, referenceIdentifier, identityToDisplay),
                    "verifyCertificate- Verification Result: ");
}

bool HttpCertAdapter::verifyCertificate(const X509* cert, const std::string& referenceIdentifier) {
    return accepted(OXL_ADAPTER_VERIFY(cert, referenceIdentifier));
}

#undef OXL_ADAPTER_VERIFY

}  // namespace oxl::netutils::adapters

#include <openssl/x509_vfy.h>

#include "oxl/cert/utils/CertContainer.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}
}  // namespace

CertContainerImpl::CertContainerImpl(const X509* leafCert) : leafCert_(leafCert), isLeaf_(true) {}

CertContainerImpl::CertContainerImpl(const X509_STORE_CTX* certChain)
    : certChain_(certChain), isLeaf_(false) {}

bool CertContainerImpl::isValid() const {
    return hasValidLeafCert();
}

bool CertContainerImpl::hasValidLeafCert() const {
    if (isLeaf_) {
        return leafCert_ != nullptr;
    }
    return certChain_ != nullptr && X509_STORE_CTX_get0_cert(certChain_) != nullptr;
}

const X509* CertContainerImpl::getLeafCert() const {
    if (!hasValidLeafCert()) {
        OXL_LOG_ERROR(logger(),
                      "Unexpected condition. Unable to return a leaf cert when hasValidLeafCert fails");
        return nullptr;
    }
    return isLeaf_ ? leafCert_ : X509_STORE_CTX_get0_cert(certChain_);
}

bool CertContainerImpl::isLeafCert() const {
    return isLeaf_;
}

const X509_STORE_CTX* CertContainerImpl::getCertChain() const {
    if (isLeaf_) {
        OXL_LOG_ERROR(logger(), "Unexpected condition. Unable to return a cert chain from a leaf cert");
        return nullptr;
    }
    return certChain_;
}

std::shared_ptr<CertContainer> CertContainerFactory::buildCertContainer(const X509_STORE_CTX* certChain) {
    return std::make_shared<CertContainerImpl>(certChain);
}

std::shared_ptr<CertContainer> CertContainerFactory::buildCertContainer(const X509* leafCert) {
    return std::make_shared<CertContainerImpl>(leafCert);
}

}  // namespace oxl::cert

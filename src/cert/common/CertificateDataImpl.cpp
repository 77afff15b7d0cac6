#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/utils/CertContainer.h"
#include "oxl/log/Log.h"

namespace oxl::cert {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.cert");
    return l;
}

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

struct Utf8Deleter {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

}  // namespace

CertificateDataImpl::CertificateDataImpl(const X509* cert) {
    if (cert == nullptr) {
        OXL_LOG_WARN(logger(), "The provided X509 pointer is NULL");
        return;
    }
    fillFromCertificate(cert);
}

CertificateDataImpl::CertificateDataImpl(const X509_STORE_CTX* ctx) {
    if (ctx == nullptr) {
        OXL_LOG_WARN(logger(), "The provided X509_STORE_CTX pointer is NULL");
        return;
    }
    fillFromContext(ctx);
}

CertificateDataImpl::CertificateDataImpl(const std::shared_ptr<CertContainer>& container) {
    if (!container || !container->hasValidLeafCert()) {
        OXL_LOG_WARN(logger(), "The provided CertContainer doesn't contain a valid certificate");
        return;
    }
    if (container->isLeafCert()) {
        fillFromCertificate(container->getLeafCert());
    } else {
        fillFromContext(container->getCertChain());
    }
}

CertificateDataImpl::CertificateDataImpl(std::string fingerprint, std::string commonName,
                                         std::vector<std::string> pemCertificates)
    : fingerprint_(std::move(fingerprint)),
      commonName_(std::move(commonName)),
      pemCertificates_(std::move(pemCertificates)) {}

void CertificateDataImpl::fillFromCertificate(const X509* cert) {
    fingerprint_ = CertificateValidityCache::generateFingerprint(cert);
    commonName_ = parseSubjectCNField(cert);
    pemCertificates_.push_back(getInPemFormat(cert));
}

void CertificateDataImpl::fillFromContext(const X509_STORE_CTX* ctx) {
    const X509* leaf = X509_STORE_CTX_get0_cert(ctx);
    if (leaf == nullptr) {
        OXL_LOG_WARN(logger(), "Certificate at index 0 is NULL in cert chain");
        return;
    }
    fingerprint_ = CertificateValidityCache::generateFingerprint(leaf);
    commonName_ = parseSubjectCNField(leaf);

    // During a handshake the verified chain may not be built yet; the server's certificates are then the
    // untrusted set.
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx);
    if (chain == nullptr || sk_X509_num(chain) == 0) {
        chain = X509_STORE_CTX_get0_untrusted(ctx);
    }
    const int count = chain != nullptr ? sk_X509_num(chain) : 0;
    const X509* first = count > 0 ? sk_X509_value(chain, 0) : nullptr;
    if (first == nullptr || X509_cmp(first, leaf) != 0) {
        pemCertificates_.push_back(getInPemFormat(leaf));
    }
    for (int i = 0; i < count; ++i) {
        const X509* cert = sk_X509_value(chain, i);
        if (cert == nullptr) {
            OXL_LOG_WARN(logger(), "Certificate at index " << i << " is NULL in cert chain");
            continue;
        }
        pemCertificates_.push_back(getInPemFormat(cert));
    }
}

std::string CertificateDataImpl::getInPemFormat(const X509* cert) {
    if (cert == nullptr) {
        return {};
    }
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    if (!bio) {
        OXL_LOG_ERROR(logger(), "Could not create BIO to convert PEM Certificate into X509");
        return {};
    }
    if (PEM_write_bio_X509(bio.get(), cert) != 1) {
        OXL_LOG_ERROR(logger(), "Could not write on the BIO to convert X509 Certificate into PEM");
        return {};
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    if (length <= 0 || data == nullptr) {
        OXL_LOG_ERROR(
            logger(),
            "Could not read from the BIO to convert X509 Certificate into PEM,operation is not implemented "
            "in the specific BIO type");
        return {};
    }
    return std::string(data, static_cast<size_t>(length));
}

std::string CertificateDataImpl::parseSubjectCNField(const X509* cert) {
    const X509_NAME* subject = cert != nullptr ? X509_get_subject_name(cert) : nullptr;
    if (subject == nullptr) {
        OXL_LOG_WARN(logger(), "subject is NULL");
        return {};
    }
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    const X509_NAME_ENTRY* entry = index >= 0 ? X509_NAME_get_entry(subject, index) : nullptr;
    const ASN1_STRING* value = entry != nullptr ? X509_NAME_ENTRY_get_data(entry) : nullptr;
    std::string name;
    if (value != nullptr) {
        unsigned char* raw = nullptr;
        const int length = ASN1_STRING_to_UTF8(&raw, value);
        std::unique_ptr<unsigned char, Utf8Deleter> owned(raw);
        if (length > 0 && raw != nullptr) {
            name.assign(reinterpret_cast<const char*>(raw), static_cast<size_t>(length));
        }
    }
    OXL_LOG_DEBUG(logger(), "size of Subject CN field : " << name.size());
    if (!name.empty()) {
        OXL_LOG_DEBUG(logger(), "Subject CN field : " << name);
    }
    return name;
}

std::string CertificateDataImpl::getFingerprint() const {
    return fingerprint_;
}
std::vector<std::string> CertificateDataImpl::getPemCertificates() const {
    return pemCertificates_;
}
std::string CertificateDataImpl::getCommonName() const {
    return commonName_;
}

std::shared_ptr<CertificateData> CertificateDataFactory::buildCertificateData(const X509_STORE_CTX* ctx) {
    return std::make_shared<CertificateDataImpl>(ctx);
}

std::shared_ptr<CertificateData> CertificateDataFactory::buildCertificateData(const X509* cert) {
    return std::make_shared<CertificateDataImpl>(cert);
}

std::shared_ptr<CertificateData> CertificateDataFactory::buildCertificateData(
    const std::shared_ptr<CertContainer>& container) {
    return std::make_shared<CertificateDataImpl>(container);
}

}  // namespace oxl::cert

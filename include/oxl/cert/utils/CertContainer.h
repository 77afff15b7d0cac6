// One wrapper for either a single certificate or an OpenSSL verification context. The OpenSSL objects stay
// owned by the caller and must outlive the container.
#pragma once

#include <openssl/types.h>

#include <memory>

namespace oxl::cert {

class CertContainer {
  public:
    virtual ~CertContainer() = default;
    // Same as hasValidLeafCert().
    virtual bool isValid() const = 0;
    // The single certificate, or the context's certificate under verification; null (with an error log)
    // when hasValidLeafCert() does not hold.
    virtual const X509* getLeafCert() const = 0;
    // True when built from a single certificate.
    virtual bool isLeafCert() const = 0;
    virtual bool hasValidLeafCert() const = 0;
    // The context; null (with an error log) for a leaf container.
    virtual const X509_STORE_CTX* getCertChain() const = 0;
};

class CertContainerImpl : public CertContainer {
  public:
    explicit CertContainerImpl(const X509* leafCert);
    explicit CertContainerImpl(const X509_STORE_CTX* certChain);

    bool isValid() const override;
    const X509* getLeafCert() const override;
    bool isLeafCert() const override;
    bool hasValidLeafCert() const override;
    const X509_STORE_CTX* getCertChain() const override;

  private:
    const X509* leafCert_ = nullptr;
    const X509_STORE_CTX* certChain_ = nullptr;
    bool isLeaf_ = false;
};

class CertContainerFactory {
  public:
    virtual std::shared_ptr<CertContainer> buildCertContainer(const X509_STORE_CTX* certChain);
    virtual std::shared_ptr<CertContainer> buildCertContainer(const X509* leafCert);
    virtual ~CertContainerFactory() = default;
};

}  // namespace oxl::cert

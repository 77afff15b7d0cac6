// Description of a certificate handed to the application: fingerprint, subject common name and the PEM
// texts of the certificate or its chain.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

namespace oxl::cert {

class CertContainer;

class CertificateData {
  public:
    virtual ~CertificateData() = default;
    // The validity cache's fingerprint text; empty when the data could not be built.
    virtual std::string getFingerprint() const = 0;
    // The leaf first, then the rest of the chain in order.
    virtual std::vector<std::string> getPemCertificates() const = 0;
    // The first subject common name; empty when there is none.
    virtual std::string getCommonName() const = 0;
};

class CertificateDataImpl : public CertificateData {
  public:
    // The certificate alone.
    explicit CertificateDataImpl(const X509* cert);
    // The context's certificate under verification, with the PEM texts of its chain: the verified chain
    // when the context has one, otherwise the untrusted certificates the server sent.
    explicit CertificateDataImpl(const X509_STORE_CTX* ctx);
    // Whichever the container holds.
    explicit CertificateDataImpl(const std::shared_ptr<CertContainer>& container);
    // For tests and hosts that already have the texts.
    CertificateDataImpl(std::string fingerprint, std::string commonName,
                        std::vector<std::string> pemCertificates);

    std::string getFingerprint() const override;
    std::vector<std::string> getPemCertificates() const override;
    std::string getCommonName() const override;

    // The whole PEM text of a certificate, whatever its length; empty (with an error log) on failure.
    static std::string getInPemFormat(const X509* cert);
    // The first commonName of the subject as UTF-8; empty when there is none.
    static std::string parseSubjectCNField(const X509* cert);

  private:
    void fillFromCertificate(const X509* cert);
    void fillFromContext(const X509_STORE_CTX* ctx);

    std::string fingerprint_;
    std::string commonName_;
    std::vector<std::string> pemCertificates_;
};

class CertificateDataFactory {
  public:
    virtual std::shared_ptr<CertificateData> buildCertificateData(const X509_STORE_CTX* ctx);
    virtual std::shared_ptr<CertificateData> buildCertificateData(const X509* cert);
    virtual std::shared_ptr<CertificateData> buildCertificateData(
        const std::shared_ptr<CertContainer>& container);
    virtual ~CertificateDataFactory() = default;
};

}  // namespace oxl::cert

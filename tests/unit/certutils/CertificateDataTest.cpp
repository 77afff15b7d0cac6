#include <gtest/gtest.h>
#include <openssl/x509.h>

#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/utils/CertContainer.h"
#include "oxl/cert/utils/CertUtils.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestPki;
using oxl::test::X509Ptr;

namespace {

X509Ptr fromPem(const std::string& pem) {
    return X509Ptr(CertUtils::loadCertificate(reinterpret_cast<const unsigned char*>(pem.data()),
                                              static_cast<int>(pem.size()), CertEncoding::PEM));
}

}  // namespace

TEST(CertificateDataTest, PemTextOfALargeCertificateIsComplete) {
    CertSpec spec;
    spec.commonName = "big.example.com";
    spec.key = KeySpec{KeyType::EC, 256};
    for (int i = 0; i < 150; ++i) {
        spec.dnsNames.push_back("name-" + std::to_string(i) + ".a-rather-long-subdomain.example.com");
    }
    auto cert = TestPki::makeCert(spec);

    CertificateDataImpl data(static_cast<const X509*>(cert.x509()));
    ASSERT_EQ(data.getPemCertificates().size(), 1u);
    const std::string pem = data.getPemCertificates()[0];
    EXPECT_GT(pem.size(), 8192u);
    EXPECT_EQ(pem, cert.certPem());
    // The text reads back as the very same certificate.
    auto back = fromPem(pem);
    ASSERT_TRUE(back);
    EXPECT_EQ(X509_cmp(back.get(), cert.x509()), 0);
    EXPECT_EQ(data.getCommonName(), "big.example.com");
    EXPECT_EQ(data.getFingerprint(), CertificateValidityCache::generateFingerprint(cert.x509()));
}

TEST(CertificateDataTest, ChainFromAContextLeafFirst) {
    auto root = TestPki::makeRoot("data root", -1, KeySpec{KeyType::EC, 256});
    auto inter = TestPki::makeIntermediate("data intermediate", root, -1, KeySpec{KeyType::EC, 256});
    auto leaf = TestPki::makeLeaf("data.example.com", inter, KeySpec{KeyType::EC, 256});
    oxl::test::VerificationContext ctx(leaf.x509(), {inter.x509()});

    CertificateDataFactory factory;
    auto data = factory.buildCertificateData(static_cast<const X509_STORE_CTX*>(ctx.get()));
    EXPECT_EQ(data->getPemCertificates(), (std::vector<std::string>{leaf.certPem(), inter.certPem()}));
    EXPECT_EQ(data->getCommonName(), "data.example.com");
    EXPECT_EQ(data->getFingerprint(), CertificateValidityCache::generateFingerprint(leaf.x509()));

    // After a verification the context holds the built chain, which reaches the trusted root.
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root.x509());
    X509_STORE_CTX* verified = X509_STORE_CTX_new();
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    sk_X509_push(untrusted, inter.x509());
    ASSERT_EQ(X509_STORE_CTX_init(verified, store, leaf.x509(), untrusted), 1);
    ASSERT_EQ(X509_verify_cert(verified), 1);
    auto full = factory.buildCertificateData(static_cast<const X509_STORE_CTX*>(verified));
    EXPECT_EQ(full->getPemCertificates(),
              (std::vector<std::string>{leaf.certPem(), inter.certPem(), root.certPem()}));
    X509_STORE_CTX_free(verified);
    sk_X509_free(untrusted);
    X509_STORE_free(store);

    // A container gives the same as what it holds.
    auto viaContainer = factory.buildCertificateData(
        std::make_shared<CertContainerImpl>(static_cast<const X509_STORE_CTX*>(ctx.get())));
    EXPECT_EQ(viaContainer->getPemCertificates(), data->getPemCertificates());
    auto viaLeafContainer = factory.buildCertificateData(
        std::make_shared<CertContainerImpl>(static_cast<const X509*>(leaf.x509())));
    EXPECT_EQ(viaLeafContainer->getPemCertificates(), std::vector<std::string>{leaf.certPem()});
}

TEST(CertificateDataTest, MissingInputsGiveEmptyData) {
    oxl::test::LogCapture log;
    CertificateDataFactory factory;
    std::vector<std::shared_ptr<CertificateData>> all = {
        factory.buildCertificateData(static_cast<const X509*>(nullptr)),
        factory.buildCertificateData(static_cast<const X509_STORE_CTX*>(nullptr)),
        factory.buildCertificateData(std::shared_ptr<CertContainer>()),
        factory.buildCertificateData(std::make_shared<CertContainerImpl>(static_cast<const X509*>(nullptr))),
    };
    for (const auto& data : all) {
        ASSERT_TRUE(data);
        EXPECT_EQ(data->getFingerprint(), "");
        EXPECT_EQ(data->getCommonName(), "");
        EXPECT_TRUE(data->getPemCertificates().empty());
    }
    EXPECT_TRUE(log.contains("The provided X509 pointer is NULL"));
    EXPECT_TRUE(log.contains("The provided X509_STORE_CTX pointer is NULL"));
    EXPECT_EQ(log.count("The provided CertContainer doesn't contain a valid certificate"), 2u);

    CertSpec spec;
    spec.organization = "nameless";
    spec.key = KeySpec{KeyType::EC, 256};
    auto nameless = TestPki::makeCert(spec);
    EXPECT_EQ(CertificateDataImpl(static_cast<const X509*>(nameless.x509())).getCommonName(), "");
}

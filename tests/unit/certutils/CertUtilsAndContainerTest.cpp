#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

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

oxl::test::TestCert smallCert(const std::string& cn) {
    CertSpec spec;
    spec.commonName = cn;
    spec.key = KeySpec{KeyType::EC, 256};
    return TestPki::makeCert(spec);
}

}  // namespace

TEST(CertUtilsTest, HexTextConversions) {
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00, 0x7f};
    EXPECT_EQ(CertUtils::bytesToString(bytes, 2), "0AFF");
    EXPECT_EQ(CertUtils::bytesToString(bytes, 4), "0AFF007F");
    EXPECT_EQ(CertUtils::bytesToString(bytes, 0), "");
    EXPECT_EQ(CertUtils::bytesToString(nullptr, 3), "");

    struct Case {
        std::string text;
        unsigned long room;
        std::vector<unsigned char> expected;
    };
    const Case cases[] = {
        {"0AFF", 2, {0x0A, 0xFF}},
        {"0aff", 2, {0x0A, 0xFF}},
        {"0AFF", 1, {0x0A}},  // never more than the room given
        {"0AFF007F", 8, {0x0A, 0xFF, 0x00, 0x7F}},
        {"0AF", 4, {0x0A}},     // a trailing half byte is dropped
        {"0AZZ11", 4, {0x0A}},  // parsing stops at the first non-hex pair
        {"", 4, {}},
    };
    for (const auto& c : cases) {
        char out[8];
        std::memset(out, 0x55, sizeof(out));
        const unsigned long stored = CertUtils::stringToBytes(c.text, out, c.room);
        ASSERT_EQ(stored, c.expected.size()) << c.text;
        EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), reinterpret_cast<unsigned char*>(out)))
            << c.text;
        // Bytes beyond those stored are untouched.
        if (stored < sizeof(out)) {
            EXPECT_EQ(static_cast<unsigned char>(out[stored]), 0x55) << c.text;
        }
    }
    EXPECT_EQ(CertUtils::stringToBytes("0AFF", nullptr, 2), 0u);
}

TEST(CertUtilsTest, LoadsDerAndPemAndRejectsGarbage) {
    auto cert = smallCert("load.example.com");
    unsigned char* der = nullptr;
    const int derLength = i2d_X509(cert.x509(), &der);
    ASSERT_GT(derLength, 0);
    const std::string pem = cert.certPem();

    oxl::test::LogCapture log;
    X509Ptr fromDer(CertUtils::loadCertificate(der, derLength, CertEncoding::DER));
    X509Ptr fromPem(CertUtils::loadCertificate(reinterpret_cast<const unsigned char*>(pem.data()),
                                               static_cast<int>(pem.size()), CertEncoding::PEM));
    ASSERT_TRUE(fromDer);
    ASSERT_TRUE(fromPem);
    EXPECT_EQ(X509_cmp(fromDer.get(), cert.x509()), 0);
    EXPECT_EQ(X509_cmp(fromPem.get(), cert.x509()), 0);
    EXPECT_TRUE(log.contains("Received a DER format Certificate "));
    EXPECT_TRUE(log.contains("Received a PEM format Certificate "));

    // Truncated, swapped or unknown inputs give null, never a crash.
    EXPECT_EQ(CertUtils::loadCertificate(der, derLength / 2, CertEncoding::DER), nullptr);
    EXPECT_EQ(CertUtils::loadCertificate(der, derLength, CertEncoding::PEM), nullptr);
    EXPECT_EQ(CertUtils::loadCertificate(reinterpret_cast<const unsigned char*>(pem.data()),
                                         static_cast<int>(pem.size()), CertEncoding::DER),
              nullptr);
    EXPECT_EQ(CertUtils::loadCertificate(nullptr, 10, CertEncoding::DER), nullptr);
    EXPECT_EQ(CertUtils::loadCertificate(der, 0, CertEncoding::PEM), nullptr);
    EXPECT_EQ(CertUtils::loadCertificate(der, derLength, static_cast<CertEncoding::Format>(7)), nullptr);
    EXPECT_TRUE(log.contains("Invalid Certificate Format "));
    OPENSSL_free(der);
}

TEST(CertContainerTest, LeafAndContextContainers) {
    auto leaf = smallCert("leaf.example.com");
    auto other = smallCert("other.example.com");
    oxl::test::VerificationContext ctx(leaf.x509(), {other.x509()});
    CertContainerFactory factory;
    oxl::test::LogCapture log;

    auto fromLeaf = factory.buildCertContainer(static_cast<const X509*>(leaf.x509()));
    EXPECT_TRUE(fromLeaf->isValid());
    EXPECT_TRUE(fromLeaf->isLeafCert());
    EXPECT_EQ(fromLeaf->getLeafCert(), leaf.x509());
    EXPECT_EQ(fromLeaf->getCertChain(), nullptr);
    EXPECT_EQ(log.count("Unexpected condition. Unable to return a cert chain from a leaf cert", "oxl.cert"),
              1u);

    auto fromCtx = factory.buildCertContainer(static_cast<const X509_STORE_CTX*>(ctx.get()));
    EXPECT_TRUE(fromCtx->isValid());
    EXPECT_FALSE(fromCtx->isLeafCert());
    EXPECT_EQ(fromCtx->getLeafCert(), leaf.x509());
    EXPECT_EQ(fromCtx->getCertChain(), ctx.get());

    auto nullLeaf = factory.buildCertContainer(static_cast<const X509*>(nullptr));
    auto nullCtx = factory.buildCertContainer(static_cast<const X509_STORE_CTX*>(nullptr));
    for (const auto& container : {nullLeaf, nullCtx}) {
        EXPECT_FALSE(container->isValid());
        EXPECT_FALSE(container->hasValidLeafCert());
        EXPECT_EQ(container->getLeafCert(), nullptr);
    }
    EXPECT_EQ(log.count("Unexpected condition. Unable to return a leaf cert when hasValidLeafCert fails"),
              2u);

    // A context without a certificate under verification holds no leaf.
    X509_STORE_CTX* empty = X509_STORE_CTX_new();
    CertContainerImpl emptyCtx(static_cast<const X509_STORE_CTX*>(empty));
    EXPECT_FALSE(emptyCtx.hasValidLeafCert());
    EXPECT_EQ(emptyCtx.getCertChain(), empty);
    X509_STORE_CTX_free(empty);
}

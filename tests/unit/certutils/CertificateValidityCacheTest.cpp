#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <regex>
#include <thread>

#include "oxl/cert/common/CertCacheInterface.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestPki;
using Cache = CertificateValidityCache;

namespace {

oxl::test::TestCert cert(const std::string& cn) {
    CertSpec spec;
    spec.commonName = cn;
    spec.key = KeySpec{KeyType::EC, 256};
    return TestPki::makeCert(spec);
}

class CertificateValidityCacheTest : public ::testing::Test {
  protected:
    void SetUp() override { CertCacheInterface::clearInvalidCertificateCache(); }
    void TearDown() override { CertCacheInterface::clearInvalidCertificateCache(); }
};

}  // namespace

TEST_F(CertificateValidityCacheTest, FingerprintText) {
    auto a = cert("a.example.com");
    auto b = cert("b.example.com");
    const std::string fa = Cache::generateFingerprint(a.x509());
    // SHA-256: 32 bytes, each two lower-case hex digits and a blank.
    EXPECT_TRUE(std::regex_match(fa, std::regex("([0-9a-f]{2} ){32}"))) << fa;
    EXPECT_EQ(fa, Cache::generateFingerprint(a.x509()));
    EXPECT_NE(fa, Cache::generateFingerprint(b.x509()));
    EXPECT_EQ(fa, Cache::generateFingerprint(a.x509(), EVP_sha256()));
    EXPECT_EQ(Cache::generateFingerprint(a.x509(), EVP_sha1()).size(), 20u * 3);

    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    ASSERT_EQ(X509_digest(a.x509(), EVP_sha256(), md, &length), 1);
    char first[4];
    std::snprintf(first, sizeof(first), "%02x ", md[0]);
    EXPECT_EQ(fa.substr(0, 3), first);

    oxl::test::LogCapture log;
    EXPECT_EQ(Cache::generateFingerprint(nullptr), "");
    EXPECT_EQ(Cache::generateFingerprint(a.x509(), nullptr), "");
    EXPECT_EQ(log.count("Could not generate fingerprint.", "oxl.cert"), 2u);
}

TEST_F(CertificateValidityCacheTest, EntriesMergeAndRemoveIndependently) {
    auto a = cert("a.example.com");
    auto b = cert("b.example.com");
    Cache::addAcceptedInvalidCertificate(a.x509(), CertStatus::UNTRUSTED_ROOT);
    Cache::addAcceptedInvalidCertificate(Cache::generateFingerprint(a.x509()),
                                         {CertStatus::EXPIRED, CertStatus::UNTRUSTED_ROOT});
    Cache::addRejectedInvalidCertificate(a.x509(), CertStatus::WRONG_USAGE);
    Cache::addRejectedInvalidCertificate(b.x509(), CertStatus::EXPIRED);

    EXPECT_EQ(Cache::getAcceptedInvalidCacheValue(a.x509()),
              (std::set<CertStatus::Status>{CertStatus::UNTRUSTED_ROOT, CertStatus::EXPIRED}));
    EXPECT_EQ(Cache::getRejectedInvalidCacheValue(a.x509()),
              std::set<CertStatus::Status>{CertStatus::WRONG_USAGE});
    EXPECT_TRUE(Cache::getAcceptedInvalidCacheValue(b.x509()).empty());
    EXPECT_TRUE(Cache::getAcceptedInvalidCacheValue(nullptr).empty());

    Cache::removeFromRejectedInvalidCache(a.x509());
    EXPECT_TRUE(Cache::getRejectedInvalidCacheValue(a.x509()).empty());
    EXPECT_FALSE(Cache::getAcceptedInvalidCacheValue(a.x509()).empty());
    EXPECT_FALSE(Cache::getRejectedInvalidCacheValue(b.x509()).empty());
    Cache::removeFromAcceptedInvalidCache(Cache::generateFingerprint(a.x509()));
    EXPECT_TRUE(Cache::getAcceptedInvalidCacheValue(a.x509()).empty());

    // An unusable certificate never creates an entry under the empty key.
    Cache::addAcceptedInvalidCertificate(nullptr, CertStatus::EXPIRED);
    Cache::addAcceptedValidCertificate(static_cast<const X509*>(nullptr));
    EXPECT_TRUE(Cache::getAcceptedInvalidCacheValue(std::string()).empty());
    EXPECT_TRUE(Cache::getAcceptedValidFingerprints().empty());
}

TEST_F(CertificateValidityCacheTest, AcceptedCertificatesAndClearing) {
    auto valid = cert("valid.example.com");
    auto invalid = cert("invalid.example.com");
    auto rejected = cert("rejected.example.com");
    oxl::test::LogCapture log;

    Cache::addAcceptedValidCertificate(valid.x509());
    Cache::addAcceptedInvalidCertificate(invalid.x509(), CertStatus::EXPIRED);
    Cache::addRejectedInvalidCertificate(rejected.x509(), CertStatus::EXPIRED);

    EXPECT_TRUE(Cache::findInAcceptedValidCache(valid.x509()));
    EXPECT_FALSE(Cache::findInAcceptedValidCache(invalid.x509()));
    EXPECT_EQ(Cache::getAcceptedValidFingerprints(),
              std::set<std::string>{Cache::generateFingerprint(valid.x509())});
    EXPECT_TRUE(Cache::verifyAcceptedCertificate(valid.x509()));
    EXPECT_TRUE(Cache::verifyAcceptedCertificate(invalid.x509()));
    EXPECT_FALSE(Cache::verifyAcceptedCertificate(rejected.x509()));
    EXPECT_TRUE(log.contains("Fingerprint is not trusted!"));
    EXPECT_FALSE(Cache::verifyAcceptedCertificate(nullptr));
    EXPECT_TRUE(log.contains("Fingerprint was empty!"));

    CertCacheInterface::clearInvalidCertificateCache();
    EXPECT_TRUE(log.contains("Clearing accepted and rejected certificates from memory"));
    EXPECT_FALSE(Cache::verifyAcceptedCertificate(valid.x509()));
    EXPECT_FALSE(Cache::verifyAcceptedCertificate(invalid.x509()));
    EXPECT_TRUE(Cache::getRejectedInvalidCacheValue(rejected.x509()).empty());
    EXPECT_TRUE(Cache::getAcceptedValidFingerprints().empty());
}

TEST_F(CertificateValidityCacheTest, ConcurrentWritersAndReaders) {
    // Run under the sanitizers this catches unguarded access to the shared containers.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                const std::string fp = "fp-" + std::to_string(t) + "-" + std::to_string(i % 20);
                Cache::addAcceptedInvalidCertificate(fp, {static_cast<CertStatus::Status>(i % 27)});
                Cache::addRejectedInvalidCertificate(fp, {CertStatus::EXPIRED});
                Cache::addAcceptedValidCertificate(fp);
                (void)Cache::getAcceptedInvalidCacheValue(fp);
                (void)Cache::findInAcceptedValidCache(fp);
                if (i % 7 == 0) {
                    Cache::removeFromRejectedInvalidCache(fp);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(Cache::getAcceptedValidFingerprints().size(), 4u * 20);
    // Every fingerprint collected every reason its writer added (i % 27 over i with the same i % 20), except
    // INVALID_REVOKED, which is never remembered as accepted.
    EXPECT_EQ(Cache::getAcceptedInvalidCacheValue("fp-0-0").size(), 24u);
}

#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include "oxl/cert/utils/KeyStrengthParser.h"
#include "oxl/cert/utils/KeyUsageParser.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestPki;

namespace {

oxl::test::TestCert certWithUsages(std::optional<unsigned> keyUsage, std::vector<int> eku) {
    CertSpec spec;
    spec.commonName = "usage.example.com";
    spec.key = KeySpec{KeyType::EC, 256};
    spec.keyUsage = keyUsage;
    spec.extendedKeyUsage = std::move(eku);
    return TestPki::makeCert(spec);
}

}  // namespace

TEST(KeyUsageParserTest, BasicAndExtendedUsageCombinations) {
    using KU = BasicKeyUsage;
    using EKU = ExtendedKeyUsage;
    using R = CertKeyUsageResult;
    struct Case {
        const char* name;
        std::optional<unsigned> keyUsage;
        std::vector<int> eku;
        std::vector<KU::Usage> requiredBasic;
        std::vector<EKU::Usage> requiredExtended;
        R::Result basic;
        R::Result extended;
        bool hasBasic;
        bool hasExtended;
        bool anyExtended;
    };
    const Case cases[] = {
        {"no extensions",
         std::nullopt,
         {},
         {KU::DIGITAL_SIGNATURE},
         {EKU::SERVER_AUTH},
         R::NO_MATCHING_BASIC_KEY_USAGE_FOUND,
         R::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND,
         false,
         false,
         false},
        {"empty requirements always pass",
         std::nullopt,
         {},
         {},
         {},
         R::SUCCESS,
         R::SUCCESS,
         false,
         false,
         false},
        {"keyEncipherment only",
         KU_KEY_ENCIPHERMENT,
         {},
         {KU::KEY_ENCIPHERMENT},
         {},
         R::SUCCESS,
         R::SUCCESS,
         true,
         false,
         false},
        {"keyCertSign lacks digitalSignature",
         KU_KEY_CERT_SIGN,
         {},
         {KU::DIGITAL_SIGNATURE},
         {},
         R::NO_MATCHING_BASIC_KEY_USAGE_FOUND,
         R::SUCCESS,
         true,
         false,
         false},
        {"all required must be present",
         KU_DIGITAL_SIGNATURE,
         {},
         {KU::DIGITAL_SIGNATURE, KU::KEY_ENCIPHERMENT},
         {},
         R::NO_MATCHING_BASIC_KEY_USAGE_FOUND,
         R::SUCCESS,
         true,
         false,
         false},
        {"decipherOnly comes from the high bit",
         KU_KEY_AGREEMENT | KU_DECIPHER_ONLY,
         {},
         {KU::KEY_AGREEMENT, KU::DECIPHER_ONLY},
         {},
         R::SUCCESS,
         R::SUCCESS,
         true,
         false,
         false},
        {"serverAuth",
         KU_DIGITAL_SIGNATURE,
         {NID_server_auth},
         {KU::DIGITAL_SIGNATURE},
         {EKU::SERVER_AUTH},
         R::SUCCESS,
         R::SUCCESS,
         true,
         true,
         false},
        {"clientAuth only",
         KU_DIGITAL_SIGNATURE,
         {NID_client_auth},
         {},
         {EKU::SERVER_AUTH},
         R::SUCCESS,
         R::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND,
         true,
         true,
         false},
        {"clientAuth with anyExtendedKeyUsage",
         std::nullopt,
         {NID_client_auth, NID_anyExtendedKeyUsage},
         {},
         {EKU::CLIENT_AUTH},
         R::SUCCESS,
         R::SUCCESS,
         false,
         true,
         true},
        {"anyExtendedKeyUsage is not a bit",
         std::nullopt,
         {NID_anyExtendedKeyUsage},
         {},
         {EKU::SERVER_AUTH},
         R::SUCCESS,
         R::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND,
         false,
         true,
         true},
        {"several purposes",
         std::nullopt,
         {NID_OCSP_sign, NID_time_stamp, NID_dvcs, NID_ipsecUser},
         {},
         {EKU::OCSP_SIGN, EKU::TIME_STAMPING, EKU::DVCS, EKU::IPSEC_USER},
         R::SUCCESS,
         R::SUCCESS,
         false,
         true,
         false},
        {"unlisted purpose is ignored but counts as present",
         std::nullopt,
         {NID_ms_smartcard_login},
         {},
         {EKU::SERVER_AUTH},
         R::SUCCESS,
         R::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND,
         false,
         true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto cert = certWithUsages(c.keyUsage, c.eku);
        KeyUsageParserImpl parser;
        ASSERT_EQ(parser.parse(cert.x509()), R::SUCCESS);
        EXPECT_TRUE(parser.parsed());
        EXPECT_EQ(parser.verifyBasicKeyUsage(c.requiredBasic), c.basic);
        EXPECT_EQ(parser.verifyExtendedKeyUsage(c.requiredExtended), c.extended);
        EXPECT_EQ(parser.hasBasicKeyUsage(), c.hasBasic);
        EXPECT_EQ(parser.hasExtendedKeyUsage(), c.hasExtended);
        EXPECT_EQ(parser.isAnyExtendedKeyUsageSet(), c.anyExtended);
    }
}

// The OpenSSL bit mask has the two "only" bits at opposite ends; both must map.
TEST(KeyUsageParserTest, MaskBitsAtBothEndsMap) {
    EXPECT_EQ(KeyUsageParserImpl::long2KUsage(0x0080 | 0x0004 | 0x8000),
              BasicKeyUsage::DIGITAL_SIGNATURE | BasicKeyUsage::KEY_CERT_SIGN | BasicKeyUsage::DECIPHER_ONLY);
    EXPECT_EQ(KeyUsageParserImpl::long2KUsage(0x0001), BasicKeyUsage::ENCIPHER_ONLY);
    EXPECT_EQ(KeyUsageParserImpl::nid2ExKUsage(910), 0u);
}

TEST(KeyUsageParserTest, UnparsedAndNullCertificates) {
    oxl::test::LogCapture log;
    KeyUsageParserImpl parser;
    EXPECT_EQ(parser.verifyBasicKeyUsage({}), CertKeyUsageResult::INTERNAL_ERROR);
    EXPECT_EQ(parser.verifyExtendedKeyUsage({}), CertKeyUsageResult::INTERNAL_ERROR);
    EXPECT_EQ(parser.parse(nullptr), CertKeyUsageResult::INTERNAL_ERROR);
    EXPECT_FALSE(parser.parsed());
    EXPECT_FALSE(parser.hasBasicKeyUsage());
    EXPECT_TRUE(log.contains("Invalid cert passed in!"));

    auto cert = certWithUsages(KU_KEY_CERT_SIGN, {});
    ASSERT_EQ(parser.parse(cert.x509()), CertKeyUsageResult::SUCCESS);
    EXPECT_EQ(parser.verifyBasicKeyUsage({BasicKeyUsage::DIGITAL_SIGNATURE}),
              CertKeyUsageResult::NO_MATCHING_BASIC_KEY_USAGE_FOUND);
    EXPECT_TRUE(log.contains("No matching key usage found in cert for: DIGITAL_SIGNATURE"));
}

TEST(KeyStrengthParserTest, KeyTypesAndSizes) {
    using R = CertKeyStrengthResult;
    struct Case {
        KeySpec key;
        int expectedBits;
        int minimum;
        R::Result expected;
    };
    const Case cases[] = {
        {{KeyType::RSA, 2048}, 2048, 2048, R::SUCCESS},  // exactly the minimum passes
        {{KeyType::RSA, 2048}, 2048, 2049, R::FAILURE},
        {{KeyType::RSA, 1024}, 1024, 2048, R::FAILURE},
        // Elliptic-curve keys need no size check.
        {{KeyType::EC, 256}, 256, 2048, R::SUCCESS},
    };
    for (const auto& c : cases) {
        CertSpec spec;
        spec.commonName = "strength.example.com";
        spec.key = c.key;
        auto cert = TestPki::makeCert(spec);
        KeyStrengthParserImpl parser;
        ASSERT_EQ(parser.parse(cert.x509()), R::SUCCESS);
        EXPECT_TRUE(parser.parsed());
        EXPECT_EQ(parser.getKeyBits(), c.expectedBits);
        EXPECT_EQ(parser.getKeyType(),
                  c.key.type == KeyType::RSA ? NID_rsaEncryption : NID_X9_62_id_ecPublicKey);
        EXPECT_EQ(parser.verify(c.minimum), c.expected) << c.expectedBits << " bits, minimum " << c.minimum;
    }
}

TEST(KeyStrengthParserTest, UnparsedAndNull) {
    oxl::test::LogCapture log;
    KeyStrengthParserImpl parser;
    EXPECT_EQ(parser.verify(0), CertKeyStrengthResult::INTERNAL_ERROR);
    EXPECT_EQ(parser.parse(nullptr), CertKeyStrengthResult::INTERNAL_ERROR);
    EXPECT_FALSE(parser.parsed());
    EXPECT_TRUE(log.contains("Invalid cert passed in!"));
}

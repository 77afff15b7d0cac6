#include <gtest/gtest.h>

#include <sstream>

#include "oxl/cert/utils/CertEnumerations.h"
#include "oxl/cert/utils/CertResult.h"
#include "oxl/cert/utils/CertStatus.h"

using namespace oxl::cert;

namespace {

template <typename T>
std::string print(const T& value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

}  // namespace

TEST(CertEnumerationsTest, PrintsNamesAndFallbacks) {
    struct Case {
        std::string printed;
        std::string expected;
    };
    // Names are a switch over the values; what can go wrong is the fallback for a number outside it.
    const Case cases[] = {
        {print(CertStatus::FAILED_TO_VERIFY_XMPP_SUBJECT_ALT_NAME), "FAILED_TO_VERIFY_XMPP_SUBJECT_ALT_NAME"},
        {print(static_cast<CertStatus::Status>(27)), "Unexpected value (27)"},
        {print(static_cast<CertStatus::Status>(-1)), "Unexpected value (-1)"},
        {print(static_cast<CertResult::Result>(3)), "3"},
        {print(static_cast<CertIdentifierStatus::Status>(4)), "4"},
        {print(static_cast<CertKeyUsageResult::Result>(4)), "Unexpected value (4)"},
        {print(static_cast<CertKeyStrengthResult::Result>(3)), "Unexpected value (3)"},
        {print(static_cast<CertAcceptanceDecision::Decision>(4)), "Unexpected value (4)"},
        // A combination of bits is not a name.
        {print(static_cast<BasicKeyUsage::Usage>(3)), "3"},
        {print(static_cast<ExtendedKeyUsage::Usage>(1024)), "1024"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.printed, c.expected);
    }
}

TEST(CertEnumerationsTest, RepresentsVerificationSuccessOnlyForEmptyOrValidAlone) {
    EXPECT_TRUE(CertStatus::representsVerificationSuccess({}));
    EXPECT_TRUE(CertStatus::representsVerificationSuccess({CertStatus::VALID}));
    EXPECT_FALSE(CertStatus::representsVerificationSuccess({CertStatus::VALID, CertStatus::EXPIRED}));
    EXPECT_FALSE(CertStatus::representsVerificationSuccess({CertStatus::UNKNOWN}));
}

TEST(CertEnumerationsTest, RecordsPrintInTheirLogFormat) {
    CertResult result;
    EXPECT_EQ(print(result),
              "[result : FAILURE , invalid reason : [] , identifier validation : [result : NO_MATCH_FOUND , "
              "matched ID : ] , fingerprint marked as valid : false]");
    EXPECT_EQ(result.keyUsageResult, CertKeyUsageResult::NO_MATCHING_BASIC_KEY_USAGE_FOUND);
    EXPECT_EQ(result.keyStrengthResult, CertKeyStrengthResult::FAILURE);

    result.result = CertResult::SUCCESS;
    result.invalidReasons = {CertStatus::EXPIRED, CertStatus::UNTRUSTED_ROOT};
    result.identifierStatus = CertIdentifierStatus(CertIdentifierStatus::SUCCESS, "host.example.com");
    result.fingerprintMarkedAsValid = true;
    // The set is ordered by number: UNTRUSTED_ROOT (6) before EXPIRED (11).
    EXPECT_EQ(
        print(result),
        "[result : SUCCESS , invalid reason : [UNTRUSTED_ROOT EXPIRED] , identifier validation : [result : "
        "SUCCESS , matched ID : host.example.com] , fingerprint marked as valid : true]");
}

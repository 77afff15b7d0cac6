#include <gtest/gtest.h>

#include "oxl/cert/common/CertCacheInterface.h"
#include "oxl/cert/common/CertificateCacheAccessor.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "support/LogCapture.h"

using namespace oxl::cert;
using Cache = CertificateValidityCache;
using Decision = CertAcceptanceDecision;
using Statuses = std::set<CertStatus::Status>;
using UserPolicy = UserInteractingInvalidCertManagementPolicy;

namespace {

const std::string FP = "aa bb cc ";

std::shared_ptr<InvalidCertManagementPolicy> prompting(
    std::vector<std::pair<CertStatus::Status, CertStatus::Status>> transitions = {}) {
    UserPolicy::PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder builder;
    for (auto [from, to] : transitions) {
        builder.acceptTransaction(from, to);
    }
    return std::dynamic_pointer_cast<InvalidCertManagementPolicy>(builder.build());
}

class CertificateCacheAccessorTest : public ::testing::Test {
  protected:
    void SetUp() override { CertCacheInterface::clearInvalidCertificateCache(); }
    void TearDown() override { CertCacheInterface::clearInvalidCertificateCache(); }
};

}  // namespace

TEST_F(CertificateCacheAccessorTest, DecisionsFromTheCache) {
    constexpr auto ROOT = CertStatus::UNTRUSTED_ROOT;
    constexpr auto EXPIRED = CertStatus::EXPIRED;
    struct Case {
        const char* name;
        std::vector<std::pair<CertStatus::Status, CertStatus::Status>> transitions;
        Statuses rejected;   // cached rejected reasons (empty: no entry)
        Statuses accepted;   // cached accepted reasons (empty: no entry)
        bool acceptedValid;  // fingerprint in the accepted valid cache
        Statuses current;
        Decision::Decision expected;
        Statuses statusesAfter;
        Statuses rejectedAfter;
        Statuses acceptedAfter;
    };
    const Case cases[] = {
        {"uncached asks the user", {}, {}, {}, false, {ROOT}, Decision::UNKNOWN, {ROOT}, {}, {}},
        {"same rejected reasons", {}, {ROOT}, {}, false, {ROOT}, Decision::NO, {ROOT}, {ROOT}, {}},
        {"rejected reasons cover a subset",
         {},
         {ROOT, EXPIRED},
         {},
         false,
         {EXPIRED},
         Decision::NO,
         {EXPIRED},
         {ROOT, EXPIRED},
         {}},
        {"new reason drops the rejection",
         {},
         {ROOT},
         {},
         false,
         {ROOT, EXPIRED},
         Decision::UNKNOWN,
         {ROOT, EXPIRED},
         {},
         {}},
        {"rejection followed through a transition",
         {{ROOT, EXPIRED}},
         {ROOT},
         {},
         false,
         {EXPIRED},
         Decision::NO,
         {EXPIRED},
         {ROOT, EXPIRED},
         {}},
        {"same accepted reasons",
         {},
         {},
         {ROOT},
         false,
         {ROOT},
         Decision::YES,
         {CertStatus::VALID},
         {},
         {ROOT}},
        {"accepted while valid",
         {},
         {},
         {},
         true,
         {ROOT, EXPIRED},
         Decision::YES,
         {CertStatus::VALID},
         {},
         {}},
        {"accepted then a transition",
         {{ROOT, EXPIRED}},
         {},
         {ROOT},
         false,
         {EXPIRED},
         Decision::YES,
         {CertStatus::VALID},
         {},
         {ROOT, EXPIRED}},
        // A status is not allowed again without a transition to itself.
        {"transition does not cover the old status",
         {{ROOT, EXPIRED}},
         {},
         {ROOT},
         false,
         {ROOT, EXPIRED},
         Decision::UNKNOWN,
         {ROOT, EXPIRED},
         {},
         {}},
        {"a rejection wins over an acceptance",
         {},
         {ROOT},
         {ROOT},
         false,
         {ROOT},
         Decision::NO,
         {ROOT},
         {ROOT},
         {ROOT}},
        // Revocation is judged afresh every time; the decision about the root stays remembered.
        {"revoked is never accepted from the cache",
         {{ROOT, CertStatus::INVALID_REVOKED}},
         {},
         {ROOT},
         false,
         {CertStatus::INVALID_REVOKED},
         Decision::UNKNOWN,
         {CertStatus::INVALID_REVOKED},
         {},
         {ROOT}},
        {"revoked is not accepted from the accepted valid cache either",
         {},
         {},
         {},
         true,
         {ROOT, CertStatus::INVALID_REVOKED},
         Decision::UNKNOWN,
         {ROOT, CertStatus::INVALID_REVOKED},
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CertCacheInterface::clearInvalidCertificateCache();
        if (!c.rejected.empty()) {
            Cache::addRejectedInvalidCertificate(FP, c.rejected);
        }
        if (!c.accepted.empty()) {
            Cache::addAcceptedInvalidCertificate(FP, c.accepted);
        }
        if (c.acceptedValid) {
            Cache::addAcceptedValidCertificate(FP);
        }
        Statuses statuses = c.current;
        CertificateCacheAccessor accessor(FP, statuses, prompting(c.transitions));
        EXPECT_EQ(accessor.buildDecisionFromCache(), c.expected);
        EXPECT_EQ(statuses, c.statusesAfter);
        EXPECT_EQ(Cache::getRejectedInvalidCacheValue(FP), c.rejectedAfter);
        EXPECT_EQ(Cache::getAcceptedInvalidCacheValue(FP), c.acceptedAfter);
    }
}

TEST_F(CertificateCacheAccessorTest, PoliciesThatDoNotUseTheCache) {
    Cache::addAcceptedValidCertificate(FP);
    Cache::addRejectedInvalidCertificate(FP, {CertStatus::UNTRUSTED_ROOT});
    oxl::test::LogCapture log;
    Statuses statuses{CertStatus::UNTRUSTED_ROOT};

    CertificateCacheAccessor silent(FP, statuses, InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY);
    EXPECT_EQ(silent.buildDecisionFromCache(), Decision::UNKNOWN);
    EXPECT_TRUE(log.contains("Policy does not interact with the user"));

    auto unavoidable = std::make_shared<UserPolicy>(InvalidCertManagementPolicy::PolicyValue::PROMPT_USER,
                                                    false, true, UserPolicy::Transitions{},
                                                    oxl::common::Policy::PolicyFailureClass::HARD_FAILURE);
    CertificateCacheAccessor asking(FP, statuses, unavoidable);
    EXPECT_EQ(asking.buildDecisionFromCache(), Decision::UNKNOWN);
    EXPECT_TRUE(log.contains("User interaction is unavoidable"));

    CertificateCacheAccessor none(FP, statuses, nullptr);
    EXPECT_EQ(none.buildDecisionFromCache(), Decision::UNKNOWN);
    EXPECT_EQ(statuses, Statuses{CertStatus::UNTRUSTED_ROOT});
}

TEST_F(CertificateCacheAccessorTest, UpdatesRecordTheCurrentReasonsAndClearingForgetsThem) {
    Statuses statuses{CertStatus::UNTRUSTED_ROOT, CertStatus::EXPIRED};
    CertificateCacheAccessor accessor(FP, statuses, prompting());
    accessor.updateCacheRejected();
    EXPECT_EQ(Cache::getRejectedInvalidCacheValue(FP), statuses);
    EXPECT_EQ(accessor.buildDecisionFromCache(), Decision::NO);

    const std::string other = "dd ee ff ";
    Statuses otherStatuses{CertStatus::WRONG_USAGE};
    CertificateCacheAccessor otherAccessor(other, otherStatuses, prompting());
    otherAccessor.updateCacheAccepted();
    EXPECT_EQ(Cache::getAcceptedInvalidCacheValue(other), Statuses{CertStatus::WRONG_USAGE});
    EXPECT_EQ(otherAccessor.buildDecisionFromCache(), Decision::YES);
    EXPECT_EQ(otherStatuses, Statuses{CertStatus::VALID});

    CertCacheInterface::clearInvalidCertificateCache();
    Statuses again{CertStatus::UNTRUSTED_ROOT, CertStatus::EXPIRED};
    EXPECT_EQ(CertificateCacheAccessor(FP, again, prompting()).buildDecisionFromCache(), Decision::UNKNOWN);
    Statuses otherAgain{CertStatus::WRONG_USAGE};
    EXPECT_EQ(CertificateCacheAccessor(other, otherAgain, prompting()).buildDecisionFromCache(),
              Decision::UNKNOWN);
}

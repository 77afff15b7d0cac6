#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "CertVerifyTestUtil.h"
#include "oxl/cert/common/CertVerificationFailureManager.h"
#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/common/IgnoreInvalidCertConditionPolicy.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/PersistInvalidCertDecisionPolicy.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "support/LogCapture.h"

using namespace oxl::cert;
using oxl::cert::testutil::CleanCertStateTest;
using oxl::cert::testutil::RecordingListener;
using oxl::common::Policy;
using S = CertStatus;
using D = CertAcceptanceDecision;
using Statuses = std::set<CertStatus::Status>;
using UIPolicy = UserInteractingInvalidCertManagementPolicy;

namespace {

std::shared_ptr<Policy> prompting(std::vector<std::pair<S::Status, S::Status>> transitions = {}) {
    UIPolicy::PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder builder;
    for (auto [from, to] : transitions) {
        builder.acceptTransaction(from, to);
    }
    return builder.build();
}

std::shared_ptr<Policy> notifyingSucceeding() {
    return UIPolicy::NotifyingSucceedingAvoidableUserInteractingInvalidCertManagementPolicyBuilder().build();
}

std::shared_ptr<Policy> notifyingFailing() {
    return UIPolicy::NotifyingFailingAvoidableUserInteractingInvalidCertManagementPolicyBuilder().build();
}

const std::string FINGERPRINT = "0a 1b 2c 3d ";

std::shared_ptr<CertificateData> certData() {
    return std::make_shared<CertificateDataImpl>(FINGERPRINT, "host.example.com",
                                                 std::vector<std::string>{"-----BEGIN CERTIFICATE-----"});
}

}  // namespace

TEST(InvalidCertPolicyTest, ManagementValueNamesKeepTheirHistoricalStreamForms) {
    using V = InvalidCertManagementPolicy::PolicyValue;
    struct Case {
        V::Value value;
        const char* name;
        const char* streamed;
    };
    // Only the forms that differ from the name, and the fallback, can be got wrong by a plain switch.
    const Case cases[] = {
        {V::SILENTLY_SUCCEED, "SILENTLY_SUCCEED", ""},
        {V::NOTIFY_USER_AND_SUCCEED, "NOTIFY_USER_AND_SUCCEED", "NOTIFY_USER_AND_SUCCEEDE"},
        {static_cast<V::Value>(9), "9", "Unexpected value (9)"},
    };
    for (const auto& c : cases) {
        InvalidCertManagementPolicy policy(c.value, false, Policy::PolicyFailureClass::SOFT_FAILURE);
        std::ostringstream os;
        os << c.value;
        EXPECT_EQ(policy.getName(), c.name);
        EXPECT_EQ(os.str(), c.streamed) << c.name;
    }
}

TEST(InvalidCertPolicyTest, SilentPoliciesEnforceWithoutTheUser) {
    struct Case {
        const char* name;
        std::shared_ptr<InvalidCertManagementPolicy> policy;
        Statuses in;
        Policy::PolicyEnforcingResult::EnforcingResult result;
        Statuses out;
    };
    InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(nullptr);
    auto prompt = std::dynamic_pointer_cast<InvalidCertManagementPolicy>(prompting());
    const Case cases[] = {
        {"fail keeps the failure",
         InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY,
         {S::UNTRUSTED_ROOT},
         Policy::PolicyEnforcingResult::SUCCESS,
         {S::UNTRUSTED_ROOT}},
        {"succeed turns it valid",
         InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY,
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         Policy::PolicyEnforcingResult::SUCCESS,
         {S::VALID}},
        {"revoked is never accepted",
         InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY,
         {S::INVALID_REVOKED, S::UNTRUSTED_ROOT},
         Policy::PolicyEnforcingResult::SUCCESS,
         {S::INVALID_REVOKED, S::UNTRUSTED_ROOT}},
        {"already valid is left alone",
         InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY,
         {S::VALID},
         Policy::PolicyEnforcingResult::SUCCESS,
         {S::VALID}},
        // The plain enforce path does not know how to talk to the user.
        {"prompting value through the plain path",
         prompt,
         {S::UNTRUSTED_ROOT},
         Policy::PolicyEnforcingResult::NOT_ENFORCEABLE,
         {S::UNTRUSTED_ROOT}},
    };
    for (const auto& c : cases) {
        Statuses statuses = c.in;
        EXPECT_EQ(c.policy->enforce(statuses, nullptr), c.result) << c.name;
        EXPECT_EQ(statuses, c.out) << c.name;
    }
    EXPECT_EQ(InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY->getFailureClass(),
              Policy::PolicyFailureClass::SOFT_FAILURE);
    EXPECT_FALSE(InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY->equals(
        *InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY));
}

TEST(InvalidCertPolicyTest, TransitionsDecideWhetherACachedDecisionStillCovers) {
    auto policy = std::dynamic_pointer_cast<UIPolicy>(prompting({{S::UNTRUSTED_ROOT, S::EXPIRED},
                                                                 {S::UNTRUSTED_ROOT, S::UNTRUSTED_ROOT},
                                                                 {S::EXPIRED, S::NO_TIME_VALID}}));
    ASSERT_TRUE(policy);
    // The self transition was dropped by the builder.
    EXPECT_EQ(policy->getTransitions().at(S::UNTRUSTED_ROOT), Statuses{S::EXPIRED});
    struct Case {
        const char* name;
        Statuses old;
        Statuses current;
        bool accepted;
    };
    const Case cases[] = {
        {"allowed transition", {S::UNTRUSTED_ROOT}, {S::EXPIRED}, true},
        {"old status again has no self transition",
         {S::UNTRUSTED_ROOT},
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         false},
        {"union over every old status",
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         {S::EXPIRED, S::NO_TIME_VALID},
         true},
        {"transitions are not transitive", {S::UNTRUSTED_ROOT}, {S::NO_TIME_VALID}, false},
        {"nothing cached allows nothing", {}, {S::EXPIRED}, false},
        {"revoked is refused even when reachable", {S::UNTRUSTED_ROOT}, {S::INVALID_REVOKED}, false},
    };
    for (const auto& c : cases) {
        bool accepted = !c.accepted;
        EXPECT_EQ(policy->enforceWithoutUserInteraction(c.old, c.current, accepted),
                  Policy::PolicyEnforcingResult::SUCCESS)
            << c.name;
        EXPECT_EQ(accepted, c.accepted) << c.name;
    }

    // A policy that may not spare the user a question cannot judge cached decisions.
    UIPolicy unavoidable(InvalidCertManagementPolicy::PolicyValue::PROMPT_USER, false, true, {},
                         Policy::PolicyFailureClass::HARD_FAILURE);
    bool accepted = true;
    EXPECT_EQ(unavoidable.enforceWithoutUserInteraction({S::UNTRUSTED_ROOT}, {S::UNTRUSTED_ROOT}, accepted),
              Policy::PolicyEnforcingResult::NOT_ENFORCEABLE);
    EXPECT_TRUE(accepted);
}

// Equality decides whether a new default replaces the old one, so the transitions take part in it.
TEST(InvalidCertPolicyTest, EqualityCoversValueAndTransitions) {
    auto a = prompting({{S::UNTRUSTED_ROOT, S::EXPIRED}});
    EXPECT_TRUE(a->equals(*prompting({{S::UNTRUSTED_ROOT, S::EXPIRED}})));
    EXPECT_FALSE(a->equals(*prompting()));
    EXPECT_FALSE(prompting()->equals(*notifyingSucceeding()));
    EXPECT_FALSE(a->equals(*InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY));
}

TEST(IgnoreInvalidCertConditionPolicyTest, MergeStripOutAndEnforce) {
    using P = IgnoreInvalidCertConditionPolicy;
    auto revocation = P::IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS_POLICY;
    auto merged = std::dynamic_pointer_cast<P>(revocation->merge(P::IGNORE_WEAK_KEY_ERRORS_POLICY));
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->getName(),
              "IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS merge IGNORE_WEAK_KEY_ERRORS_POLICY");
    EXPECT_EQ(merged->ignoredStatuses(), (Statuses{S::NO_REVOCATION_CHECK, S::REVOCATION_OFFLINE,
                                                   S::REVOCATION_STATUS_UNKNOWN, S::WEAK_KEY}));

    auto stripped = std::dynamic_pointer_cast<P>(merged->stripOut(P::IGNORE_WEAK_KEY_ERRORS_POLICY));
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->ignoredStatuses(), revocation->ignoredStatuses());
    EXPECT_NE(stripped->getName().find(" stripOut IGNORE_WEAK_KEY_ERRORS_POLICY"), std::string::npos);
    EXPECT_TRUE(stripped->equals(*revocation));

    // Equal policies merge into the other one itself, but stripping one by an equal one really strips:
    // nothing is left to ignore (FIPS mode strips the weak-key policy by itself).
    auto copy = std::make_shared<P>("mine", true, true, true, false, false);
    EXPECT_EQ(copy->merge(revocation), revocation);
    for (const auto& [policy, by] :
         {std::pair{std::shared_ptr<P>(copy), revocation},
          std::pair{P::IGNORE_WEAK_KEY_ERRORS_POLICY, P::IGNORE_WEAK_KEY_ERRORS_POLICY},
          std::pair{P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY, P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY}}) {
        auto left = std::dynamic_pointer_cast<P>(policy->stripOut(by));
        ASSERT_TRUE(left);
        EXPECT_TRUE(left->ignoredStatuses().empty()) << left->getName();
    }
    // Nothing is left when everything is stripped.
    auto none = std::dynamic_pointer_cast<P>(
        P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY->stripOut(std::dynamic_pointer_cast<P>(
            P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY->merge(P::IGNORE_WEAK_KEY_ERRORS_POLICY))));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->ignoredStatuses().empty());

    oxl::test::LogCapture logs;
    Statuses statuses{S::REVOCATION_OFFLINE, S::WEAK_KEY, S::UNTRUSTED_ROOT};
    EXPECT_EQ(merged->enforce(statuses), Policy::PolicyEnforcingResult::SUCCESS);
    EXPECT_EQ(statuses, Statuses{S::UNTRUSTED_ROOT});
    EXPECT_TRUE(logs.contains("Removed statuses: [REVOCATION_OFFLINE WEAK_KEY]"));
    Statuses untouched{S::UNTRUSTED_ROOT};
    P::DO_NOT_IGNORE_FALURE_CONDITIONS_POLICY->enforce(untouched);
    EXPECT_EQ(untouched, Statuses{S::UNTRUSTED_ROOT});
    EXPECT_TRUE(logs.contains("No statuses have been removed from the verification status."));
}

TEST(PersistInvalidCertDecisionPolicyTest, ValueSetsTheFlag) {
    using P = PersistInvalidCertDecisionPolicy;
    struct Case {
        P::PolicyValue::Value value;
        Policy::PolicyEnforcingResult::EnforcingResult result;
        bool persist;
    };
    const Case cases[] = {
        {P::PolicyValue::PERSIST_DECISION, Policy::PolicyEnforcingResult::SUCCESS, true},
        {P::PolicyValue::DO_NOT_PERSIST_DECISION, Policy::PolicyEnforcingResult::SUCCESS, false},
        // An unknown value leaves the flag as it was (the initial value below).
        {static_cast<P::PolicyValue::Value>(5), Policy::PolicyEnforcingResult::ENFORCING_FAILURE, true},
    };
    for (const auto& c : cases) {
        P policy(c.value);
        bool persist = c.value == P::PolicyValue::PERSIST_DECISION ? false : true;
        EXPECT_EQ(policy.enforce(persist), c.result);
        EXPECT_EQ(persist, c.persist) << policy.getName();
    }
}

class FailureManagerDecisionTest : public CleanCertStateTest {};

TEST_F(FailureManagerDecisionTest, DecisionTable) {
    using Mode = RecordingListener::Mode;
    using Seed = std::function<void()>;
    auto rejected = [](Statuses s) {
        return [s] { CertificateValidityCache::addRejectedInvalidCertificate(FINGERPRINT, s); };
    };
    auto accepted = [](Statuses s) {
        return [s] { CertificateValidityCache::addAcceptedInvalidCertificate(FINGERPRINT, s); };
    };
    struct Case {
        const char* name;
        std::shared_ptr<Policy> policy;
        Seed seed;
        Statuses statuses;
        std::optional<Mode> listener;
        D::Decision expected;
        size_t requests;  // prompts and warnings the listener saw
        Statuses cachedAccepted;
        Statuses cachedRejected;
    };
    const Statuses UR{S::UNTRUSTED_ROOT};
    const Case cases[] = {
        {"no policy rejects", Policy::UNKNOWN_POLICY, nullptr, UR, Mode::ACCEPT, D::NO, 0, {}, {}},
        {"silently fail",
         InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY,
         nullptr,
         UR,
         Mode::ACCEPT,
         D::NO,
         0,
         {},
         {}},
        {"silently succeed",
         InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY,
         nullptr,
         UR,
         std::nullopt,
         D::YES,
         0,
         {},
         {}},
        {"silently succeed refuses revoked",
         InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY,
         nullptr,
         {S::INVALID_REVOKED, S::UNTRUSTED_ROOT},
         std::nullopt,
         D::NO,
         0,
         {},
         {}},
        {"cached rejection covers", prompting(), rejected(UR), UR, Mode::ACCEPT, D::NO, 0, {}, UR},
        {"cached rejection, new reason asks again",
         prompting(),
         rejected(UR),
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         Mode::ACCEPT,
         D::YES,
         1,
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         {}},
        {"cached acceptance covers", prompting(), accepted(UR), UR, Mode::REJECT, D::YES, 0, UR, {}},
        {"accepted valid cache",
         prompting(),
         [] { CertificateValidityCache::addAcceptedValidCertificate(FINGERPRINT); },
         {S::EXPIRED},
         Mode::REJECT,
         D::YES,
         0,
         {},
         {}},
        {"cached acceptance follows a transition",
         prompting({{S::UNTRUSTED_ROOT, S::EXPIRED}}),
         accepted(UR),
         {S::EXPIRED},
         Mode::REJECT,
         D::YES,
         0,
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         {}},
        {"no self transition asks again",
         prompting({{S::UNTRUSTED_ROOT, S::EXPIRED}}),
         accepted(UR),
         {S::UNTRUSTED_ROOT, S::EXPIRED},
         Mode::REJECT,
         D::NO,
         1,
         {},
         {S::UNTRUSTED_ROOT, S::EXPIRED}},
        {"prompt accepted", prompting(), nullptr, UR, Mode::ACCEPT, D::YES, 1, UR, {}},
        {"prompt denied", prompting(), nullptr, UR, Mode::REJECT, D::NO, 1, {}, UR},
        {"accepted without options",
         prompting(),
         nullptr,
         UR,
         Mode::ACCEPT_WITHOUT_OPTIONS,
         D::POLICY_ENFORCEMENT_ERROR,
         1,
         {},
         {}},
        {"listener failure", prompting(), nullptr, UR, Mode::THROW, D::POLICY_ENFORCEMENT_ERROR, 1, {}, {}},
        {"notify and succeed", notifyingSucceeding(), nullptr, UR, Mode::MANUAL, D::YES, 1, UR, {}},
        {"notify and fail", notifyingFailing(), nullptr, UR, Mode::MANUAL, D::NO, 1, {}, UR},
        {"no listener registered",
         prompting(),
         nullptr,
         UR,
         std::nullopt,
         D::POLICY_ENFORCEMENT_ERROR,
         0,
         {},
         {}},
        {"notify without listener",
         notifyingSucceeding(),
         nullptr,
         UR,
         std::nullopt,
         D::POLICY_ENFORCEMENT_ERROR,
         0,
         {},
         {}},
        {"user-interacting refuses revoked",
         prompting(),
         nullptr,
         {S::INVALID_REVOKED},
         Mode::ACCEPT,
         D::NO,
         0,
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        std::shared_ptr<RecordingListener> listener;
        if (c.listener) {
            listener = registerListener(*c.listener);
        }
        if (c.seed) {
            c.seed();
        }
        Statuses statuses = c.statuses;
        EXPECT_EQ(CertVerificationFailureManager::manageCertValidationFailure(certData(), "host.example.com",
                                                                              "Host", statuses, c.policy),
                  c.expected);
        EXPECT_EQ(listener ? listener->requestCount() : 0u, c.requests);
        EXPECT_EQ(CertificateValidityCache::getAcceptedInvalidCacheValue(FINGERPRINT), c.cachedAccepted);
        EXPECT_EQ(CertificateValidityCache::getRejectedInvalidCacheValue(FINGERPRINT), c.cachedRejected);
    }
}

TEST_F(FailureManagerDecisionTest, PromptCarriesTheCertificateTexts) {
    auto listener = registerListener(RecordingListener::Mode::REJECT);
    Statuses statuses{S::UNTRUSTED_ROOT, S::CN_NO_MATCH};
    auto data =
        std::make_shared<CertificateDataImpl>(FINGERPRINT, "", std::vector<std::string>{"PEM1", "PEM2"});
    EXPECT_EQ(CertVerificationFailureManager::manageCertValidationFailure(
                  data, "a.example.com", "Mail server", statuses, prompting()),
              D::NO);
    auto requests = listener->requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_TRUE(r.canTakeDecision);
    EXPECT_EQ(r.texts.fingerprint, FINGERPRINT);
    EXPECT_EQ(r.texts.commonName, "Unknown");
    EXPECT_EQ(r.texts.referenceIdentifier, "a.example.com");
    EXPECT_EQ(r.texts.identifierToDisplay, "Mail server");
    EXPECT_EQ(r.texts.failureDescription,
              "The certificate is not issued by a trusted authority; The certificate does not match the "
              "server name");
    EXPECT_EQ(r.statuses, statuses);
    EXPECT_EQ(r.pemCertificates, (std::vector<std::string>{"PEM1", "PEM2"}));
}

TEST_F(FailureManagerDecisionTest, CachedDecisionCheckNeverAsks) {
    auto listener = registerListener(RecordingListener::Mode::ACCEPT);
    struct Case {
        const char* name;
        std::shared_ptr<Policy> policy;
        bool seedAccepted;
        D::Decision expected;
    };
    const Case cases[] = {
        {"no policy", Policy::UNKNOWN_POLICY, true, D::UNKNOWN},
        {"silent policy does not use the cache", InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY, true,
         D::UNKNOWN},
        {"prompting, cached", prompting(), true, D::YES},
        {"prompting, not cached", prompting(), false, D::UNKNOWN},
    };
    for (const auto& c : cases) {
        CertCacheInterface::clearInvalidCertificateCache();
        if (c.seedAccepted) {
            CertificateValidityCache::addAcceptedInvalidCertificate(FINGERPRINT, Statuses{S::EXPIRED});
        }
        Statuses statuses{S::EXPIRED};
        EXPECT_EQ(
            CertVerificationFailureManager::checkCertificateCachedDecision(certData(), statuses, c.policy),
            c.expected)
            << c.name;
    }
    EXPECT_EQ(listener->requestCount(), 0u);
}

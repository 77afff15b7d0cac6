#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "CertVerifyTestUtil.h"
#include "oxl/cert/common/CertVerificationFailureManager.h"
#include "oxl/cert/common/CertificateCacheAccessor.h"
#include "oxl/cert/common/CertificateData.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/common/PersistInvalidCertDecisionPolicy.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "support/LogCapture.h"

using namespace oxl::cert;
using oxl::cert::testutil::CleanCertStateTest;
using oxl::cert::testutil::RecordingListener;
using oxl::cert::testutil::waitFor;
using oxl::common::Policy;
using S = CertStatus;
using D = CertAcceptanceDecision;
using Statuses = std::set<CertStatus::Status>;
using Manager = InvalidCertNotificationManager;
using Options = Manager::AcceptanceOptions;

namespace {

const std::string FP = "de ad be ef ";

std::shared_ptr<Policy> prompting() {
    return UserInteractingInvalidCertManagementPolicy::
        PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
            .build();
}

// One verification thread asking about the certificate, as the verifier does.
std::future<D::Decision> verifyInBackground(std::shared_ptr<Policy> policy,
                                            Statuses statuses = {S::UNTRUSTED_ROOT}) {
    return std::async(std::launch::async, [policy, statuses]() mutable {
        auto data = std::make_shared<CertificateDataImpl>(FP, "host.example.com", std::vector<std::string>{});
        return CertVerificationFailureManager::manageCertValidationFailure(data, "host.example.com", "host",
                                                                           statuses, policy);
    });
}

bool finished(std::future<D::Decision>& f) {
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace

class InvalidCertNotificationManagerTest : public CleanCertStateTest {};

TEST_F(InvalidCertNotificationManagerTest, ConcurrentPromptsForOneCertificateAskOnceAndShareTheAnswer) {
    auto listener = registerListener();
    oxl::test::LogCapture logs;
    auto policy = prompting();
    auto first = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 1; }));
    auto second = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] {
        return logs.count("There is an in progress request for this cert. Waiting for its completion") == 1;
    }));

    // Both threads are blocked until the application answers.
    EXPECT_FALSE(finished(first));
    EXPECT_FALSE(finished(second));
    Manager::getInstance()->acceptInvalidCert(FP, {Options::ACCEPT_FOR_SESSION});

    ASSERT_EQ(first.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(first.get(), D::YES);
    EXPECT_EQ(second.get(), D::YES);
    EXPECT_EQ(listener->requestCount(), 1u);
    EXPECT_TRUE(logs.contains("Found a cached response"));
    EXPECT_EQ(CertificateValidityCache::getAcceptedInvalidCacheValue(FP), Statuses{S::UNTRUSTED_ROOT});
}

TEST_F(InvalidCertNotificationManagerTest, WithoutPersistingTheWaiterAsksAgain) {
    auto listener = registerListener();
    Manager::getInstance()->addPolicy(PersistInvalidCertDecisionPolicy::DO_NOT_PERSIST_DECISION_POLICY);
    oxl::test::LogCapture logs;
    auto policy = prompting();
    auto first = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 1; }));
    auto second = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] {
        return logs.count("There is an in progress request for this cert. Waiting for its completion") == 1;
    }));
    Manager::getInstance()->rejectInvalidCert(FP);
    ASSERT_EQ(first.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(first.get(), D::NO);

    // Nothing was remembered, so the waiting verification becomes the next question.
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 2; }));
    EXPECT_FALSE(finished(second));
    Manager::getInstance()->acceptInvalidCert(FP, {Options::ACCEPT_FOR_SESSION});
    ASSERT_EQ(second.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(second.get(), D::YES);
    EXPECT_TRUE(CertificateValidityCache::getAcceptedInvalidCacheValue(FP).empty());
    EXPECT_TRUE(CertificateValidityCache::getRejectedInvalidCacheValue(FP).empty());
}

TEST_F(InvalidCertNotificationManagerTest, StrayAndRepeatedAnswersAreIgnored) {
    registerListener();
    oxl::test::LogCapture logs;
    auto manager = Manager::getInstance();

    manager->acceptInvalidCert("00 11 ", {Options::ACCEPT_FOR_SESSION});
    manager->rejectInvalidCert("00 11 ");
    EXPECT_EQ(logs.count("Received an accept response for a prompt request not in progress"), 1u);
    EXPECT_EQ(logs.count("Received a reject response for a prompt request not in progress"), 1u);

    // The application answers twice before the asking thread has picked up the first answer.
    class TwiceListener : public RecordingListener {
      public:
        void onInvalidCertRequest(const InvalidCertRequest& request) override {
            RecordingListener::onInvalidCertRequest(request);
            Manager::getInstance()->rejectInvalidCert(request.texts.fingerprint);
            Manager::getInstance()->acceptInvalidCert(request.texts.fingerprint,
                                                      {Options::ACCEPT_FOR_SESSION});
        }
    };
    auto twice = std::make_shared<TwiceListener>();
    manager->registerInvalidCertListener(twice);
    auto decision = verifyInBackground(prompting());
    ASSERT_EQ(decision.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(decision.get(), D::NO);
    EXPECT_EQ(logs.count("Received an accept response for a prompt request that has already a response"), 1u);
    EXPECT_EQ(CertificateValidityCache::getRejectedInvalidCacheValue(FP), Statuses{S::UNTRUSTED_ROOT});
}

TEST_F(InvalidCertNotificationManagerTest,
       MissingListenerIsALogicErrorThatThePolicyTurnsIntoAnEnforcementError) {
    auto manager = Manager::getInstance();
    Statuses statuses{S::UNTRUSTED_ROOT};
    CertificateCacheAccessor accessor(FP, statuses, nullptr);
    InvalidCertTexts texts{FP, "cn", "ref", "display", ""};
    oxl::test::LogCapture logs;
    EXPECT_THROW(manager->promptUserForAction(texts, statuses, {}, accessor), std::logic_error);
    EXPECT_THROW(manager->displayCertWarning(texts, statuses, {}, true, accessor), std::logic_error);
    EXPECT_THROW(manager->reportRejectedCert(texts, statuses, {}), std::logic_error);
    EXPECT_TRUE(logs.contains(
        "Unable to prompt the user. InvalidCertListener not registered. Unexpected condition!"));

    // Through the policy the missing listener is a refusal to enforce, never an exception.
    auto policy = std::dynamic_pointer_cast<UserInteractingInvalidCertManagementPolicy>(prompting());
    EXPECT_EQ(policy->enforce(statuses, texts, {}, accessor), Policy::PolicyEnforcingResult::NOT_ENFORCEABLE);
    auto decision = verifyInBackground(prompting());
    EXPECT_EQ(decision.get(), D::POLICY_ENFORCEMENT_ERROR);
}

TEST_F(InvalidCertNotificationManagerTest, ClearingAbortsWaitingPromptsAndTheirWaiters) {
    auto listener = registerListener();
    oxl::test::LogCapture logs;
    auto policy = prompting();
    auto first = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 1; }));
    auto second = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] {
        return logs.count("There is an in progress request for this cert. Waiting for its completion") == 1;
    }));

    Manager::getInstance()->clearForTesting();
    ASSERT_EQ(first.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(first.get(), D::POLICY_ENFORCEMENT_ERROR);
    EXPECT_EQ(second.get(), D::POLICY_ENFORCEMENT_ERROR);
    EXPECT_EQ(logs.count("No decision to report. The request has been aborted"), 2u);
    EXPECT_EQ(listener->requestCount(), 1u);

    // The manager is usable again right away.
    auto again = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 2; }));
    Manager::getInstance()->rejectInvalidCert(FP);
    EXPECT_EQ(again.get(), D::NO);
}

TEST_F(InvalidCertNotificationManagerTest, DifferentCertificatesAreAskedInParallel) {
    auto listener = registerListener();
    auto policy = prompting();
    auto other = std::async(std::launch::async, [policy] {
        Statuses statuses{S::EXPIRED};
        auto data = std::make_shared<CertificateDataImpl>("01 02 ", "other", std::vector<std::string>{});
        return CertVerificationFailureManager::manageCertValidationFailure(data, "other", "other", statuses,
                                                                           policy);
    });
    auto mine = verifyInBackground(policy);
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 2; }));
    Manager::getInstance()->rejectInvalidCert("01 02 ");
    Manager::getInstance()->acceptInvalidCert(FP, {Options::ACCEPT_FOR_SESSION});
    EXPECT_EQ(other.get(), D::NO);
    EXPECT_EQ(mine.get(), D::YES);
}

TEST(InvalidCertNotificationTypesTest, ResponsesPrint) {
    std::ostringstream os;
    os << Manager::Response{true, {Options::ACCEPT_FOR_SESSION}} << '|' << Manager::Response{false, {}} << '|'
       << static_cast<Manager::PromptDecision::Decision>(7);
    EXPECT_EQ(os.str(),
              "Certificate accepted Options: ACCEPT_FOR_SESSION|Certificate rejected|Unexpected value (7)");
}

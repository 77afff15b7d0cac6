// What a remembered user decision may and may not stand for: the host it was given for when the name did not
// match, the persist policy of the verifier that asked, and never a revoked certificate.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <functional>
#include <mutex>

#include "CertVerifyTestUtil.h"
#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/common/CertificateVerificationListener.h"
#include "oxl/cert/common/PersistInvalidCertDecisionPolicy.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using namespace oxl::cert::testutil;
using oxl::common::Policy;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestCert;
using oxl::test::TestPki;
using oxl::test::VerificationContext;
using Mode = RecordingListener::Mode;
using Persist = PersistInvalidCertDecisionPolicy;

namespace {

CertSpec serverSpec(const std::string& host) {
    return TestPki::leafSpec(host, {KeyType::EC, 256});
}

std::shared_ptr<Policy> prompting() {
    return UserInteractingInvalidCertManagementPolicy::
        PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
            .build();
}

// One verification: the host asked for, how the application answers a prompt, and what must follow.
struct Step {
    std::string host;
    Mode answer;
    CertResult::Result expected;
    size_t promptsSoFar;
};

struct Scenario {
    const char* name;
    bool revoked;  // the revoked certificate (with its CRL) instead of the self-signed one
    std::function<void(CertVerifier&)> setUp;
    std::vector<Step> steps;
};

class RememberedDecisionTest : public CleanCertStateTest {
  protected:
    void SetUp() override {
        CleanCertStateTest::SetUp();
        root_ = TestPki::makeRoot("remembered root", -1, KeySpec{KeyType::EC, 256});
        inter_ = TestPki::makeIntermediate("remembered intermediate", root_, -1, KeySpec{KeyType::EC, 256});
        revoked_ = TestPki::makeCert(serverSpec("a.example"), &inter_);
        selfSigned_ = TestPki::makeCert(serverSpec("a.example"));
        trustFile_ = pki_.writeCertificates("trust.pem", {root_.x509()});
        crlFile_ = pki_.writeCrl("inter.crl", TestPki::makeCrl(inter_, {revoked_.x509()}).get());
    }
    void TearDown() override {
        InvalidCertNotificationManager::getInstance()->removePolicy(
            Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION);
        CleanCertStateTest::TearDown();
    }

    TestPki pki_;
    TestCert root_, inter_, revoked_, selfSigned_;
    std::string trustFile_, crlFile_;
};

}  // namespace

TEST_F(RememberedDecisionTest, WhatARememberedDecisionStandsFor) {
    const auto S = CertResult::SUCCESS;
    const auto F = CertResult::FAILURE;
    const Scenario scenarios[] = {
        {"an acceptance despite a name mismatch stays with its host",
         false,
         nullptr,
         {{"b.example", Mode::ACCEPT, S, 1},
          {"c.example", Mode::REJECT, F, 2},
          {"b.example", Mode::REJECT, S, 2}}},
        {"a rejection for a wrong host leaves the right host's acceptance",
         false,
         nullptr,
         {{"a.example", Mode::ACCEPT, S, 1},
          {"b.example", Mode::REJECT, F, 2},
          {"a.example", Mode::REJECT, S, 2}}},
        {"an acceptance for the right host does not cover a wrong one",
         false,
         nullptr,
         {{"a.example", Mode::ACCEPT, S, 1},
          {"b.example", Mode::REJECT, F, 2},
          {"b.example", Mode::ACCEPT, F, 2}}},
        {"the verifier's do-not-persist policy",
         false,
         [](CertVerifier& v) { v.addPolicy(Persist::DO_NOT_PERSIST_DECISION_POLICY); },
         {{"a.example", Mode::ACCEPT, S, 1},
          {"a.example", Mode::REJECT, F, 2},
          {"a.example", Mode::ACCEPT, S, 3}}},
        {"the manager's persist policy cannot overrule the verifier's",
         false,
         [](CertVerifier& v) {
             InvalidCertNotificationManager::getInstance()->addPolicy(Persist::PERSIST_DECISION_POLICY);
             v.addPolicy(Persist::DO_NOT_PERSIST_DECISION_POLICY);
         },
         {{"a.example", Mode::REJECT, F, 1}, {"a.example", Mode::ACCEPT, S, 2}}},
        {"a persist policy that cannot be enforced persists nothing",
         false,
         [](CertVerifier&) {
             InvalidCertNotificationManager::getInstance()->addPolicy(
                 std::make_shared<Persist>(static_cast<Persist::PolicyValue::Value>(7)));
         },
         {{"a.example", Mode::ACCEPT, S, 1}, {"a.example", Mode::REJECT, F, 2}}},
        {"persisting by default",
         false,
         nullptr,
         {{"a.example", Mode::ACCEPT, S, 1}, {"a.example", Mode::REJECT, S, 1}}},
        {"a revoked certificate found in the accepted cache",
         true,
         [this](CertVerifier&) { CertificateValidityCache::addAcceptedValidCertificate(revoked_.x509()); },
         {{"a.example", Mode::ACCEPT, F, 0}}},
        {"a revoked certificate and a forgiven policy failure",
         true,
         [](CertVerifier& v) {
             v.addPolicy(oxl::common::FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
             InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(nullptr);
         },
         {{"a.example", Mode::MANUAL, F, 0}}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        reset();
        InvalidCertNotificationManager::getInstance()->removePolicy(
            Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION);
        PlatformTrustSettings settings{trustFile_};
        if (scenario.revoked) {
            settings.crlFiles = {crlFile_};
        }
        auto verifier =
            std::make_shared<CertVerifier>(std::make_shared<OpenSslPlatformCertVerifier>(settings));
        verifier->addPolicy(prompting());
        const TestCert& cert = scenario.revoked ? revoked_ : selfSigned_;
        VerificationContext ctx(cert.x509(), {inter_.x509()});
        auto listener = std::make_shared<RecordingListener>(Mode::ACCEPT);
        if (scenario.setUp) {
            scenario.setUp(*verifier);
        }
        size_t prompts = 0;
        for (const auto& step : scenario.steps) {
            SCOPED_TRACE(step.host);
            listener = std::make_shared<RecordingListener>(step.answer);
            if (step.answer != Mode::MANUAL) {
                InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(listener);
            }
            const CertResult r = verifier->verifyCertificate(ctx.get(), step.host);
            EXPECT_EQ(r.result, step.expected) << r;
            prompts += listener->requests().size();
            EXPECT_EQ(prompts, step.promptsSoFar);
        }
    }
}

namespace {
class CountingResults : public CertificateVerificationListener {
  public:
    void onVerificationResult(unsigned int, CertResult result) override {
        std::lock_guard<std::mutex> lock(mutex_);
        results_.push_back(result);
    }
    std::vector<CertResult> results() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return results_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<CertResult> results_;
};
}  // namespace

TEST_F(RememberedDecisionTest, TheAsynchronousCacheLookUpIsPerHostToo) {
    auto verifier = std::make_shared<CertVerifier>(
        std::make_shared<OpenSslPlatformCertVerifier>(PlatformTrustSettings{trustFile_}));
    verifier->addPolicy(prompting());
    VerificationContext ctx(selfSigned_.x509(), {});
    auto listener = registerListener(Mode::ACCEPT);
    ASSERT_EQ(verifier->verifyCertificate(ctx.get(), "b.example").result, CertResult::SUCCESS);

    auto results = std::make_shared<CountingResults>();
    CertResult instant;
    unsigned int id = 99;
    // The host the mismatch was accepted for is answered at once from the cache.
    ASSERT_TRUE(verifier->verifyCertificateAsync(ctx.get(), "b.example", results, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::SUCCESS) << instant;
    // Another host is not: the user is asked in the background and says no.
    registerListener(Mode::REJECT);
    ASSERT_TRUE(verifier->verifyCertificateAsync(ctx.get(), "c.example", results, instant, id));
    EXPECT_NE(id, 0u);
    EXPECT_EQ(instant.result, CertResult::FAILURE) << instant;
    ASSERT_TRUE(waitFor([&] { return results->results().size() == 1; }));
    EXPECT_EQ(results->results()[0].result, CertResult::FAILURE);
}

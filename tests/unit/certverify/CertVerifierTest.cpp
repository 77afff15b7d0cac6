#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "CertVerifyTestUtil.h"
#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/common/CertificateValidityCache.h"
#include "oxl/cert/common/CertificateVerificationListener.h"
#include "oxl/cert/common/IgnoreInvalidCertConditionPolicy.h"
#include "oxl/cert/common/InvalidCertManagementPolicy.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/common/FipsUtils.h"
#include "oxl/diag/Diagnostics.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::cert::testutil::CleanCertStateTest;
using oxl::cert::testutil::RecordingListener;
using oxl::cert::testutil::waitFor;
using oxl::common::Policy;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestCert;
using oxl::test::TestPki;
using oxl::test::VerificationContext;
using S = CertStatus;
using Statuses = std::set<CertStatus::Status>;
using Refs = std::vector<std::string>;

namespace {

std::shared_ptr<Policy> prompting() {
    return UserInteractingInvalidCertManagementPolicy::
        PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
            .build();
}

// Counts platform calls, so that tests can tell whether verification got that far.
class CountingPlatformVerifier : public PlatformCertVerifier {
  public:
    explicit CountingPlatformVerifier(std::shared_ptr<PlatformCertVerifier> inner)
        : inner_(std::move(inner)) {}
    Statuses verifyCertificate(const X509_STORE_CTX* ctx) override {
        ++calls;
        return inner_->verifyCertificate(ctx);
    }
    Statuses verifyCertificate(const X509* cert) override {
        ++calls;
        return inner_->verifyCertificate(cert);
    }
    Statuses verifyForHostNames(const X509_STORE_CTX* ctx, const std::vector<std::string>& names) override {
        ++calls;
        return inner_->verifyForHostNames(ctx, names);
    }
    Statuses verifyForHostNames(const X509* cert, const std::vector<std::string>& names) override {
        ++calls;
        return inner_->verifyForHostNames(cert, names);
    }
    std::atomic<int> calls{0};

  private:
    std::shared_ptr<PlatformCertVerifier> inner_;
};

class ResultCollector : public CertificateVerificationListener {
  public:
    struct Entry {
        CertResult result;
        std::string threadName;
    };
    void onVerificationResult(unsigned int requestId, CertResult result) override {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        std::lock_guard<std::mutex> lock(mutex_);
        results_[requestId] = Entry{std::move(result), name};
    }
    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return results_.size();
    }
    Entry get(unsigned int id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return results_.at(id);
    }

  private:
    mutable std::mutex mutex_;
    std::map<unsigned int, Entry> results_;
};

}  // namespace

class CertVerifierTest : public CleanCertStateTest {
  protected:
    void SetUp() override {
        CleanCertStateTest::SetUp();
        root_ = TestPki::makeRoot("Verifier Test Root");
        inter_ = TestPki::makeIntermediate("Verifier Test Intermediate", root_);
        trustFile_ = pki_.writeCertificates("trust.pem", {root_.x509()});
        platform_ = std::make_shared<CountingPlatformVerifier>(
            std::make_shared<OpenSslPlatformCertVerifier>(PlatformTrustSettings{trustFile_, {}, false}));
        verifier_ = std::make_shared<CertVerifier>(platform_);
    }
    void TearDown() override {
        oxl::common::FipsUtils::setFipsEnabledOverride(std::nullopt);
        CleanCertStateTest::TearDown();
    }

    TestCert leaf(CertSpec spec) const { return TestPki::makeCert(spec, &inter_); }
    static CertSpec serverSpec(const std::string& host) {
        return TestPki::leafSpec(host, {KeyType::EC, 256});
    }

    TestPki pki_;
    TestCert root_;
    TestCert inter_;
    std::string trustFile_;
    std::shared_ptr<CountingPlatformVerifier> platform_;
    std::shared_ptr<CertVerifier> verifier_;
};

TEST_F(CertVerifierTest, ChainVerificationOutcomes) {
    TestCert otherRoot = TestPki::makeRoot("Unknown Root");
    TestCert otherInter = TestPki::makeIntermediate("Unknown Intermediate", otherRoot);
    struct Case {
        const char* name;
        std::function<CertSpec()> spec;
        bool fromUnknownRoot;
        bool sendIntermediate;
        std::shared_ptr<Policy> policy;
        Refs references;
        CertResult::Result result;
        Statuses reasons;
        CertIdentifierStatus::Status idStatus;
        std::string matched;
        CertKeyUsageResult::Result keyUsage;
    };
    auto spec = [](std::function<void(CertSpec&)> change) {
        return [change] {
            CertSpec s = serverSpec("host.example.com");
            change(s);
            return s;
        };
    };
    auto plain = spec([](CertSpec&) {});
    auto expired = spec([](CertSpec& s) {
        s.notBeforeOffsetSeconds = -10 * 24 * 3600;
        s.notAfterOffsetSeconds = -24 * 3600;
    });
    using KUR = CertKeyUsageResult;
    using IS = CertIdentifierStatus;
    const Case cases[] = {
        {"good chain",
         plain,
         false,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::SUCCESS,
         {S::VALID},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"second reference matches",
         plain,
         false,
         true,
         nullptr,
         {"a.example.com", " host.example.com\t"},
         CertResult::SUCCESS,
         {S::VALID},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"wrong host",
         plain,
         false,
         true,
         nullptr,
         {"other.example.com"},
         CertResult::FAILURE,
         {S::CN_NO_MATCH},
         IS::NO_MATCH_FOUND,
         "",
         KUR::SUCCESS},
        {"wildcard is one label only",
         spec([](CertSpec& s) { s.dnsNames = {"*.example.com"}; }),
         false,
         true,
         nullptr,
         {"a.b.example.com"},
         CertResult::FAILURE,
         {S::CN_NO_MATCH},
         IS::NO_MATCH_FOUND,
         "",
         KUR::SUCCESS},
        {"expired leaf",
         expired,
         false,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::FAILURE,
         {S::EXPIRED},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"expired leaf, silently succeed",
         expired,
         false,
         true,
         InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY,
         {"host.example.com"},
         CertResult::SUCCESS,
         {S::EXPIRED},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"expired and wrong host, silently fail",
         expired,
         false,
         true,
         InvalidCertManagementPolicy::SILENTLY_FAIL_POLICY,
         {"x.example.com"},
         CertResult::FAILURE,
         {S::EXPIRED, S::CN_NO_MATCH},
         IS::NO_MATCH_FOUND,
         "",
         KUR::SUCCESS},
        {"missing intermediate",
         plain,
         false,
         false,
         nullptr,
         {"host.example.com"},
         CertResult::FAILURE,
         {S::IS_PARTIAL_CHAIN},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"untrusted root",
         plain,
         true,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::FAILURE,
         {S::UNTRUSTED_ROOT},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"keyEncipherment alone is enough",
         spec([](CertSpec& s) { s.keyUsage = KU_KEY_ENCIPHERMENT; }),
         false,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::SUCCESS,
         {S::VALID},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        // Strict X.509 rules also refuse keyCertSign on a certificate that is not a CA.
        {"keyCertSign only",
         spec([](CertSpec& s) { s.keyUsage = KU_KEY_CERT_SIGN; }),
         false,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::FAILURE,
         {S::BASIC_CONSTRAINTS, S::WRONG_USAGE},
         IS::SUCCESS,
         "host.example.com",
         KUR::NO_MATCHING_BASIC_KEY_USAGE_FOUND},
        {"clientAuth only",
         spec([](CertSpec& s) { s.extendedKeyUsage = {NID_client_auth}; }),
         false,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::FAILURE,
         {S::WRONG_USAGE},
         IS::SUCCESS,
         "host.example.com",
         KUR::NO_MATCHING_EXTENDED_KEY_USAGE_FOUND},
        {"clientAuth with anyExtendedKeyUsage",
         spec([](CertSpec& s) {
             s.extendedKeyUsage = {NID_client_auth, NID_anyExtendedKeyUsage};
         }),
         false,
         true,
         nullptr,
         {"host.example.com"},
         CertResult::SUCCESS,
         {S::VALID},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
        {"wrong usage ignored by policy",
         spec([](CertSpec& s) { s.keyUsage = KU_DATA_ENCIPHERMENT; }),
         false,
         true,
         IgnoreInvalidCertConditionPolicy::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY,
         {"host.example.com"},
         CertResult::SUCCESS,
         {},
         IS::SUCCESS,
         "host.example.com",
         KUR::SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto v = std::make_shared<CertVerifier>(platform_);
        if (c.policy) {
            v->addPolicy(c.policy);
        }
        const TestCert& issuer = c.fromUnknownRoot ? otherInter : inter_;
        TestCert cert = TestPki::makeCert(c.spec(), &issuer);
        std::vector<const X509*> sent;
        if (c.sendIntermediate) {
            sent.push_back(issuer.x509());
        }
        if (c.fromUnknownRoot) {
            sent.push_back(otherRoot.x509());
        }
        VerificationContext ctx(cert.x509(), sent);
        CertResult r = v->verifyCertificate(ctx.get(), c.references);
        EXPECT_EQ(r.result, c.result) << r;
        EXPECT_EQ(r.invalidReasons, c.reasons) << r;
        EXPECT_EQ(r.identifierStatus.status, c.idStatus) << r;
        EXPECT_EQ(r.identifierStatus.matchedIdentifier, c.matched) << r;
        EXPECT_EQ(r.keyUsageResult, c.keyUsage) << r;
    }
}

TEST_F(CertVerifierTest, MandatoryIdentifierMustMatchToo) {
    CertSpec spec = serverSpec("host.example.com");
    spec.dnsNames = {"host.example.com", "alias.example.com"};
    TestCert cert = leaf(spec);
    VerificationContext ctx(cert.x509(), {inter_.x509()});
    struct Case {
        const char* name;
        std::string mandatory;
        Refs references;
        CertResult::Result result;
        CertIdentifierStatus expected;
    };
    const Case cases[] = {
        {"both match",
         "host.example.com",
         {"alias.example.com"},
         CertResult::SUCCESS,
         {CertIdentifierStatus::SUCCESS, "host.example.com"}},
        {"mandatory fails",
         "nothere.example.com",
         {"alias.example.com"},
         CertResult::FAILURE,
         {CertIdentifierStatus::NO_MATCH_FOUND, ""}},
        // The mandatory identifier's own match is reported even though the references failed.
        {"references fail",
         "host.example.com",
         {"nothere.example.com"},
         CertResult::FAILURE,
         {CertIdentifierStatus::SUCCESS, "host.example.com"}},
    };
    for (const auto& c : cases) {
        CertResult r = verifier_->verifyCertificate(ctx.get(), c.mandatory, c.references, "Display");
        EXPECT_EQ(r.result, c.result) << c.name << " " << r;
        EXPECT_EQ(r.identifierStatus, c.expected) << c.name << " " << r;
        if (c.result == CertResult::FAILURE) {
            EXPECT_EQ(r.invalidReasons, Statuses{S::CN_NO_MATCH}) << c.name;
        }
    }
}

TEST_F(CertVerifierTest, InvalidInputIsAnInternalErrorBeforeAnyPlatformCall) {
    TestCert cert = leaf(serverSpec("host.example.com"));
    CertSpec noIdentity = serverSpec("");
    noIdentity.dnsNames.clear();
    TestCert anonymous = leaf(noIdentity);
    VerificationContext ctx(cert.x509(), {inter_.x509()});
    const Statuses internal{S::INTERNAL_ERROR};
    oxl::test::LogCapture logs;

    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), Refs{" ", "\t\n"}).invalidReasons, internal);
    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), Refs{}).invalidReasons, internal);
    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), "", Refs{"host.example.com"}).invalidReasons, internal);
    EXPECT_EQ(
        verifier_->verifyCertificate(static_cast<const X509_STORE_CTX*>(nullptr), "host.example.com").result,
        CertResult::FAILURE);
    EXPECT_EQ(
        verifier_->verifyCertificate(static_cast<const X509*>(nullptr), "host.example.com").invalidReasons,
        internal);
    EXPECT_EQ(verifier_->verifyCertificate(anonymous.x509(), "host.example.com").invalidReasons, internal);
    EXPECT_EQ(platform_->calls.load(), 0);
    EXPECT_TRUE(logs.contains("Received an invalid identity"));
    EXPECT_TRUE(logs.contains("Received an invalid certContainer"));
    EXPECT_TRUE(logs.contains("Parsing of alternative names failed"));

    CertResult instant;
    unsigned int id = 99;
    EXPECT_FALSE(verifier_->verifyCertificateAsync(ctx.get(), "  ", nullptr, instant, id));
    EXPECT_FALSE(verifier_->verifyCertificateAsync(nullptr, "host.example.com", nullptr, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(platform_->calls.load(), 0);
}

TEST_F(CertVerifierTest, FipsModeRejectsWeakKeysAndKeepsThemRejected) {
    CertSpec spec = serverSpec("host.example.com");
    spec.key = KeySpec{KeyType::RSA, 1024};
    TestCert weak = leaf(spec);
    VerificationContext ctx(weak.x509(), {inter_.x509()});

    oxl::common::FipsUtils::setFipsEnabledOverride(false);
    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), "host.example.com").result, CertResult::SUCCESS);

    oxl::common::FipsUtils::setFipsEnabledOverride(true);
    CertResult r = verifier_->verifyCertificate(ctx.get(), "host.example.com");
    EXPECT_EQ(r.result, CertResult::FAILURE);
    EXPECT_EQ(r.invalidReasons, Statuses{S::WEAK_KEY});
    EXPECT_EQ(r.keyStrengthResult, CertKeyStrengthResult::FAILURE);

    // In FIPS mode an ignore policy loses its weak-key and wrong-usage flags but keeps the rest.
    using P = IgnoreInvalidCertConditionPolicy;
    auto everything = std::make_shared<P>("everything", true, true, true, true, true);
    verifier_->addPolicy(everything);
    auto stored = std::dynamic_pointer_cast<P>(
        verifier_->getPolicy(Policy::PolicyNature::IGNORE_INVALID_CERT_CONDITION));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->ignoredStatuses(),
              (Statuses{S::NO_REVOCATION_CHECK, S::REVOCATION_OFFLINE, S::REVOCATION_STATUS_UNKNOWN}));
    oxl::common::FipsUtils::setFipsEnabledOverride(std::nullopt);
}

TEST_F(CertVerifierTest, FipsModeNeverIgnoresWeakKeysOrWrongUsage) {
    using P = IgnoreInvalidCertConditionPolicy;
    CertSpec weakSpec = serverSpec("host.example.com");
    weakSpec.key = KeySpec{KeyType::RSA, 1024};
    TestCert weak = leaf(weakSpec);
    CertSpec usageSpec = serverSpec("host.example.com");
    usageSpec.keyUsage = KU_DATA_ENCIPHERMENT;
    TestCert wrongUsage = leaf(usageSpec);
    struct Case {
        const char* name;
        std::shared_ptr<P> policy;
        bool fipsWhenAdded;
        bool fipsWhenVerifying;
        const TestCert* cert;
        Statuses expected;  // empty: accepted, the policy removed every reason
    };
    const Case cases[] = {
        {"exactly the weak-key policy", P::IGNORE_WEAK_KEY_ERRORS_POLICY, true, true, &weak, {S::WEAK_KEY}},
        {"exactly the wrong-usage policy",
         P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY,
         true,
         true,
         &wrongUsage,
         {S::WRONG_USAGE}},
        {"added before FIPS mode began", P::IGNORE_WEAK_KEY_ERRORS_POLICY, false, true, &weak, {S::WEAK_KEY}},
        {"wrong usage, added before FIPS mode began",
         P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY,
         false,
         true,
         &wrongUsage,
         {S::WRONG_USAGE}},
        {"outside FIPS mode the policy works",
         P::IGNORE_WRONG_KEY_USAGE_ERRORS_POLICY,
         false,
         false,
         &wrongUsage,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto verifier = std::make_shared<CertVerifier>(platform_);
        oxl::common::FipsUtils::setFipsEnabledOverride(c.fipsWhenAdded);
        verifier->addPolicy(c.policy);
        oxl::common::FipsUtils::setFipsEnabledOverride(c.fipsWhenVerifying);
        VerificationContext ctx(c.cert->x509(), {inter_.x509()});
        CertResult r = verifier->verifyCertificate(ctx.get(), "host.example.com");
        EXPECT_EQ(r.invalidReasons, c.expected) << r;
        EXPECT_EQ(r.result, c.expected.empty() ? CertResult::SUCCESS : CertResult::FAILURE) << r;
    }
    oxl::common::FipsUtils::setFipsEnabledOverride(std::nullopt);
}

TEST_F(CertVerifierTest, RevocationFromCrls) {
    CertSpec spec = serverSpec("host.example.com");
    TestCert revoked = leaf(spec);
    TestCert fine = leaf(spec);
    auto revokingCrl = TestPki::makeCrl(inter_, {revoked.x509()});
    auto staleCrl = TestPki::makeCrl(inter_, {}, -600);
    auto withCrl = [&](const std::string& file) {
        return std::make_shared<CertVerifier>(
            std::make_shared<OpenSslPlatformCertVerifier>(PlatformTrustSettings{
                trustFile_,
                {pki_.writeCrl(file, file == "stale.pem" ? staleCrl.get() : revokingCrl.get())},
                false}));
    };
    auto revoking = withCrl("revoking.pem");
    auto stale = withCrl("stale.pem");

    VerificationContext revokedCtx(revoked.x509(), {inter_.x509()});
    VerificationContext fineCtx(fine.x509(), {inter_.x509()});
    revoking->addPolicy(InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY);
    CertResult r = revoking->verifyCertificate(revokedCtx.get(), "host.example.com");
    EXPECT_EQ(r.result, CertResult::FAILURE) << r;
    EXPECT_EQ(r.invalidReasons, Statuses{S::INVALID_REVOKED});
    EXPECT_EQ(revoking->verifyCertificate(fineCtx.get(), "host.example.com").result, CertResult::SUCCESS);

    r = stale->verifyCertificate(fineCtx.get(), "host.example.com");
    EXPECT_EQ(r.invalidReasons, Statuses{S::REVOCATION_OFFLINE}) << r;
    stale->addPolicy(IgnoreInvalidCertConditionPolicy::IGNORE_REVOCATION_INFO_UNAVAILABLE_ERRORS_POLICY);
    r = stale->verifyCertificate(fineCtx.get(), "host.example.com");
    EXPECT_EQ(r.result, CertResult::SUCCESS) << r;
    EXPECT_TRUE(r.invalidReasons.empty());
}

TEST_F(CertVerifierTest, DiagnosticsRecordEveryVerification) {
    auto sink = std::make_shared<OXLDiagnostics::MemoryDiagnosticsSink>();
    OXLDiagnostics::DiagnosticsWrapper::setSink(sink);
    TestCert cert = leaf(serverSpec("host.example.com"));
    VerificationContext ctx(cert.x509(), {inter_.x509()});
    verifier_->verifyCertificate(ctx.get(), Refs{"a.example.com", "host.example.com"}, "Web server");
    verifier_->verifyCertificate(ctx.get(), Refs{"other.example.com"}, "Web server");
    OXLDiagnostics::DiagnosticsWrapper::setSink(nullptr);
    auto records = sink->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].recordType, 0);
    EXPECT_EQ(records[0].section, 6);
    EXPECT_EQ(records[0].name, "host.example.com");
    EXPECT_EQ(records[0].value, "VALID");
    EXPECT_EQ(records[1].recordType, 1);
    EXPECT_EQ(records[1].name, "Web server");
    EXPECT_EQ(records[1].value, "[CN_NO_MATCH]");
}

TEST_F(CertVerifierTest, UserInteractionInTheSynchronousPath) {
    CertSpec spec = serverSpec("host.example.com");
    TestCert cert = TestPki::makeCert(spec, &root_);  // issued straight by the root: chain is complete
    TestCert stranger = TestPki::makeCert(spec);      // self-signed
    VerificationContext ctx(stranger.x509(), {});
    verifier_->addPolicy(prompting());

    // No listener: the policy cannot be enforced, and its hard failure class may not be ignored by default.
    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), "host.example.com").result,
              CertResult::POLICY_NOT_ENFORCED_ERROR);
    verifier_->addPolicy(oxl::common::FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), "host.example.com").result, CertResult::SUCCESS);
    verifier_->removePolicy(Policy::PolicyNature::FAILURE_MANAGEMENT);

    auto listener = registerListener(RecordingListener::Mode::REJECT);
    CertResult r = verifier_->verifyCertificate(ctx.get(), "host.example.com", "My server");
    EXPECT_EQ(r.result, CertResult::FAILURE);
    ASSERT_EQ(listener->requestCount(), 1u);
    EXPECT_EQ(listener->requests()[0].texts.identifierToDisplay, "My server");
    EXPECT_EQ(listener->requests()[0].statuses, Statuses{S::UNTRUSTED_ROOT});
    // The rejection is reported to the application as well.
    ASSERT_EQ(listener->rejections().size(), 1u);

    // Asked once: the rejection is remembered for the same reasons.
    EXPECT_EQ(verifier_->verifyCertificate(ctx.get(), "host.example.com").result, CertResult::FAILURE);
    EXPECT_EQ(listener->requestCount(), 1u);

    // An accepted certificate is trusted for the session even though the chain is still unknown.
    CertCacheInterface::clearInvalidCertificateCache();
    registerListener(RecordingListener::Mode::ACCEPT);
    r = verifier_->verifyCertificate(ctx.get(), "host.example.com");
    EXPECT_EQ(r.result, CertResult::SUCCESS) << r;
    EXPECT_EQ(r.identifierStatus, (CertIdentifierStatus{CertIdentifierStatus::SUCCESS, "host.example.com"}));
    EXPECT_TRUE(CertificateValidityCache::verifyAcceptedCertificate(stranger.x509()));
    EXPECT_FALSE(CertificateValidityCache::verifyAcceptedCertificate(cert.x509()));
}

TEST_F(CertVerifierTest, AsynchronousVerification) {
    TestCert good = leaf(serverSpec("host.example.com"));
    TestCert stranger = TestPki::makeCert(serverSpec("host.example.com"));
    VerificationContext goodCtx(good.x509(), {inter_.x509()});
    VerificationContext strangerCtx(stranger.x509(), {});
    auto results = std::make_shared<ResultCollector>();
    CertResult instant;
    unsigned int id = 99;

    // Final at once: a valid certificate, and a failure without any management policy.
    ASSERT_TRUE(verifier_->verifyCertificateAsync(goodCtx.get(), "host.example.com", results, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::SUCCESS);
    ASSERT_TRUE(
        verifier_->verifyCertificateAsync(strangerCtx.get(), "host.example.com", results, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::FAILURE);
    EXPECT_EQ(instant.invalidReasons, Statuses{S::UNTRUSTED_ROOT});

    // A policy that needs no answer is applied at once.
    auto silent = std::make_shared<CertVerifier>(platform_);
    silent->addPolicy(InvalidCertManagementPolicy::SILENTLY_SUCCEED_POLICY);
    ASSERT_TRUE(silent->verifyCertificateAsync(strangerCtx.get(), "host.example.com", results, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::SUCCESS);

    // A prompting policy queues the question; three requests for one certificate get consecutive ids and
    // one prompt, and every listener call comes from the pool.
    auto listener = registerListener();
    verifier_->addPolicy(prompting());
    unsigned int ids[3] = {};
    for (auto& requestId : ids) {
        ASSERT_TRUE(verifier_->verifyCertificateAsync(strangerCtx.get(), "host.example.com", "Display",
                                                      results, instant, requestId));
        EXPECT_EQ(instant.result, CertResult::FAILURE);
    }
    EXPECT_GT(ids[0], 0u);
    EXPECT_EQ(ids[1], ids[0] + 1);
    EXPECT_EQ(ids[2], ids[1] + 1);
    ASSERT_TRUE(waitFor([&] { return listener->requestCount() == 1; }));
    EXPECT_EQ(results->size(), 0u);
    InvalidCertNotificationManager::getInstance()->acceptInvalidCert(
        listener->requests()[0].texts.fingerprint,
        {InvalidCertNotificationManager::AcceptanceOptions::ACCEPT_FOR_SESSION});
    ASSERT_TRUE(waitFor([&] { return results->size() == 3; }));
    for (auto requestId : ids) {
        auto entry = results->get(requestId);
        EXPECT_EQ(entry.result.result, CertResult::SUCCESS) << requestId;
        EXPECT_EQ(entry.threadName, "AsyncCertValid");
    }
    EXPECT_EQ(listener->requestCount(), 1u);

    // Now cached: answered at once, marked as coming from the cache.
    ASSERT_TRUE(
        verifier_->verifyCertificateAsync(strangerCtx.get(), "host.example.com", results, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::SUCCESS);
    EXPECT_TRUE(instant.fingerprintMarkedAsValid);
    EXPECT_EQ(instant.identifierStatus,
              (CertIdentifierStatus{CertIdentifierStatus::SUCCESS, "host.example.com"}));

    // A cached rejection is final at once too, and reported to the application.
    CertCacheInterface::clearInvalidCertificateCache();
    CertificateValidityCache::addRejectedInvalidCertificate(stranger.x509(), S::UNTRUSTED_ROOT);
    ASSERT_TRUE(
        verifier_->verifyCertificateAsync(strangerCtx.get(), "host.example.com", results, instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::FAILURE);
    EXPECT_EQ(listener->rejections().size(), 1u);
    EXPECT_EQ(listener->requestCount(), 1u);
}

TEST_F(CertVerifierTest, HttpAdapterAnswersTrueOnlyForSuccess) {
    TestCert cert = leaf(serverSpec("host.example.com"));
    VerificationContext ctx(cert.x509(), {inter_.x509()});
    auto alone = TestPki::makeCert(serverSpec("host.example.com"), &root_);
    oxl::netutils::adapters::HttpCertAdapter adapter(verifier_);
    oxl::http::CertVerifier& http = adapter;
    const Refs good{"host.example.com"};
    const Refs bad{"bad.example.com"};
    oxl::test::LogCapture logs;
    EXPECT_TRUE(http.verifyCertificate(ctx.get(), "host.example.com", good, "Display"));
    EXPECT_FALSE(http.verifyCertificate(ctx.get(), "bad.example.com", good, "Display"));
    EXPECT_TRUE(http.verifyCertificate(ctx.get(), good, "Display"));
    EXPECT_FALSE(http.verifyCertificate(ctx.get(), bad));
    EXPECT_TRUE(http.verifyCertificate(ctx.get(), std::string("host.example.com")));
    EXPECT_TRUE(http.verifyCertificate(alone.x509(), good));
    EXPECT_FALSE(
        http.verifyCertificate(alone.x509(), std::string("bad.example.com"), std::string("Display")));
    EXPECT_EQ(logs.count("verifyCertificate- Verification Result: "), 1u);
    EXPECT_EQ(logs.count("Certificate Verification Result: "), 6u);

    oxl::netutils::adapters::HttpCertAdapter empty(nullptr);
    EXPECT_FALSE(empty.verifyCertificate(ctx.get(), good));
}

TEST(CertVerifierFactoryTest, CreatesWorkingVerifiersAndWritesTheBannerOnce) {
    oxl::test::LogCapture logs;
    auto a = CertVerifierFactory::createCertVerifier();
    auto b = CertVerifierFactory::createXmppCertVerifier();
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_LE(logs.count("OXL NetUtils"), 1u);
    // A self-signed certificate is not trusted by the system store.
    TestCert self = TestPki::makeCert([] {
        CertSpec s;
        s.commonName = "self.example.com";
        s.key = KeySpec{KeyType::EC, 256};
        return s;
    }());
    CertResult r = a->verifyCertificate(self.x509(), "self.example.com");
    EXPECT_EQ(r.result, CertResult::FAILURE);
    EXPECT_EQ(r.identifierStatus.status, CertIdentifierStatus::SUCCESS);
}

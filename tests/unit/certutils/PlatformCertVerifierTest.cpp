#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "cert/platform/ChainPolicyChecks.h"
#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"
#include "support/LogCapture.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestCert;
using oxl::test::TestPki;
using oxl::test::VerificationContext;
using Statuses = std::set<CertStatus::Status>;

namespace {

KeySpec ec() {
    return KeySpec{KeyType::EC, 256};
}

CertSpec leafSpec(const std::string& host) {
    CertSpec spec;
    spec.commonName = host;
    spec.dnsNames = {host};
    spec.key = ec();
    return spec;
}

// Sets an environment variable for the scope and restores the previous value.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class PlatformCertVerifierTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        pki_ = new TestPki();
        root_ = new TestCert(TestPki::makeRoot("platform root", -1, ec()));
        inter_ = new TestCert(TestPki::makeIntermediate("platform intermediate", *root_, -1, ec()));
        leaf_ = new TestCert(TestPki::makeCert(leafSpec("good.example.com"), inter_));
        trustFile_ = pki_->writeCertificates("trust.pem", {root_->x509()});
    }
    static void TearDownTestSuite() {
        delete leaf_;
        delete inter_;
        delete root_;
        delete pki_;
    }

    static Statuses verifyChain(PlatformCertVerifier& verifier, const TestCert& leaf,
                                const std::vector<const X509*>& sent) {
        VerificationContext ctx(leaf.x509(), sent);
        return verifier.verifyCertificate(static_cast<const X509_STORE_CTX*>(ctx.get()));
    }

    OpenSslPlatformCertVerifier trusting() {
        return OpenSslPlatformCertVerifier(PlatformTrustSettings{trustFile_});
    }

    static TestPki* pki_;
    static TestCert* root_;
    static TestCert* inter_;
    static TestCert* leaf_;
    static std::string trustFile_;
};

TestPki* PlatformCertVerifierTest::pki_ = nullptr;
TestCert* PlatformCertVerifierTest::root_ = nullptr;
TestCert* PlatformCertVerifierTest::inter_ = nullptr;
TestCert* PlatformCertVerifierTest::leaf_ = nullptr;
std::string PlatformCertVerifierTest::trustFile_;

}  // namespace

TEST_F(PlatformCertVerifierTest, ChainOutcomes) {
    auto otherRoot = TestPki::makeRoot("unknown root", -1, ec());
    auto otherInter = TestPki::makeIntermediate("unknown intermediate", otherRoot, -1, ec());

    CertSpec expiredSpec = leafSpec("expired.example.com");
    expiredSpec.notBeforeOffsetSeconds = -10 * 86400;
    expiredSpec.notAfterOffsetSeconds = -86400;
    auto expired = TestPki::makeCert(expiredSpec, inter_);

    CertSpec futureSpec = leafSpec("future.example.com");
    futureSpec.notBeforeOffsetSeconds = 86400;
    futureSpec.notAfterOffsetSeconds = 10 * 86400;
    auto future = TestPki::makeCert(futureSpec, inter_);

    auto underOtherRoot = TestPki::makeCert(leafSpec("other.example.com"), &otherInter);
    auto expiredUnderOtherRoot = TestPki::makeCert(expiredSpec, &otherInter);
    auto selfSigned = TestPki::makeCert(leafSpec("self.example.com"));
    auto broken = TestPki::withBrokenSignature(leaf_->x509());

    // A certificate that is not a CA used as one.
    auto leafAsCa = TestPki::makeCert(leafSpec("leaf-as-ca.example.com"), inter_);
    auto underLeaf = TestPki::makeCert(leafSpec("under-leaf.example.com"), &leafAsCa);

    // Path length 0 allows no further intermediate below.
    auto limited = TestPki::makeIntermediate("limited", *root_, 0, ec());
    auto tooDeep = TestPki::makeIntermediate("too deep", limited, -1, ec());
    auto belowTooDeep = TestPki::makeCert(leafSpec("deep.example.com"), &tooDeep);
    auto belowLimited = TestPki::makeCert(leafSpec("shallow.example.com"), &limited);

    auto directUnderRoot = TestPki::makeCert(leafSpec("direct.example.com"), root_);

    struct Case {
        const char* name;
        const X509* leaf;
        std::vector<const X509*> sent;
        Statuses expected;
        bool exact;  // false: the expected statuses must be among those reported
    };
    const Case cases[] = {
        {"good chain", leaf_->x509(), {inter_->x509()}, {CertStatus::VALID}, true},
        {"leaf signed by the root", directUnderRoot.x509(), {}, {CertStatus::VALID}, true},
        {"expired", expired.x509(), {inter_->x509()}, {CertStatus::EXPIRED}, true},
        {"not yet valid", future.x509(), {inter_->x509()}, {CertStatus::NO_TIME_VALID}, true},
        {"root not trusted",
         underOtherRoot.x509(),
         {otherInter.x509(), otherRoot.x509()},
         {CertStatus::UNTRUSTED_ROOT},
         true},
        {"issuer unknown", underOtherRoot.x509(), {otherInter.x509()}, {CertStatus::IS_PARTIAL_CHAIN}, true},
        {"self-signed leaf", selfSigned.x509(), {}, {CertStatus::UNTRUSTED_ROOT}, true},
        {"missing intermediate", leaf_->x509(), {}, {CertStatus::IS_PARTIAL_CHAIN}, true},
        {"bad signature", broken.get(), {inter_->x509()}, {CertStatus::INVALID_SIGNATURE}, true},
        {"leaf used as CA",
         underLeaf.x509(),
         {leafAsCa.x509(), inter_->x509()},
         {CertStatus::BASIC_CONSTRAINTS},
         false},
        {"path length exceeded",
         belowTooDeep.x509(),
         {tooDeep.x509(), limited.x509()},
         {CertStatus::BASIC_CONSTRAINTS},
         true},
        {"path length respected", belowLimited.x509(), {limited.x509()}, {CertStatus::VALID}, true},
        // Every reason of the chain is reported, not only the first.
        {"expired under an untrusted root",
         expiredUnderOtherRoot.x509(),
         {otherInter.x509(), otherRoot.x509()},
         {CertStatus::EXPIRED, CertStatus::UNTRUSTED_ROOT},
         true},
    };
    auto verifier = trusting();
    for (const auto& c : cases) {
        VerificationContext ctx(c.leaf, c.sent);
        const Statuses got = verifier.verifyCertificate(static_cast<const X509_STORE_CTX*>(ctx.get()));
        if (c.exact) {
            EXPECT_EQ(got, c.expected) << c.name;
        } else {
            for (auto s : c.expected) {
                EXPECT_EQ(got.count(s), 1u) << c.name << ": missing " << s;
            }
            EXPECT_EQ(got.count(CertStatus::VALID), 0u) << c.name;
        }
    }
}

TEST_F(PlatformCertVerifierTest, LeafFormUsesNoUntrustedCertificates) {
    auto verifier = trusting();
    auto direct = TestPki::makeCert(leafSpec("direct.example.com"), root_);
    EXPECT_EQ(verifier.verifyCertificate(static_cast<const X509*>(direct.x509())),
              Statuses{CertStatus::VALID});
    EXPECT_EQ(verifier.verifyCertificate(static_cast<const X509*>(leaf_->x509())),
              Statuses{CertStatus::IS_PARTIAL_CHAIN});
    // The context form with the intermediate sent by the server succeeds for the same leaf.
    EXPECT_EQ(verifyChain(verifier, *leaf_, {inter_->x509()}), Statuses{CertStatus::VALID});
}

TEST_F(PlatformCertVerifierTest, DefaultStoreHonoursSslCertFile) {
    const std::string emptyDir = pki_->dir() + "/empty-certs";
    std::filesystem::create_directory(emptyDir);
    {
        ScopedEnv file("SSL_CERT_FILE", trustFile_);
        ScopedEnv dir("SSL_CERT_DIR", emptyDir);
        OpenSslPlatformCertVerifier verifier;
        EXPECT_EQ(verifyChain(verifier, *leaf_, {inter_->x509()}), Statuses{CertStatus::VALID});
    }
    {
        // Without our root in the default store the same chain is not trusted.
        const std::string otherTrust =
            pki_->writeCertificates("other-trust.pem", {TestPki::makeRoot("unrelated", -1, ec()).x509()});
        ScopedEnv file("SSL_CERT_FILE", otherTrust);
        ScopedEnv dir("SSL_CERT_DIR", emptyDir);
        OpenSslPlatformCertVerifier verifier;
        EXPECT_EQ(verifyChain(verifier, *leaf_, {inter_->x509()}), Statuses{CertStatus::IS_PARTIAL_CHAIN});
    }
}

TEST_F(PlatformCertVerifierTest, ProcessWideSettingsReachCreateInstance) {
    const auto saved = PlatformCertVerifier::getDefaultTrustSettings();
    PlatformCertVerifier::setTrustFile(trustFile_);
    auto verifier = PlatformCertVerifier::createInstance();
    PlatformCertVerifier::setDefaultTrustSettings(saved);
    ASSERT_TRUE(verifier);
    EXPECT_EQ(verifyChain(*verifier, *leaf_, {inter_->x509()}), Statuses{CertStatus::VALID});
    // Settings changed later do not affect a verifier already made.
    EXPECT_EQ(PlatformCertVerifier::getDefaultTrustSettings().trustFile, saved.trustFile);
    EXPECT_EQ(verifyChain(*verifier, *leaf_, {inter_->x509()}), Statuses{CertStatus::VALID});
}

TEST_F(PlatformCertVerifierTest, RevocationWithSuppliedCrls) {
    auto revoked = TestPki::makeCert(leafSpec("revoked.example.com"), inter_);
    auto interCrl = pki_->writeCrl("inter.crl", TestPki::makeCrl(*inter_, {revoked.x509()}).get());
    auto rootCrl = pki_->writeCrl("root.crl", TestPki::makeCrl(*root_, {}).get());
    auto staleCrl = pki_->writeCrl("stale.crl", TestPki::makeCrl(*inter_, {}, -60).get());

    struct Case {
        const char* name;
        std::vector<std::string> crls;
        bool wholeChain;
        const TestCert* leaf;
        Statuses expected;
    };
    const Case cases[] = {
        {"no CRLs: revocation not checked", {}, false, &revoked, {CertStatus::VALID}},
        {"revoked leaf", {interCrl}, false, &revoked, {CertStatus::INVALID_REVOKED}},
        {"leaf not on the list", {interCrl}, false, leaf_, {CertStatus::VALID}},
        {"whole chain with every CRL", {interCrl, rootCrl}, true, leaf_, {CertStatus::VALID}},
        {"whole chain missing the root's CRL",
         {interCrl},
         true,
         leaf_,
         {CertStatus::REVOCATION_STATUS_UNKNOWN}},
        {"stale CRL", {staleCrl}, false, leaf_, {CertStatus::REVOCATION_OFFLINE}},
    };
    for (const auto& c : cases) {
        OpenSslPlatformCertVerifier verifier(PlatformTrustSettings{trustFile_, c.crls, c.wholeChain});
        EXPECT_EQ(verifyChain(verifier, *c.leaf, {inter_->x509()}), c.expected) << c.name;
    }
}

TEST_F(PlatformCertVerifierTest, StoreThatCannotBeBuiltIsAnInternalError) {
    oxl::test::LogCapture log;
    const std::string notPem = pki_->writeText("not-a-crl.pem", "garbage\n");
    const PlatformTrustSettings broken[] = {
        {pki_->dir() + "/missing.pem", {}, false},
        {notPem, {}, false},
        {trustFile_, {pki_->dir() + "/missing.crl"}, false},
        {trustFile_, {notPem}, false},
    };
    for (const auto& settings : broken) {
        OpenSslPlatformCertVerifier verifier(settings);
        EXPECT_EQ(verifyChain(verifier, *leaf_, {inter_->x509()}), Statuses{CertStatus::INTERNAL_ERROR})
            << settings.trustFile << " " << (settings.crlFiles.empty() ? "" : settings.crlFiles[0]);
    }
    EXPECT_TRUE(log.contains("Failed to load the certificate chain", "oxl.cert.win32"));

    auto verifier = trusting();
    EXPECT_EQ(verifier.verifyCertificate(static_cast<const X509*>(nullptr)),
              Statuses{CertStatus::INTERNAL_ERROR});
    EXPECT_EQ(verifier.verifyCertificate(static_cast<const X509_STORE_CTX*>(nullptr)),
              Statuses{CertStatus::INTERNAL_ERROR});
    X509_STORE_CTX* empty = X509_STORE_CTX_new();
    EXPECT_EQ(verifier.verifyCertificate(static_cast<const X509_STORE_CTX*>(empty)),
              Statuses{CertStatus::INTERNAL_ERROR});
    X509_STORE_CTX_free(empty);
}

TEST_F(PlatformCertVerifierTest, CallerErrorQueueIsLeftAlone) {
    auto verifier = OpenSslPlatformCertVerifier(PlatformTrustSettings{pki_->dir() + "/missing.pem"});
    ERR_clear_error();
    ERR_raise(ERR_LIB_SSL, 42);
    const unsigned long before = ERR_peek_last_error();
    EXPECT_EQ(verifyChain(verifier, *leaf_, {}), Statuses{CertStatus::INTERNAL_ERROR});
    auto good = trusting();
    EXPECT_EQ(verifyChain(good, *leaf_, {}), Statuses{CertStatus::IS_PARTIAL_CHAIN});
    EXPECT_EQ(ERR_peek_last_error(), before);
    EXPECT_EQ(ERR_get_error(), before);
    EXPECT_EQ(ERR_get_error(), 0u);
}

TEST_F(PlatformCertVerifierTest, ConcurrentVerificationsShareOneStore) {
    auto verifier = trusting();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const bool withIntermediate = (i + t) % 2 == 0;
                const auto got = verifyChain(
                    verifier, *leaf_,
                    withIntermediate ? std::vector<const X509*>{inter_->x509()} : std::vector<const X509*>{});
                const Statuses expected{withIntermediate ? CertStatus::VALID : CertStatus::IS_PARTIAL_CHAIN};
                if (got != expected) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

TEST(PlatformCertVerifierMappingTest, OnlyOkMeansValid) {
    for (int code = 1; code < 200; ++code) {
        EXPECT_NE(OpenSslPlatformCertVerifier::statusForVerifyError(code), CertStatus::VALID) << code;
    }
    EXPECT_EQ(OpenSslPlatformCertVerifier::statusForVerifyError(9999), CertStatus::UNKNOWN);
}

TEST(ChainNameConstraintsTest, DnsSubtreeBoundaries) {
    struct Case {
        std::vector<std::string> permitted;
        std::vector<std::string> excluded;
        std::string host;
        bool within;
    };
    const Case cases[] = {
        {{"corp.example"}, {}, "corp.example", true},
        {{"corp.example"}, {}, "a.b.CORP.example", true},
        {{"corp.example"}, {}, "a.corp.example.", true},
        {{"corp.example"}, {}, "xcorp.example", false},
        {{"corp.example"}, {}, "corp.example.org", false},
        {{".corp.example"}, {}, "corp.example", false},
        {{".corp.example"}, {}, "a.corp.example", true},
        {{"corp.example", "other.example"}, {}, "a.other.example", true},
        {{}, {"bank.example"}, "bank.example", false},
        {{}, {"bank.example"}, "www.bank.example", false},
        {{}, {"bank.example"}, "notbank.example", true},
        {{"example"}, {"bank.example"}, "a.bank.example", false},
    };
    for (const auto& c : cases) {
        CertSpec spec;
        spec.commonName = "constrained";
        spec.isCa = true;
        spec.keyUsage = KU_KEY_CERT_SIGN;
        spec.key = ec();
        spec.permittedDnsSubtrees = c.permitted;
        spec.excludedDnsSubtrees = c.excluded;
        auto ca = TestPki::makeCert(spec);
        auto* nc = static_cast<NAME_CONSTRAINTS*>(
            X509_get_ext_d2i(ca.x509(), NID_name_constraints, nullptr, nullptr));
        ASSERT_NE(nc, nullptr);
        EXPECT_EQ(chain::dnsNameWithin(c.host, nc), c.within) << c.host;
        NAME_CONSTRAINTS_free(nc);
    }
}

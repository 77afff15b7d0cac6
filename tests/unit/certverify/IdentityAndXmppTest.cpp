#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <sstream>

#include "oxl/cert/common/Identity.h"
#include "oxl/cert/common/XmppCertVerifier.h"
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
using Refs = std::vector<std::string>;

TEST(IdentityTest, ValidityTrimmingAndDisplayFallback) {
    struct Case {
        const char* name;
        Identity identity;
        bool valid;
        Refs validRefs;
        std::string display;
    };
    Identity matched(Refs{"a.example"}, "");
    matched.setMatchedReferenceIdentifier("b.example");
    Identity flaggedEmpty(Refs{"a.example"});
    flaggedEmpty.setMandatoryReferenceIdentifier("");
    const Case cases[] = {
        {"explicit display wins",
         Identity("m.example", Refs{"a.example"}, "Shown"),
         true,
         {"a.example"},
         "Shown"},
        {"matched before mandatory",
         [&] {
             Identity i("m.example", Refs{"a.example"});
             i.setMatchedReferenceIdentifier("x.example");
             return i;
         }(),
         true,
         {"a.example"},
         "x.example"},
        {"matched", matched, true, {"a.example"}, "b.example"},
        {"mandatory before references",
         Identity("m.example", Refs{"a.example"}),
         true,
         {"a.example"},
         "m.example"},
        {"first valid reference, trimmed",
         Identity(Refs{" \t", "\v b.example\r\n", "c.example"}),
         true,
         {"b.example", "c.example"},
         "b.example"},
        {"only blanks", Identity(Refs{" ", "\f\t"}), false, {}, ""},
        {"no references", Identity(Refs{}, "Shown"), false, {}, "Shown"},
        {"flagged empty mandatory", flaggedEmpty, false, {"a.example"}, "a.example"},
        {"inner blanks are kept", Identity(Refs{" a b "}), true, {"a b"}, "a b"},
    };
    oxl::test::LogCapture logs;
    for (const auto& c : cases) {
        EXPECT_EQ(c.identity.isValid(), c.valid) << c.name;
        EXPECT_EQ(c.identity.getValidReferenceIdentifiers(), c.validRefs) << c.name;
        EXPECT_EQ(c.identity.getIdentifierToDisplay(), c.display) << c.name;
    }
    EXPECT_TRUE(logs.contains("No valid reference identifier stored. The identity is invalid"));
    EXPECT_TRUE(logs.contains("Empty mandatory reference identifier stored. The identity is invalid"));

    std::ostringstream os;
    os << Identity("m.example", Refs{"a.example", "b.example"}, "Shown");
    EXPECT_EQ(os.str(),
              "Mandatory reference identifier: m.example Reference identifiers: [a.example, b.example] "
              "Identifier to display: Shown Matched reference Identifier: ");
}

class XmppCertVerifierTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = TestPki::makeRoot("Xmpp Test Root");
        verifier_ = std::make_shared<XmppCertVerifier>(std::make_shared<OpenSslPlatformCertVerifier>(
            PlatformTrustSettings{pki_.writeCertificates("trust.pem", {root_.x509()}), {}, false}));
    }
    TestCert cert(std::function<void(CertSpec&)> fill) const {
        CertSpec spec;
        spec.key = KeySpec{KeyType::EC, 256};
        // A subject, so that a non-critical subjectAltName is allowed (RFC 5280 4.2.1.6).
        spec.organization = "xmpp tests";
        fill(spec);
        return TestPki::makeCert(spec, &root_);
    }

    TestPki pki_;
    TestCert root_;
    std::shared_ptr<XmppCertVerifier> verifier_;
};

TEST_F(XmppCertVerifierTest, XmppIdentitiesInOrder) {
    struct Case {
        const char* name;
        std::function<void(CertSpec&)> fill;
        Refs references;
        CertResult::Result result;
        std::string matched;
    };
    const Case cases[] = {
        {"XmppAddr proves the domain",
         [](CertSpec& s) { s.xmppAddresses = {"example.com"}; },
         {"example.com"},
         CertResult::SUCCESS,
         "example.com"},
        {"XmppAddr does not cover a sub-domain",
         [](CertSpec& s) { s.xmppAddresses = {"example.com"}; },
         {"host.example.com"},
         CertResult::FAILURE,
         ""},
        {"SRV name before a different DNS name",
         [](CertSpec& s) {
             s.srvNames = {"_xmpp-server.example.com"};
             s.dnsNames = {"other.example.org"};
         },
         {"example.com"},
         CertResult::SUCCESS,
         "example.com"},
        {"SRV name of another service",
         [](CertSpec& s) { s.srvNames = {"_xmpp-client.example.com"}; },
         {"example.com"},
         CertResult::FAILURE,
         ""},
        {"wildcard DNS name fallback",
         [](CertSpec& s) { s.dnsNames = {"*.example.com"}; },
         {"chat.example.com"},
         CertResult::SUCCESS,
         "chat.example.com"},
        {"wildcard does not cover the parent",
         [](CertSpec& s) { s.dnsNames = {"*.example.com"}; },
         {"example.com"},
         CertResult::FAILURE,
         ""},
        {"second domain matches",
         [](CertSpec& s) { s.xmppAddresses = {"b.example"}; },
         {"a.example", "b.example"},
         CertResult::SUCCESS,
         "b.example"},
        {"first match wins",
         [](CertSpec& s) {
             s.dnsNames = {"a.example", "b.example"};
         },
         {"b.example", "a.example"},
         CertResult::SUCCESS,
         "b.example"},
        {"case-insensitive",
         [](CertSpec& s) { s.xmppAddresses = {"Example.COM"}; },
         {"example.com"},
         CertResult::SUCCESS,
         "example.com"},
    };
    for (const auto& c : cases) {
        TestCert leaf = cert(c.fill);
        VerificationContext ctx(leaf.x509(), {});
        CertResult byCtx = verifier_->verifyXmppCertificate(ctx.get(), c.references);
        CertResult byCert = verifier_->verifyXmppCertificate(leaf.x509(), c.references, "Chat");
        for (const CertResult& r : {byCtx, byCert}) {
            EXPECT_EQ(r.result, c.result) << c.name << " " << r;
            if (c.result == CertResult::SUCCESS) {
                EXPECT_EQ(r.identifierStatus,
                          (CertIdentifierStatus{CertIdentifierStatus::SUCCESS, c.matched}))
                    << c.name;
            } else {
                EXPECT_EQ(r.invalidReasons, std::set<CertStatus::Status>{CertStatus::CN_NO_MATCH}) << c.name;
            }
        }
    }
}

TEST_F(XmppCertVerifierTest, UsesXmppRulesAndItsOwnLogger) {
    TestCert leaf = cert([](CertSpec& s) { s.xmppAddresses = {"example.com"}; });
    oxl::test::LogCapture logs;
    CertResult instant;
    unsigned int id = 7;
    ASSERT_TRUE(verifier_->verifyXmppCertificateAsync(nullptr, Refs{"example.com"}, nullptr, instant, id) ==
                false);
    VerificationContext ctx(leaf.x509(), {});
    ASSERT_TRUE(verifier_->verifyXmppCertificateAsync(ctx.get(), Refs{"x.example", "example.com"}, nullptr,
                                                      instant, id));
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(instant.result, CertResult::SUCCESS);
    EXPECT_EQ(instant.identifierStatus.matchedIdentifier, "example.com");
    EXPECT_EQ(logs.count("Verifying XMPP identity 'x.example'", "oxl.cert.xmpp"), 1u);
}

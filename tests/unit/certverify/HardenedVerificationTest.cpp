// The chain, usage and identity rules a careful TLS client applies, end to end through the verifiers with
// OpenSSL's chain engine and a test PKI made here: each row is a chain an attacker could present.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <functional>

#include "CertVerifyTestUtil.h"
#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/XmppCertVerifier.h"
#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestCert;
using oxl::test::TestPki;
using oxl::test::VerificationContext;
using S = CertStatus;
using Statuses = std::set<CertStatus::Status>;
using Fill = std::function<void(CertSpec&)>;

namespace {

CertSpec caSpec(const std::string& name) {
    CertSpec spec;
    spec.commonName = name;
    spec.isCa = true;
    spec.keyUsage = KU_KEY_CERT_SIGN | KU_CRL_SIGN;
    spec.key = KeySpec{KeyType::EC, 256};
    return spec;
}

CertSpec leafSpec() {
    return TestPki::leafSpec("host.example.com", {KeyType::EC, 256});
}

Fill rsaSigner = [](CertSpec& s) { s.key = KeySpec{KeyType::RSA, 2048}; };

struct Case {
    const char* name;
    Fill root;
    Fill intermediate;
    Fill leaf;
    std::string host;
    Statuses expected;  // {VALID}: accepted
    bool xmpp = false;
};

class HardenedVerificationTest : public testutil::CleanCertStateTest {
  protected:
    CertResult verify(const Case& c) {
        CertSpec rootSpec = caSpec("hardening root");
        if (c.root) {
            c.root(rootSpec);
        }
        TestCert root = TestPki::makeCert(rootSpec);
        CertSpec interSpec = caSpec("hardening intermediate");
        if (c.intermediate) {
            c.intermediate(interSpec);
        }
        TestCert inter = TestPki::makeCert(interSpec, &root);
        CertSpec spec = leafSpec();
        if (c.leaf) {
            c.leaf(spec);
        }
        TestCert leaf = TestPki::makeCert(spec, &inter);
        auto platform = std::make_shared<OpenSslPlatformCertVerifier>(
            PlatformTrustSettings{pki_.writeCertificates("trust.pem", {root.x509()})});
        VerificationContext ctx(leaf.x509(), {inter.x509()});
        if (c.xmpp) {
            return std::make_shared<XmppCertVerifier>(platform)->verifyXmppCertificate(ctx.get(), {c.host});
        }
        return std::make_shared<CertVerifier>(platform)->verifyCertificate(ctx.get(), c.host);
    }

    TestPki pki_;
};

}  // namespace

TEST_F(HardenedVerificationTest, ChainsATlsClientRefuses) {
    const Case cases[] = {
        {"a sound chain", nullptr, nullptr, nullptr, "host.example.com", {S::VALID}},
        // OpenSSL security level 1: weak digests and small keys anywhere in the chain.
        {"MD5 signature",
         nullptr,
         rsaSigner,
         [](CertSpec& s) { s.digest = EVP_md5(); },
         "host.example.com",
         {S::INVALID_SIGNATURE}},
        {"SHA-1 signature",
         nullptr,
         nullptr,
         [](CertSpec& s) { s.digest = EVP_sha1(); },
         "host.example.com",
         {S::INVALID_SIGNATURE}},
        {"512-bit RSA leaf",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.key = KeySpec{KeyType::RSA, 512};
         },
         "host.example.com",
         {S::WEAK_KEY}},
        {"512-bit RSA intermediate",
         nullptr,
         [](CertSpec& s) {
             s.key = KeySpec{KeyType::RSA, 512};
         },
         nullptr,
         "host.example.com",
         {S::WEAK_KEY}},
        {"1024-bit RSA leaf still passes",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.key = KeySpec{KeyType::RSA, 1024};
         },
         "host.example.com",
         {S::VALID}},
        // Strict X.509 profile checks.
        {"intermediate without key identifiers",
         nullptr,
         [](CertSpec& s) { s.addKeyIdentifiers = false; },
         nullptr,
         "host.example.com",
         {S::INVALID_EXTENSION}},
        {"leaf without authority key identifier",
         nullptr,
         nullptr,
         [](CertSpec& s) { s.addKeyIdentifiers = false; },
         "host.example.com",
         {S::INVALID_EXTENSION}},
        {"root with non-critical basic constraints",
         [](CertSpec& s) { s.basicConstraintsCritical = false; },
         nullptr,
         nullptr,
         "host.example.com",
         {S::BASIC_CONSTRAINTS}},
        {"leaf that is no CA with keyCertSign",
         nullptr,
         nullptr,
         [](CertSpec& s) { s.keyUsage = KU_DIGITAL_SIGNATURE | KU_KEY_CERT_SIGN; },
         "host.example.com",
         {S::BASIC_CONSTRAINTS}},
        {"leaf with an empty subject and a non-critical SAN",
         nullptr,
         nullptr,
         [](CertSpec& s) { s.commonName.clear(); },
         "host.example.com",
         {S::INVALID_EXTENSION}},
        // What a CA's extended key usage lets it issue.
        {"intermediate for e-mail only",
         nullptr,
         [](CertSpec& s) { s.extendedKeyUsage = {NID_email_protect}; },
         nullptr,
         "host.example.com",
         {S::UNTRUSTED_ROOT}},
        {"root for client authentication only",
         [](CertSpec& s) { s.extendedKeyUsage = {NID_client_auth}; },
         nullptr,
         nullptr,
         "host.example.com",
         {S::UNTRUSTED_ROOT}},
        {"intermediate with an empty EKU",
         nullptr,
         [](CertSpec& s) { s.emptyExtendedKeyUsage = true; },
         nullptr,
         "host.example.com",
         {S::UNTRUSTED_ROOT}},
        {"intermediate for any usage",
         nullptr,
         [](CertSpec& s) { s.extendedKeyUsage = {NID_anyExtendedKeyUsage}; },
         nullptr,
         "host.example.com",
         {S::VALID}},
        {"intermediate for servers and clients",
         nullptr,
         [](CertSpec& s) {
             s.extendedKeyUsage = {NID_client_auth, NID_server_auth};
         },
         nullptr,
         "host.example.com",
         {S::VALID}},
        // The leaf's own usages.
        {"leaf with an empty EKU",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.extendedKeyUsage.clear();
             s.emptyExtendedKeyUsage = true;
         },
         "host.example.com",
         {S::WRONG_USAGE}},
        {"leaf for clients with any usage",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.extendedKeyUsage = {NID_client_auth, NID_anyExtendedKeyUsage};
         },
         "host.example.com",
         {S::VALID}},
        // Identity.
        {"common name beside a different DNS name",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.dnsNames = {"abc.example.com"};
             s.commonName = "example.com";
         },
         "example.com",
         {S::CN_NO_MATCH}},
        {"wildcard over a public suffix",
         nullptr,
         nullptr,
         [](CertSpec& s) { s.dnsNames = {"*.co.uk"}; },
         "example.co.uk",
         {S::CN_NO_MATCH}},
        {"IP address in an iPAddress name",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.dnsNames.clear();
             s.commonName.clear();
             s.organization = "addresses";
             s.ipAddresses = {"192.0.2.10", "2001:db8::10"};
         },
         "2001:db8:0::10",
         {S::VALID}},
        {"IP address spelt as a DNS name",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.dnsNames = {"8.8.8.8"};
             s.commonName = "8.8.8.8";
         },
         "8.8.8.8",
         {S::CN_NO_MATCH}},
        // A name-constrained CA cannot vouch for a name outside its tree by any route.
        {"constrained CA, name inside",
         nullptr,
         [](CertSpec& s) { s.permittedDnsSubtrees = {"corp.example"}; },
         [](CertSpec& s) {
             s.dnsNames = {"a.corp.example"};
             s.commonName = "a.corp.example";
         },
         "a.corp.example",
         {S::VALID}},
        {"constrained CA, outside name in the common name beside a SAN",
         nullptr,
         [](CertSpec& s) { s.permittedDnsSubtrees = {"corp.example"}; },
         [](CertSpec& s) {
             s.dnsNames = {"a.corp.example"};
             s.commonName = "bank.example.com";
         },
         "bank.example.com",
         {S::CN_NO_MATCH}},
        {"constrained CA, outside name as the only common name",
         nullptr,
         [](CertSpec& s) { s.permittedDnsSubtrees = {"corp.example"}; },
         [](CertSpec& s) {
             s.dnsNames.clear();
             s.commonName = "bank.example.com";
         },
         "bank.example.com",
         {S::INVALID_NAME_CONSTRAINT}},
        {"constrained CA, wildcard common name",
         nullptr,
         [](CertSpec& s) { s.permittedDnsSubtrees = {"corp.example"}; },
         [](CertSpec& s) {
             s.dnsNames.clear();
             s.commonName = "*.example.com";
         },
         "bank.example.com",
         {S::INVALID_NAME_CONSTRAINT}},
        {"excluded name reached through a wildcard SAN",
         nullptr,
         [](CertSpec& s) { s.excludedDnsSubtrees = {"bank.example.com"}; },
         [](CertSpec& s) { s.dnsNames = {"*.example.com"}; },
         "bank.example.com",
         {S::INVALID_NAME_CONSTRAINT}},
        {"root constraint reached through an XMPP address",
         [](CertSpec& s) { s.permittedDnsSubtrees = {"corp.example"}; },
         nullptr,
         [](CertSpec& s) {
             // The common name lies inside, so only the route through the XMPP address is left.
             s.dnsNames.clear();
             s.commonName = "a.corp.example";
             s.xmppAddresses = {"bank.example.com"};
         },
         "bank.example.com",
         {S::INVALID_NAME_CONSTRAINT},
         true},
        {"XMPP address hiding a zero byte",
         nullptr,
         nullptr,
         [](CertSpec& s) {
             s.dnsNames.clear();
             s.xmppAddresses = {std::string("example.com\0.evil.com", 21)};
         },
         "example.com",
         {S::CN_NO_MATCH},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CertResult r = verify(c);
        EXPECT_EQ(r.invalidReasons, c.expected) << r;
        EXPECT_EQ(r.result, c.expected == Statuses{S::VALID} ? CertResult::SUCCESS : CertResult::FAILURE)
            << r;
    }
}

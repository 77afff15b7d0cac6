#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "support/RunTool.h"
#include "support/TestPki.h"

using oxl::test::CertSpec;
using oxl::test::KeySpec;
using oxl::test::KeyType;
using oxl::test::TestCert;
using oxl::test::TestPki;

namespace {

using oxl::test::oxlnetPath;
using oxl::test::ToolRun;

ToolRun run(const std::string& arguments) {
    return oxl::test::runOxlnet("verify-cert " + arguments);
}

CertSpec server(const std::string& host) {
    return TestPki::leafSpec(host, {KeyType::EC, 256});
}

}  // namespace

TEST(VerifyCertCommandTest, VerifiesBundlesAndReportsTheResult) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    TestPki pki;
    TestCert root = TestPki::makeRoot("Tool Root");
    TestCert inter = TestPki::makeIntermediate("Tool Intermediate", root);
    TestCert good = TestPki::makeCert(server("host.example.com"), &inter);
    CertSpec expiredSpec = server("host.example.com");
    expiredSpec.notBeforeOffsetSeconds = -5 * 24 * 3600;
    expiredSpec.notAfterOffsetSeconds = -3600;
    TestCert expired = TestPki::makeCert(expiredSpec, &inter);
    CertSpec xmppSpec;
    xmppSpec.organization = "chat";
    xmppSpec.xmppAddresses = {"chat.example"};
    xmppSpec.key = KeySpec{KeyType::EC, 256};
    TestCert xmpp = TestPki::makeCert(xmppSpec, &inter);

    const std::string trust = "--trust " + pki.writeCertificates("trust.pem", {root.x509()});
    const std::string goodChain = pki.writeCertificates("good.pem", {good.x509(), inter.x509()});
    const std::string leafOnly = pki.writeCertificates("leaf.pem", {good.x509()});
    const std::string expiredChain = pki.writeCertificates("expired.pem", {expired.x509(), inter.x509()});
    const std::string xmppChain = pki.writeCertificates("xmpp.pem", {xmpp.x509(), inter.x509()});
    const std::string text = pki.writeText("notes.pem", "just some text\n");
    const std::string garbage =
        pki.writeText("broken.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
    // A good chain with a broken block in the middle, and one with a key where a certificate belongs.
    const std::string goodPem = good.certPem();
    const std::string interPem = inter.certPem();
    const std::string brokenMiddle =
        pki.writeText("broken-middle.pem",
                      goodPem + "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n" + interPem);
    const std::string withKey = pki.writeText("with-key.pem", goodPem + good.keyPem() + interPem);
    const std::string unterminated = pki.writeText("unterminated.pem", goodPem + interPem.substr(0, 100));
    const std::string revokingCrl =
        pki.writeCrl("revoking.crl", TestPki::makeCrl(inter, {good.x509()}).get());
    const std::string emptyCrl = pki.writeCrl("empty.crl", TestPki::makeCrl(inter, {}).get());
    const std::string notACrl = pki.writeCertificates("not-a-crl.pem", {root.x509()});
    const std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
    const std::string inFortyDays = std::to_string(static_cast<long long>(std::time(nullptr)) + 40L * 86400);

    struct Case {
        const char* name;
        std::string arguments;
        int status;
        std::string stdoutHas;
    };
    const Case cases[] = {
        {"good chain", goodChain + " --host host.example.com " + trust, 0, "[result : SUCCESS"},
        {"one of several hosts", goodChain + " --host a.example --host host.example.com " + trust, 0,
         "matched ID : host.example.com"},
        {"wrong host", goodChain + " --host other.example.com " + trust, 1, "invalid reason : [CN_NO_MATCH]"},
        {"mandatory must match", goodChain + " --host host.example.com --mandatory www.example.com " + trust,
         1, "CN_NO_MATCH"},
        {"without the trust file", goodChain + " --host host.example.com", 1, "[result : FAILURE"},
        {"chain incomplete", leafOnly + " --host host.example.com " + trust, 1, "IS_PARTIAL_CHAIN"},
        {"expired", expiredChain + " --host host.example.com " + trust, 1, "EXPIRED"},
        {"expired, silently succeed",
         expiredChain + " --host host.example.com --policy silently-succeed " + trust, 0,
         "[result : SUCCESS"},
        {"expired, silently fail", expiredChain + " --host host.example.com --policy=silently-fail " + trust,
         1, "EXPIRED"},
        {"xmpp address", xmppChain + " --xmpp --host chat.example " + trust, 0, "matched ID : chat.example"},
        {"xmpp address without --xmpp", xmppChain + " --host chat.example " + trust, 1, "CN_NO_MATCH"},
        {"plain text", text + " --host host.example.com", 2, ""},
        {"broken PEM", garbage + " --host host.example.com", 2, ""},
        {"missing file", pki.dir() + "/absent.pem --host host.example.com", 2, ""},
        {"no host", goodChain, 2, ""},
        {"unknown policy", goodChain + " --host host.example.com --policy maybe", 2, ""},
        {"mandatory with xmpp", xmppChain + " --xmpp --host chat.example --mandatory chat.example", 2, ""},
        {"two files", goodChain + " " + leafOnly + " --host host.example.com", 2, ""},
        // Revocation lists, depth and time.
        {"revoked by a CRL", goodChain + " --host host.example.com --crl " + revokingCrl + " " + trust, 1,
         "INVALID_REVOKED"},
        {"CRL without the leaf", goodChain + " --host host.example.com --crl " + emptyCrl + " " + trust, 0,
         "[result : SUCCESS"},
        {"a certificate given as a CRL",
         goodChain + " --host host.example.com --crl " + notACrl + " " + trust, 2, ""},
        {"depth 0 refuses an intermediate", goodChain + " --host host.example.com --max-depth 0 " + trust, 1,
         "INVALID_CHAIN"},
        {"depth 1 allows one", goodChain + " --host host.example.com --max-depth 1 " + trust, 0,
         "[result : SUCCESS"},
        {"depth that is no number", goodChain + " --host host.example.com --max-depth one " + trust, 2, ""},
        {"negative depth", goodChain + " --host host.example.com --max-depth -1 " + trust, 2, ""},
        {"verified now", goodChain + " --host host.example.com --at " + now + " " + trust, 0,
         "[result : SUCCESS"},
        {"verified in forty days", goodChain + " --host host.example.com --at " + inFortyDays + " " + trust,
         1, "EXPIRED"},
        {"time that is no number", goodChain + " --host host.example.com --at 12x " + trust, 2, ""},
        // Files that cannot be read are refused, not skipped.
        {"a directory", pki.dir() + " --host host.example.com", 2, ""},
        {"a device", "/dev/null --host host.example.com", 2, ""},
        {"a directory as trust", goodChain + " --host host.example.com --trust " + pki.dir(), 2, ""},
        {"a broken block between good ones", brokenMiddle + " --host host.example.com " + trust, 2, ""},
        {"a key among the certificates", withKey + " --host host.example.com " + trust, 2, ""},
        {"a block without its end", unterminated + " --host host.example.com " + trust, 2, ""},
    };
    for (const auto& c : cases) {
        ToolRun r = run(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.name << "\nstdout: " << r.out << "\nstderr: " << r.err;
        EXPECT_NE(r.out.find(c.stdoutHas), std::string::npos) << c.name << ": " << r.out;
        if (c.status == 2) {
            EXPECT_TRUE(r.out.empty()) << c.name;
            // One line of explanation, nothing else.
            EXPECT_EQ(r.err.rfind("oxlnet: verify-cert", 0), 0u) << c.name << ": " << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
        }
    }
}

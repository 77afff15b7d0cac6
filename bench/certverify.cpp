// Verification of a three-certificate chain (trusted root, intermediate, leaf) through
// oxl::cert::CertVerifier against OpenSSL's own X509_verify_cert + X509_check_host on the same chain and
// trust store.
//
// Fairness: both sides build their trust store once (the library's platform verifier keeps its store after
// the first use) and both create a fresh verification context per iteration. The handshake context that the
// library receives is made once, as TLS makes it outside any verifier. The validity cache cannot short-cut
// the library: it is consulted only for failed verifications under a user-interacting policy, and every
// verification here succeeds (the loops stop with an error otherwise); it is cleared before each run anyway.
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "Interleaved.h"
#include "oxl/cert/common/CertCacheInterface.h"
#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"
#include "support/TestPki.h"

namespace {

constexpr const char* HOST = "bench.example.com";

struct Chain {
    oxl::test::TestPki pki;
    oxl::test::TestCert root = oxl::test::TestPki::makeRoot("Bench Root");
    oxl::test::TestCert intermediate = oxl::test::TestPki::makeIntermediate("Bench Intermediate", root);
    oxl::test::TestCert leaf = oxl::test::TestPki::makeLeaf(HOST, intermediate);
    std::string trustFile = pki.writeCertificates("trust.pem", {root.x509()});
};

Chain& chain() {
    static Chain c;
    return c;
}

oxl::bench::Round libVerify(int ops) {
    auto& c = chain();
    oxl::cert::CertCacheInterface::clearInvalidCertificateCache();
    auto verifier =
        std::make_shared<oxl::cert::CertVerifier>(std::make_shared<oxl::cert::OpenSslPlatformCertVerifier>(
            oxl::cert::PlatformTrustSettings{c.trustFile, {}, false}));
    auto handshake = std::make_shared<oxl::test::VerificationContext>(
        c.leaf.x509(), std::vector<const X509*>{c.intermediate.x509()});
    return oxl::bench::repeat(ops, [verifier, handshake] {
        const std::vector<std::string> references{HOST};
        auto result = verifier->verifyCertificate(handshake->get(), references);
        benchmark::DoNotOptimize(result);
        return result.result == oxl::cert::CertResult::SUCCESS;
    });
}

struct BaseTrust {
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store{X509_STORE_new(), X509_STORE_free};
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted{
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_free(s); }};
};

oxl::bench::Round baseVerify(int ops) {
    auto& c = chain();
    auto trust = std::make_shared<BaseTrust>();
    if (!trust->store || !trust->untrusted ||
        X509_STORE_load_file(trust->store.get(), c.trustFile.c_str()) != 1 ||
        sk_X509_push(trust->untrusted.get(), c.leaf.x509()) <= 0 ||
        sk_X509_push(trust->untrusted.get(), c.intermediate.x509()) <= 0) {
        return [](oxl::bench::Sample&) { return false; };
    }
    return oxl::bench::repeat(ops, [trust, &c] {
        std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                            X509_STORE_CTX_free);
        bool ok = ctx && X509_STORE_CTX_init(ctx.get(), trust->store.get(), c.leaf.x509(),
                                             trust->untrusted.get()) == 1;
        if (ok) {
            // The same checks the library asks of OpenSSL: strict X.509 rules at security level 1.
            X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_X509_STRICT);
            X509_VERIFY_PARAM_set_auth_level(X509_STORE_CTX_get0_param(ctx.get()), 1);
            ok = X509_verify_cert(ctx.get()) == 1 && X509_check_host(c.leaf.x509(), HOST, 0, 0, nullptr) == 1;
        }
        return ok;
    });
}

}  // namespace

int main(int argc, char** argv) {
    oxl::bench::registerPair(
        {"verify_chain3", 50, 31, 0.7, baseVerify(50), libVerify(50), oxl::bench::Measure::CPU});
    return oxl::bench::runRegistered(argc, argv);
}

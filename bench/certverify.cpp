// Verification of a three-certificate chain (trusted root, intermediate, leaf) through
// oxl::cert::CertVerifier against OpenSSL's own X509_verify_cert + X509_check_host on the same chain and
// trust store.
//
// Fairness: both sides build their trust store once (the library's platform verifier keeps its store after
// the first use) and both create a fresh verification context per iteration. The handshake context that the
// library receives is made once, as TLS makes it outside any verifier. The validity cache cannot short-cut
// the library: it is consulted only for failed verifications under a user-interacting policy, and every
// verification here succeeds (the loops stop with an error otherwise); it is cleared before each run anyway.
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

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

void libVerify(benchmark::State& state) {
    auto& c = chain();
    oxl::cert::CertCacheInterface::clearInvalidCertificateCache();
    auto verifier =
        std::make_shared<oxl::cert::CertVerifier>(std::make_shared<oxl::cert::OpenSslPlatformCertVerifier>(
            oxl::cert::PlatformTrustSettings{c.trustFile, {}, false}));
    oxl::test::VerificationContext handshake(c.leaf.x509(), {c.intermediate.x509()});
    const std::vector<std::string> references{HOST};
    for (auto _ : state) {
        auto result = verifier->verifyCertificate(handshake.get(), references);
        if (result.result != oxl::cert::CertResult::SUCCESS) {
            state.SkipWithError("library verification failed");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations());
}

void baseVerify(benchmark::State& state) {
    auto& c = chain();
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    if (!store || !untrusted || X509_STORE_load_file(store.get(), c.trustFile.c_str()) != 1 ||
        sk_X509_push(untrusted.get(), c.leaf.x509()) <= 0 ||
        sk_X509_push(untrusted.get(), c.intermediate.x509()) <= 0) {
        state.SkipWithError("baseline set-up failed");
        return;
    }
    for (auto _ : state) {
        std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                            X509_STORE_CTX_free);
        bool ok = ctx && X509_STORE_CTX_init(ctx.get(), store.get(), c.leaf.x509(), untrusted.get()) == 1;
        if (ok) {
            // The same checks the library asks of OpenSSL: strict X.509 rules at security level 1.
            X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_X509_STRICT);
            X509_VERIFY_PARAM_set_auth_level(X509_STORE_CTX_get0_param(ctx.get()), 1);
            ok = X509_verify_cert(ctx.get()) == 1 && X509_check_host(c.leaf.x509(), HOST, 0, 0, nullptr) == 1;
        }
        if (!ok) {
            state.SkipWithError("baseline verification failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

const bool registered = [] {
    benchmark::RegisterBenchmark("verify_chain3/base", baseVerify)->MinTime(1.0);
    benchmark::RegisterBenchmark("verify_chain3/lib", libVerify)->MinTime(1.0);
    return true;
}();

}  // namespace

BENCHMARK_MAIN();

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <stdexcept>

#include "oxl/http/HttpRequestData.h"
#include "oxl/http/OpenSSLOptions.h"
#include "oxl/http/SslUtils.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::Throw;

TEST(OpenSSLOptionsTest, TlsSetToOptionsTextAndVersionRange) {
    struct Case {
        long set;
        long options;
        const char* text;
        int minVersion;
        int maxVersion;  // 0: no upper bound
    };
    const Case cases[] = {
        {7, 0x03000000L, "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3", TLS1_VERSION, 0},
        // A restricted set ends at its highest version: TLS 1.3 is not in it.
        {4, 0x17000000L, "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3 SSL_OP_NO_TLSv1 SSL_OP_NO_TLSv1_1",
         TLS1_2_VERSION, TLS1_2_VERSION},
        {6, 0x07000000L, "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3 SSL_OP_NO_TLSv1", TLS1_1_VERSION,
         TLS1_2_VERSION},
        {1, 0x1B000000L,
         "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3 SSL_OP_NO_TLSv1_1 SSL_OP_NO_TLSv1_2", TLS1_VERSION,
         TLS1_VERSION},
        {3, 0x0B000000L, "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3 SSL_OP_NO_TLSv1_2", TLS1_VERSION,
         TLS1_1_VERSION},
        // A hole ends the range, as with OpenSSL's own bits: 1.0 and 1.2 allowed gives 1.0 only.
        {5, 0x13000000L, "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3 SSL_OP_NO_TLSv1_1", TLS1_VERSION,
         TLS1_VERSION},
        // None of the classic versions: only TLS 1.3 is left.
        {0, 0x1F000000L,
         "OpenSSL Options: SSL_OP_NO_SSLv2 SSL_OP_NO_SSLv3 SSL_OP_NO_TLSv1 SSL_OP_NO_TLSv1_1 "
         "SSL_OP_NO_TLSv1_2",
         TLS1_3_VERSION, 0},
    };
    for (const auto& c : cases) {
        const long options = OpenSSLOptions::getOptions(c.set);
        EXPECT_EQ(options, c.options) << c.set;
        EXPECT_EQ(OpenSSLOptions::toString(options), c.text) << c.set;
        const auto range = OpenSSLOptions::toVersionRange(options);
        EXPECT_EQ(range.minVersion, c.minVersion) << c.set;
        EXPECT_EQ(range.maxVersion, c.maxVersion) << c.set;
    }
    EXPECT_EQ(OpenSSLOptions::getDefaultOptions(), 0x03000000L);
    EXPECT_EQ(OpenSSLOptions::translateTlsVersions(7), 0L);
}

TEST(OpenSSLOptionsTest, ApplyNarrowsButNeverWidensTheContext) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION), 1);
    ASSERT_EQ(SSL_CTX_set_max_proto_version(ctx.get(), 0), 1);

    // All versions acceptable: the context's stricter minimum stays.
    ASSERT_TRUE(OpenSSLOptions::apply(ctx.get(), OpenSSLOptions::getOptions(7)));
    EXPECT_EQ(SSL_CTX_get_min_proto_version(ctx.get()), TLS1_2_VERSION);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(ctx.get()), 0);

    // TLS 1.3 only raises the minimum.
    ASSERT_TRUE(OpenSSLOptions::apply(ctx.get(), OpenSSLOptions::getOptions(0)));
    EXPECT_EQ(SSL_CTX_get_min_proto_version(ctx.get()), TLS1_3_VERSION);

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> fresh(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free);
    ASSERT_TRUE(OpenSSLOptions::apply(fresh.get(), OpenSSLOptions::getOptions(3)));
    EXPECT_EQ(SSL_CTX_get_max_proto_version(fresh.get()), TLS1_1_VERSION);
    EXPECT_FALSE(OpenSSLOptions::apply(nullptr, 0));
}

class RecordingVerifier : public CertVerifier {
  public:
    MOCK_METHOD(bool, verifyCertificate,
                (const X509_STORE_CTX*, const std::string&, const std::vector<std::string>&,
                 const std::string&),
                (override));
    MOCK_METHOD(bool, verifyCertificate,
                (const X509_STORE_CTX*, const std::vector<std::string>&, const std::string&), (override));
    MOCK_METHOD(bool, verifyCertificate,
                (const X509_STORE_CTX*, const std::string&, const std::vector<std::string>&), (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509_STORE_CTX*, const std::vector<std::string>&),
                (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509_STORE_CTX*, const std::string&, const std::string&),
                (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509_STORE_CTX*, const std::string&), (override));
    MOCK_METHOD(bool, verifyCertificate,
                (const X509*, const std::string&, const std::vector<std::string>&, const std::string&),
                (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509*, const std::vector<std::string>&, const std::string&),
                (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509*, const std::string&, const std::vector<std::string>&),
                (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509*, const std::vector<std::string>&), (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509*, const std::string&, const std::string&), (override));
    MOCK_METHOD(bool, verifyCertificate, (const X509*, const std::string&), (override));
};

using Refs = std::vector<std::string>;

struct StoreCtx {
    StoreCtx() : ctx(X509_STORE_CTX_new(), &X509_STORE_CTX_free) {}
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx;
};

TEST(SslUtilsTest, MissingBlockVerifierOrModelRejects) {
    oxl::test::LogCapture logs;
    StoreCtx store;
    EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), nullptr), 0);
    EXPECT_TRUE(logs.contains("The private data passed to the verify callback from SSL is NULL"));

    CertIdentity identity;
    EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 0);
    EXPECT_TRUE(logs.contains("No Certificate Verifier set, rejecting the certificate"));

    auto verifier = std::make_shared<::testing::StrictMock<RecordingVerifier>>();
    identity.certVerifier = verifier;
    identity.identityMatchModel = 2;
    EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 0);  // the strict mock fails on any call
    EXPECT_TRUE(logs.contains("Unrecognized IdentityMatchModel value:2"));
}

TEST(SslUtilsTest, ModelAndDisplayChooseTheOverload) {
    StoreCtx store;
    const X509_STORE_CTX* ctx = store.ctx.get();
    {  // soft, nothing supplied: the server host becomes the reference
        auto verifier = std::make_shared<::testing::StrictMock<RecordingVerifier>>();
        EXPECT_CALL(*verifier, verifyCertificate(ctx, Refs{"srv.example"})).WillOnce(Return(true));
        CertIdentity identity{"", "srv.example", {}, IdentityMatchModel::SOFT_MATCH, verifier, false, true};
        EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 1);
        EXPECT_EQ(X509_STORE_CTX_get_error(store.ctx.get()), X509_V_OK);
    }
    {  // soft with references and a display name
        auto verifier = std::make_shared<::testing::StrictMock<RecordingVerifier>>();
        EXPECT_CALL(*verifier, verifyCertificate(ctx, Refs{"a.example", "b.example"}, std::string("Shown")))
            .WillOnce(Return(false));
        CertIdentity identity{
            "Shown", "srv.example", {"a.example", "b.example"}, IdentityMatchModel::SOFT_MATCH, verifier,
            false,   false};
        oxl::test::LogCapture logs;
        EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 0);
        EXPECT_TRUE(logs.contains(
            "Certificate NOT Verified by application using SOFT_MATCH identity matching model."));
        EXPECT_NE(X509_STORE_CTX_get_error(store.ctx.get()), X509_V_OK);
    }
    {  // strict with a display name
        auto verifier = std::make_shared<::testing::StrictMock<RecordingVerifier>>();
        EXPECT_CALL(*verifier, verifyCertificate(ctx, std::string("srv.example"), Refs{"a.example"},
                                                 std::string("Shown")))
            .WillOnce(Return(true));
        CertIdentity identity{"Shown",  "srv.example", {"a.example"}, IdentityMatchModel::STRICT_MATCH,
                              verifier, false,         false};
        oxl::test::LogCapture logs;
        EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 1);
        EXPECT_TRUE(
            logs.contains("Certificate Verified by application using STRICT_MATCH identity matching model."));
    }
    {  // strict without one; the references are not filled from the host
        auto verifier = std::make_shared<::testing::StrictMock<RecordingVerifier>>();
        EXPECT_CALL(*verifier, verifyCertificate(ctx, std::string("srv.example"), Refs{}))
            .WillOnce(Return(true));
        CertIdentity identity{"", "srv.example", {}, IdentityMatchModel::STRICT_MATCH, verifier, false, true};
        EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 1);
    }
}

TEST(SslUtilsTest, AThrowingVerifierRejectsWithoutEscaping) {
    StoreCtx store;
    auto verifier = std::make_shared<::testing::StrictMock<RecordingVerifier>>();
    EXPECT_CALL(*verifier,
                verifyCertificate(::testing::A<const X509_STORE_CTX*>(), ::testing::A<const Refs&>()))
        .WillOnce(Throw(std::logic_error("no listener")));
    CertIdentity identity{"", "srv.example", {}, IdentityMatchModel::SOFT_MATCH, verifier, false, true};
    oxl::test::LogCapture logs;
    EXPECT_EQ(SslUtils::verifyCb(store.ctx.get(), &identity), 0);
    EXPECT_TRUE(logs.contains("no listener"));
}

}  // namespace
}  // namespace oxl::http

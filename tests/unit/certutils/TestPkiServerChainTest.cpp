#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include <filesystem>

#include "oxl/cert/platform/OpenSslPlatformCertVerifier.h"
#include "oxl/cert/utils/AltNameParser.h"
#include "support/TestPki.h"

using namespace oxl::cert;
using oxl::test::TestPki;

// The server chain files are what HTTPS fixtures load; a broken pair would only show up as obscure
// handshake failures elsewhere.
TEST(TestPkiServerChainTest, FilesLoadIntoATlsServerAndVerifyAgainstTheTrustFile) {
    std::string dir;
    {
        TestPki pki;
        dir = pki.dir();
        for (const std::string host : {"localhost", "127.0.0.1"}) {
            SCOPED_TRACE(host);
            TestPki::ServerChainOptions options;
            options.leafKey = oxl::test::KeySpec{oxl::test::KeyType::EC, 256};
            auto chain = pki.makeServerChain(host, options);

            std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()),
                                                                  SSL_CTX_free);
            ASSERT_TRUE(ctx);
            EXPECT_EQ(SSL_CTX_use_certificate_chain_file(ctx.get(), chain.certFile.c_str()), 1);
            EXPECT_EQ(SSL_CTX_use_PrivateKey_file(ctx.get(), chain.keyFile.c_str(), SSL_FILETYPE_PEM), 1);
            EXPECT_EQ(SSL_CTX_check_private_key(ctx.get()), 1);

            struct stat st {};
            ASSERT_EQ(stat(chain.keyFile.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);

            OpenSslPlatformCertVerifier verifier(PlatformTrustSettings{chain.trustFile});
            oxl::test::VerificationContext sent(chain.leaf.x509(), {chain.intermediate.x509()});
            EXPECT_EQ(verifier.verifyCertificate(static_cast<const X509_STORE_CTX*>(sent.get())),
                      std::set<CertStatus::Status>{CertStatus::VALID});

            AltNameParserImpl names;
            ASSERT_EQ(names.parse(chain.leaf.x509()), CertIdentifierStatus::SUCCESS);
            EXPECT_EQ(names.verify(host), CertIdentifierStatus::SUCCESS);
        }
        EXPECT_TRUE(std::filesystem::exists(dir));
    }
    EXPECT_FALSE(std::filesystem::exists(dir));
}

// Proxies spoken to over TLS (tinyproxy behind a TLS front), named explicitly or by the environment, with
// the proxy's own certificate verified; and the environment's no_proxy through the oxlnet tool.
#include <gtest/gtest.h>

#include <map>

#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/EnvironmentProxySettingsSource.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "support/HttpServerFixture.h"
#include "support/LogCapture.h"
#include "support/RunTool.h"
#include "support/TestPki.h"
#include "support/TinyproxyFixture.h"

namespace oxl::http {
namespace {

using oxl::test::HttpServerFixture;
using oxl::test::TestPki;
using oxl::test::TinyproxyFixture;

class GlobalInitEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(oxl::netutils::GlobalInit(), 0); }
};
[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

void answerVia(HttpServerFixture& server) {
    server.onGet("/target", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("via=" + req.get_header_value("Via"), "text/plain");
    });
}

// The process-wide trust file, set for one test.
class TrustScope {
  public:
    explicit TrustScope(const std::string& file) { oxl::cert::PlatformCertVerifier::setTrustFile(file); }
    ~TrustScope() { oxl::cert::PlatformCertVerifier::setTrustFile(""); }
    TrustScope(const TrustScope&) = delete;
    TrustScope& operator=(const TrustScope&) = delete;
};

std::shared_ptr<BasicHttpClientImpl> makeClient() {
    return BasicHttpClientImpl::buildBasicHttpClientImpl(
        nullptr,
        std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
            oxl::cert::CertVerifierFactory::createCertVerifier()),
        nullptr, nullptr);
}

std::shared_ptr<Request> through(const std::string& url, const std::string& proxyServer) {
    auto request = std::make_shared<Request>(url);
    request->getOptions()->transferTimeout = 30000;
    auto proxy = std::make_shared<Proxy>();
    proxy->setProxyServer(proxyServer, ProxyType::HTTP);
    request->setProxy(proxy);
    return request;
}

class HttpsProxyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        answerVia(plain_);
        answerVia(secure_);
        ASSERT_TRUE(plain_.start());
        ASSERT_TRUE(secure_.start());
        secureUrl_ = "https://localhost:" + std::to_string(secure_.port()) + "/target";
    }

    TestPki pki_;
    // The proxy is reached at 127.0.0.1; the server behind it by the name localhost, which the proxy
    // resolves. The two certificates share no name, so each is checked against its own.
    TestPki::ServerChain proxyChain_ = pki_.makeServerChain("proxy.test", {.ipAddresses = {"127.0.0.1"}});
    TestPki::ServerChain serverChain_ = pki_.makeServerChain("localhost");
    HttpServerFixture plain_;
    HttpServerFixture secure_{HttpServerFixture::Options{
        .https = true, .certFile = serverChain_.certFile, .keyFile = serverChain_.keyFile}};
    std::string secureUrl_;
    std::string bothRoots_ =
        pki_.writeCertificates("both.pem", {proxyChain_.root.x509(), serverChain_.root.x509()});
};

TEST_F(HttpsProxyTest, CarriesPlainAndTunnelledRequests) {
    TinyproxyFixture proxy({.connectPorts = {secure_.port()},
                            .tlsCertFile = proxyChain_.certFile,
                            .tlsKeyFile = proxyChain_.keyFile});
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    ASSERT_EQ(proxy.proxyUrl().rfind("https://", 0), 0u);
    TrustScope trust(bothRoots_);
    auto client = makeClient();
    oxl::test::LogCapture log(OXL_LEVEL_WARN);

    Response response;
    ASSERT_EQ(client->execute(through(plain_.url("/target"), proxy.proxyUrl()), response),
              HttpClientResult::SUCCESS)
        << proxy.log();
    EXPECT_NE(response.getBodyAsString().find("tinyproxy"), std::string::npos) << response.getBodyAsString();
    EXPECT_TRUE(proxy.waitForLog("GET " + plain_.url("/target"), 5000)) << proxy.log();

    Response secured;
    ASSERT_EQ(client->execute(through(secureUrl_, proxy.proxyUrl()), secured), HttpClientResult::SUCCESS)
        << proxy.log();
    EXPECT_EQ(secured.getBodyAsString(), "via=");  // inside the tunnel the proxy sees nothing
    EXPECT_TRUE(proxy.waitForLog("CONNECT localhost:" + std::to_string(secure_.port()), 5000)) << proxy.log();
    EXPECT_GE(proxy.tlsHandshakes(), 2u);
}

// The proxy's certificate is checked by libcurl against the proxy's address, the server's behind it by the
// library's verifier against the server's name; neither stands in for the other.
TEST_F(HttpsProxyTest, EachHopIsVerifiedAgainstItsOwnName) {
    const auto stranger = pki_.makeServerChain("other.test");
    using R = HttpClientResult;
    struct Case {
        const char* name;
        const TestPki::ServerChain& proxyChain;
        std::vector<const X509*> roots;
        R::Result plainResult;
    };
    const Case cases[] = {
        {"proxy root not trusted", proxyChain_, {serverChain_.root.x509()}, R::CERTIFICATE_VALIDATION_ERROR},
        {"proxy certificate for another name",
         stranger,
         {stranger.root.x509(), serverChain_.root.x509()},
         R::CERTIFICATE_VALIDATION_ERROR},
        {"server root not trusted", proxyChain_, {proxyChain_.root.x509()}, R::SUCCESS},
    };
    int file = 0;
    for (const auto& c : cases) {
        TinyproxyFixture proxy({.connectPorts = {secure_.port()},
                                .tlsCertFile = c.proxyChain.certFile,
                                .tlsKeyFile = c.proxyChain.keyFile});
        ASSERT_TRUE(proxy.isRunning()) << proxy.log();
        TrustScope trust(pki_.writeCertificates("trust" + std::to_string(++file) + ".pem", c.roots));
        auto client = makeClient();
        oxl::test::LogCapture log(OXL_LEVEL_ERROR);
        const size_t plainBefore = plain_.requestCount();
        Response response;
        EXPECT_EQ(client->execute(through(plain_.url("/target"), proxy.proxyUrl()), response), c.plainResult)
            << c.name;
        EXPECT_EQ(plain_.requestCount() - plainBefore, c.plainResult == R::SUCCESS ? 1u : 0u) << c.name;
        // The https server is refused in every case (inside the tunnel libcurl reports the verifier's
        // refusal as a failed TLS connection).
        EXPECT_NE(client->execute(through(secureUrl_, proxy.proxyUrl()), response), R::SUCCESS) << c.name;
    }
    EXPECT_EQ(secure_.requestCount(), 0u);
}

// "https://" in the environment names a proxy spoken to over TLS; it serves http and https URLs.
TEST_F(HttpsProxyTest, EnvironmentHttpsProxyIsUsed) {
    TinyproxyFixture proxy({.connectPorts = {secure_.port()},
                            .tlsCertFile = proxyChain_.certFile,
                            .tlsKeyFile = proxyChain_.keyFile});
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    TrustScope trust(bothRoots_);
    const std::map<std::string, std::string> env = {{"http_proxy", proxy.proxyUrl() + "/"},
                                                    {"HTTPS_PROXY", proxy.proxyUrl()}};
    auto resolver = std::make_shared<SystemProxyResolver>();
    resolver->setHttpProxyConfigurationReader(
        std::make_shared<HttpProxyConfigurationReader>(std::make_shared<EnvironmentProxySettingsSource>(
            [env](const std::string& name) -> std::optional<std::string> {
                const auto it = env.find(name);
                return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
            })));
    auto client = makeClient();
    for (const auto& url : {plain_.url("/target"), secureUrl_}) {
        auto request = std::make_shared<Request>(url);
        request->useSystemProxy(true);
        request->setSystemProxyResolver(resolver);
        Response response;
        ASSERT_EQ(client->execute(request, response), HttpClientResult::SUCCESS) << url << "\n"
                                                                                 << proxy.log();
    }
    EXPECT_TRUE(proxy.waitForLog("GET " + plain_.url("/target"), 5000)) << proxy.log();
    EXPECT_TRUE(proxy.waitForLog("CONNECT localhost:" + std::to_string(secure_.port()), 5000)) << proxy.log();
    EXPECT_GE(proxy.tlsHandshakes(), 2u);
}

// no_proxy='*' with a host of 50,000 characters: the tool bypasses the (dead) proxy and fails to resolve
// the name, as it would without a proxy, instead of overflowing the stack while matching.
TEST(NoProxyToolTest, LongHostWithWildcardBypass) {
    struct Environment {
        Environment() {
            ::setenv("http_proxy", "http://127.0.0.1:1", 1);
            ::setenv("no_proxy", "*", 1);
        }
        ~Environment() {
            ::unsetenv("http_proxy");
            ::unsetenv("no_proxy");
        }
    } environment;
    const auto run =
        oxl::test::runOxlnet({"get", "--system-proxy", "http://" + std::string(50000, 'a') + ".invalid/"});
    EXPECT_EQ(run.status, 1) << run.err.substr(0, 2000);
    EXPECT_NE(run.err.find("result: UNRESOLVED_HOST_ERROR"), std::string::npos) << run.err.substr(0, 2000);
}

}  // namespace
}  // namespace oxl::http

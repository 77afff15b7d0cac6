// Transfers through a real forward proxy (tinyproxy), chosen explicitly or by a PAC script served over HTTP.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/Proxy.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/http/UserProxySettings.h"
#include "support/TinyproxyFixture.h"

namespace oxl::http::test {
namespace {

using oxl::test::HttpServerFixture;
using oxl::test::TinyproxyFixture;
using R = HttpClientResult;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

class PacSource : public UserProxySettingsSource {
  public:
    explicit PacSource(std::string pacUrl) : pacUrl_(std::move(pacUrl)) {}
    bool read(UserProxySettings& settings, std::string&) override {
        settings = UserProxySettings{};
        settings.autoConfigUrl = pacUrl_;
        return true;
    }

  private:
    std::string pacUrl_;
};

std::shared_ptr<Proxy> explicitProxy(const std::string& address) {
    auto proxy = std::make_shared<Proxy>();
    proxy->setProxyServer(address, ProxyType::HTTP);
    return proxy;
}

std::shared_ptr<BasicHttpClientImpl> makeClient(std::shared_ptr<CertVerifier> verifier = nullptr) {
    return BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, std::move(verifier), nullptr, nullptr);
}

void echoViaAndAuthorization(HttpServerFixture& server) {
    server.onGet("/target", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(
            "via=" + req.get_header_value("Via") + " auth=" + req.get_header_value("Authorization"),
            "text/plain");
    });
}

TEST(BasicClientProxyTest, PlainHttpGoesThroughTheExplicitProxy) {
    HttpServerFixture server;
    echoViaAndAuthorization(server);
    ASSERT_TRUE(server.start());
    TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();

    auto req = std::make_shared<Request>(server.url("/target"));
    req->setProxy(explicitProxy(proxy.address()));
    Response response;
    ASSERT_EQ(makeClient()->execute(req, response), R::SUCCESS);
    EXPECT_THAT(response.getBodyAsString(), ::testing::HasSubstr("tinyproxy"));
    EXPECT_TRUE(proxy.waitForLog("GET " + server.url("/target"), 5000)) << proxy.log();
}

TEST(BasicClientProxyTest, APacScriptServedOverHttpChoosesTheProxy) {
    HttpServerFixture target;
    echoViaAndAuthorization(target);
    ASSERT_TRUE(target.start());
    TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();
    HttpServerFixture pacServer;
    const std::string script =
        "function FindProxyForURL(url, host) {\n"
        "  if (shExpMatch(url, '*/direct/*')) return 'DIRECT';\n"
        "  return 'PROXY " +
        proxy.address() + "';\n}\n";
    pacServer.onGet("/proxy.pac", [script](const httplib::Request&, httplib::Response& res) {
        res.set_content(script, "application/x-ns-proxy-autoconfig");
    });
    target.onGet("/direct/target", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("via=" + req.get_header_value("Via"), "text/plain");
    });
    ASSERT_TRUE(pacServer.start());

    auto resolver = std::make_shared<SystemProxyResolver>();
    resolver->setHttpProxyConfigurationReader(std::make_shared<HttpProxyConfigurationReader>(
        std::make_shared<PacSource>(pacServer.url("/proxy.pac"))));
    auto client = makeClient();

    auto viaProxy = std::make_shared<Request>(target.url("/target"));
    viaProxy->useSystemProxy(true);
    viaProxy->setSystemProxyResolver(resolver);
    Response response;
    ASSERT_EQ(client->execute(viaProxy, response), R::SUCCESS);
    EXPECT_THAT(response.getBodyAsString(), ::testing::HasSubstr("tinyproxy"));
    EXPECT_TRUE(proxy.waitForLog("GET " + target.url("/target"), 5000)) << proxy.log();
    EXPECT_GE(pacServer.requestCount("/proxy.pac"), 1u);

    auto direct = std::make_shared<Request>(target.url("/direct/target"));
    direct->useSystemProxy(true);
    direct->setSystemProxyResolver(resolver);
    ASSERT_EQ(client->execute(direct, response), R::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), "via=");
}

TEST(BasicClientProxyTest, UnusableProxiesEndInTheirResults) {
    HttpServerFixture target;
    echoViaAndAuthorization(target);
    ASSERT_TRUE(target.start());
    const std::vector<std::pair<std::string, R::Result>> cases = {
        {"no-such-proxy.invalid:3128", R::UNRESOLVED_PROXY_ERROR},
        {"127.0.0.1:" + std::to_string(refusedPort()), R::HOST_UNREACHABLE_ERROR},
    };
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        auto req = std::make_shared<Request>(target.url("/target"));
        req->setProxy(explicitProxy(address));
        Response response;
        EXPECT_EQ(makeClient()->execute(req, response), expected);
    }
    EXPECT_EQ(target.requestCount(), 0u);
}

}  // namespace
}  // namespace oxl::http::test

// The most verbose log of whole transfers (every logger at trace, libcurl's own trace included) holds none
// of the secrets the transfers carried: tokens in URLs and redirects, cookies both ways, custom headers
// both ways, server and proxy credentials, and bodies.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "ClientTestSupport.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/Proxy.h"
#include "support/TinyproxyFixture.h"

namespace oxl::http::test {
namespace {

using oxl::test::HttpServerFixture;
using oxl::test::LogCapture;
using oxl::test::TinyproxyFixture;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

std::string base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

const std::string PROXY_USER = "proxyUserQ7f";
const std::string PROXY_PASSWORD = "proxyPassZ2k";

// The two legs of a redirect that sets a cookie, each checking what the client must send.
void serveRedirectWithCookies(HttpServerFixture& server, const std::string& firstPath,
                              const std::string& next) {
    server.onGet(firstPath, [next](const httplib::Request&, httplib::Response& res) {
        res.status = 302;
        res.set_header("Location", next);
        res.set_header("Set-Cookie", "sid=cookieSidV41; Path=/");
        res.set_header("X-Session-Secret", "respHeaderR8s");
    });
    server.onPost(firstPath, [next](const httplib::Request& req, httplib::Response& res) {
        res.status = req.body == "requestBodyB5x" ? 303 : 400;
        res.set_header("Location", next);
        res.set_header("Set-Cookie", "sid=cookieSidV41; Path=/");
    });
    server.onGet("/next", [](const httplib::Request& req, httplib::Response& res) {
        const bool cookies = req.get_header_value("Cookie").find("sid=cookieSidV41") != std::string::npos &&
                             req.get_header_value("Cookie").find("pre=cookiePreC07") != std::string::npos;
        res.status = cookies && req.get_param_value("access_token") == "redirectTokenT2m" ? 200 : 403;
        res.set_header("Set-Cookie", "other=cookieOtherW3; Path=/");
        res.set_content("responseBodyY6p", "text/plain");
    });
}

TEST(TransferLogSecretsTest, TheTraceLogShowsNoSecretOfTransfersThroughAnAuthenticatingProxy) {
    HttpServerFixture plain;
    serveRedirectWithCookies(plain, "/start", "/next?access_token=redirectTokenT2m");
    ASSERT_TRUE(plain.start());
    HttpsServer secure("localhost");
    serveRedirectWithCookies(*secure.operator->(), "/login", "/next?access_token=redirectTokenT2m");
    ASSERT_TRUE(secure.start());
    TinyproxyFixture proxy(
        {.connectPorts = {secure->port()}, .basicAuthUser = PROXY_USER, .basicAuthPassword = PROXY_PASSWORD});
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();

    struct Case {
        std::string name;
        std::string url;
        HttpMethod::Method method;
        AuthenticationType::Value auth;
    };
    const Case cases[] = {
        {"plain HTTP, bearer token", plain.url("/start?access_token=urlTokenT1q"), HttpMethod::GET,
         AuthenticationType::BEARER_TOKEN},
        {"HTTPS tunnel, basic credentials and a body", secure.url("/login?access_token=urlTokenT1q"),
         HttpMethod::POST, AuthenticationType::BASIC},
    };
    const std::vector<std::string> secrets = {"urlTokenT1q",
                                              "redirectTokenT2m",
                                              "bearerTokenT3w",
                                              "cookiePreC07",
                                              "cookieSidV41",
                                              "cookieOtherW3",
                                              "headerValueH9d",
                                              "respHeaderR8s",
                                              "serverUserU4j",
                                              "serverPassP6v",
                                              "requestBodyB5x",
                                              "responseBodyY6p",
                                              PROXY_USER,
                                              PROXY_PASSWORD,
                                              base64(PROXY_USER + ":" + PROXY_PASSWORD),
                                              base64("serverUserU4j:serverPassP6v")};

    auto client = BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, realVerifier(secure.trustFile()),
                                                                nullptr, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = std::make_shared<Request>(c.url);
        auto options = request->getOptions();
        options->method = c.method;
        options->authType = AuthenticationType(c.auth);
        options->credentials =
            std::make_shared<oxl::edge::Credentials>("serverUserU4j", "serverPassP6v", "bearerTokenT3w");
        options->headers->emplace_back("X-Api-Key", "headerValueH9d");
        options->body = oxl::SecureString("requestBodyB5x");
        options->cookies.emplace_back(oxl::common::Cookie(HttpUtils::extractHostFromHttpUrl(c.url) +
                                                          "\tFALSE\t/\tFALSE\t0\tpre\tcookiePreC07"));
        auto viaProxy = std::make_shared<Proxy>();
        viaProxy->setProxyServer(proxy.address(), ProxyType::HTTP);
        viaProxy->setAuthentication(PROXY_USER, std::make_shared<oxl::SecureString>(PROXY_PASSWORD),
                                    ProxyAuthentication::BASIC);
        request->setProxy(viaProxy);

        LogCapture log(OXL_LEVEL_TRACE);
        Response response;
        ASSERT_EQ(client->execute(request, response), HttpClientResult::SUCCESS) << dump(log);
        EXPECT_EQ(response.responseCode, 200);
        EXPECT_EQ(response.getBodyAsString(), "responseBodyY6p");

        // The lines that used to carry the secrets were written, in their redacted form.
        EXPECT_TRUE(log.contains("Proxy auth using Basic with user '[...]'")) << dump(log);
        EXPECT_TRUE(log.contains("Added cookie sid=\"[...]\" for domain")) << dump(log);
        EXPECT_TRUE(log.contains("Issue another request to this URL: '")) << dump(log);
        EXPECT_TRUE(log.contains("< Set-Cookie: Redacted by client")) << dump(log);
        EXPECT_TRUE(log.contains("> X-Api-Key: Redacted")) << dump(log);
        for (const auto& record : log.records()) {
            for (const auto& secret : secrets) {
                EXPECT_EQ(record.message.find(secret), std::string::npos)
                    << "'" << secret << "' in [" << record.logger << "] " << record.message;
            }
        }
    }
    EXPECT_TRUE(proxy.waitForLog("CONNECT localhost:" + std::to_string(secure->port()), 5000)) << proxy.log();
    EXPECT_TRUE(proxy.waitForLog("GET " + plain.url("/next"), 5000)) << proxy.log();
}

}  // namespace
}  // namespace oxl::http::test

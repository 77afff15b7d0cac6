// The loopback servers the HTTP tests stand on, and a resolved system proxy carrying real traffic:
// libcurl through tinyproxy to the in-process HTTP and HTTPS servers.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <memory>

#include "oxl/http/EnvironmentProxySettingsSource.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/ProxyBypassReader.h"
#include "oxl/http/SystemProxyResolver.h"
#include "support/HttpServerFixture.h"
#include "support/TestPki.h"
#include "support/TinyproxyFixture.h"

namespace oxl::http {
namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct Fetched {
    CURLcode code = CURLE_FAILED_INIT;
    long status = 0;
    std::string body;
    std::string tlsVersion;  // "TLSv1.2", "TLSv1.3"; empty for plain HTTP
};

// libcurl reports the negotiated protocol in an information line: "SSL connection using TLSv1.3 / ...".
int trace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    static const std::string marker = "SSL connection using ";
    const std::string text(data, size);
    const auto at = text.find(marker);
    if (type == CURLINFO_TEXT && at != std::string::npos) {
        const auto start = at + marker.size();
        *static_cast<std::string*>(user) = text.substr(start, text.find(' ', start) - start);
    }
    return 0;
}

size_t append(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// proxy: "" for a direct connection. minTls: a CURL_SSLVERSION_* value.
Fetched fetch(const std::string& url, const std::string& proxy, const std::string& caFile = {},
              long minTls = CURL_SSLVERSION_DEFAULT) {
    Fetched out;
    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle) {
        return out;
    }
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());  // "" disables any proxy from the environment
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &out.body);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, minTls);
    if (!caFile.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.c_str());
    }
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, trace);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &out.tlsVersion);
    out.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &out.status);
    return out;
}

void answerHello(test::HttpServerFixture& server) {
    server.onGet("/hello", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("hello from " + req.path, "text/plain");
    });
}

TEST(ProxyFixtureTest, PlainRequestGoesThroughTinyproxy) {
    test::HttpServerFixture server;
    answerHello(server);
    ASSERT_TRUE(server.start());
    test::TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();

    const auto result = fetch(server.url("/hello"), proxy.proxyUrl());
    ASSERT_EQ(result.code, CURLE_OK) << curl_easy_strerror(result.code) << "\n" << proxy.log();
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "hello from /hello");
    EXPECT_TRUE(proxy.waitForLog("GET " + server.url("/hello"), 10000)) << proxy.log();
    ASSERT_EQ(server.requestCount("/hello"), 1u);
    EXPECT_TRUE(server.requests().front().headers.count("Via")) << "the request did not pass the proxy";

    // A direct request reaches the server without the proxy.
    const auto direct = fetch(server.url("/hello"), "");
    ASSERT_EQ(direct.code, CURLE_OK);
    ASSERT_EQ(server.requestCount("/hello"), 2u);
    EXPECT_FALSE(server.requests().back().headers.count("Via"));
}

TEST(ProxyFixtureTest, HttpsThroughConnectOnlyToAllowedPorts) {
    test::TestPki pki;
    const auto chain = pki.makeServerChain("127.0.0.1");
    test::HttpServerFixture::Options tls;
    tls.https = true;
    tls.certFile = chain.certFile;
    tls.keyFile = chain.keyFile;
    test::HttpServerFixture server(tls);
    answerHello(server);
    ASSERT_TRUE(server.start());

    test::TinyproxyFixture allowed({.connectPorts = {server.port()}});
    ASSERT_TRUE(allowed.isRunning()) << allowed.log();
    const auto ok = fetch(server.url("/hello"), allowed.proxyUrl(), chain.trustFile);
    ASSERT_EQ(ok.code, CURLE_OK) << curl_easy_strerror(ok.code) << "\n" << allowed.log();
    EXPECT_EQ(ok.body, "hello from /hello");
    EXPECT_TRUE(allowed.waitForLog("CONNECT " + server.authority(), 10000)) << allowed.log();

    test::TinyproxyFixture refusing;  // no CONNECT port allowed
    ASSERT_TRUE(refusing.isRunning()) << refusing.log();
    const auto refused = fetch(server.url("/hello"), refusing.proxyUrl(), chain.trustFile);
    EXPECT_NE(refused.code, CURLE_OK);
    EXPECT_EQ(server.requestCount("/hello"), 1u);
}

TEST(ProxyFixtureTest, HttpsServerCanBeLimitedToTls12) {
    test::TestPki pki;
    const auto chain = pki.makeServerChain("127.0.0.1");
    struct Case {
        bool tls12Only;
        long clientMinimum;
        bool connects;
        const char* version;
    };
    const Case cases[] = {
        {false, CURL_SSLVERSION_DEFAULT, true, "TLSv1.3"},
        {true, CURL_SSLVERSION_DEFAULT, true, "TLSv1.2"},
        {true, CURL_SSLVERSION_TLSv1_3, false, ""},
    };
    const auto stranger = pki.makeServerChain("127.0.0.1");
    for (const auto& c : cases) {
        test::HttpServerFixture::Options tls;
        tls.https = true;
        tls.certFile = chain.certFile;
        tls.keyFile = chain.keyFile;
        tls.tls12Only = c.tls12Only;
        test::HttpServerFixture server(tls);
        answerHello(server);
        ASSERT_TRUE(server.start());
        const auto result = fetch(server.url("/hello"), "", chain.trustFile, c.clientMinimum);
        EXPECT_EQ(result.code == CURLE_OK, c.connects) << curl_easy_strerror(result.code);
        EXPECT_EQ(result.tlsVersion, c.version) << "tls12Only " << c.tls12Only;
        // Trusting another root, the client refuses the server.
        if (c.connects) {
            EXPECT_EQ(fetch(server.url("/hello"), "", stranger.trustFile).code,
                      CURLE_PEER_FAILED_VERIFICATION);
        }
    }
}

TEST(ProxyFixtureTest, ServerStopsAndCountsPerPath) {
    test::HttpServerFixture server;
    answerHello(server);
    server.onPost("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.body, "text/plain");
    });
    ASSERT_TRUE(server.start());
    EXPECT_FALSE(server.start());  // already running
    EXPECT_EQ(fetch(server.url("/hello"), "").status, 200);
    EXPECT_EQ(fetch(server.url("/nothing"), "").status, 404);
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(server.requestCount("/nothing"), 1u);
    server.resetCounters();
    EXPECT_EQ(server.requestCount(), 0u);
    const std::string url = server.url("/hello");
    server.stop();
    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(fetch(url, "").code, CURLE_COULDNT_CONNECT);
}

// The environment names tinyproxy; the resolver hands it out and the request really passes it, unless the
// host is on the bypass list.
TEST(ProxyFixtureTest, ResolvedSystemProxyCarriesTheRequest) {
    test::HttpServerFixture server;
    answerHello(server);
    ASSERT_TRUE(server.start());
    test::TinyproxyFixture proxy;
    ASSERT_TRUE(proxy.isRunning()) << proxy.log();

    const std::map<std::string, std::string> env = {{"http_proxy", proxy.proxyUrl() + "/"},
                                                    {"no_proxy", ".corp.test"}};
    auto source = std::make_shared<EnvironmentProxySettingsSource>(
        [env](const std::string& name) -> std::optional<std::string> {
            const auto it = env.find(name);
            return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
        });
    SystemProxyResolver resolver;
    resolver.setHttpProxyConfigurationReader(std::make_shared<HttpProxyConfigurationReader>(source));

    const auto resolved = resolver.resolveSystemProxy(server.url("/hello"));
    ASSERT_NE(resolved, nullptr);
    EXPECT_EQ(resolved->getProxyServer(), proxy.address());
    ProxyBypassReader bypass(resolved->getBypassList());
    EXPECT_TRUE(bypass.isProxyRequired("127.0.0.1"));
    EXPECT_FALSE(bypass.isProxyRequired("www.corp.test"));

    const auto result = fetch(server.url("/hello"), resolved->getProxyServer());
    ASSERT_EQ(result.code, CURLE_OK) << curl_easy_strerror(result.code);
    EXPECT_TRUE(proxy.waitForLog("GET " + server.url("/hello"), 10000)) << proxy.log();
}

}  // namespace
}  // namespace oxl::http

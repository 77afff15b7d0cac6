#include <gtest/gtest.h>

#include "EdgeStateTestSupport.h"
#include "oxl/edge/EdgeUtilsImpl.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/adapters/EdgeUtilsAdapter.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using oxl::common::Cookie;
using test::RecordingEdgeState;
using R = EdgeUtils::TransformHttpUrlResult;
using Config = GlobalEdgeState::GetEdgeConfigurationResult;
using Transform = oxl::http::EdgeTransformer::TransformRequestResult;

// Base64url of "corp.test/https/files.corp.test/8443" and of "corp.test/https/files.corp.test".
constexpr const char* TOKEN_8443 = "Y29ycC50ZXN0L2h0dHBzL2ZpbGVzLmNvcnAudGVzdC84NDQz";
constexpr const char* TOKEN_443 = "Y29ycC50ZXN0L2h0dHBzL2ZpbGVzLmNvcnAudGVzdA";

EdgeConfig twoHttpEdgeServers() {
    EdgeConfig config;
    EdgeService http;
    http.serverLocations = {{"edge1.ext.test", 8443, 0}, {"fd00::2", 443, 0}};
    config.setHttpEdgeService(http);
    config.addCookie(Cookie("edge1.ext.test\tFALSE\t/\tTRUE\t1900000000\tX-Auth\tsession"));
    return config;
}

// Publishes a recording state holding a two-server configuration for one test.
class EdgeUtilsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state->configuration = Config(Config::SUCCESS, twoHttpEdgeServers());
        state->asyncAnswer = state->configuration;
        state->domain = "corp.test";
        oxl::netutils::GlobalEdgeStateController::setInstanceForTesting(state);
    }
    void TearDown() override { oxl::netutils::GlobalEdgeStateController::resetForTesting(); }

    std::shared_ptr<RecordingEdgeState> state = std::make_shared<RecordingEdgeState>();
    EdgeUtilsImpl utils;
};

TEST_F(EdgeUtilsTest, TokenizedBaseUrl) {
    const struct {
        std::string domain;
        std::string url;
        R::Result result;
        std::string token;
    } table[] = {
        {"corp", "https://files.corp:8443/a/b?c=1", R::SUCCESS, "Y29ycC9odHRwcy9maWxlcy5jb3JwLzg0NDM"},
        {"corp", "http://h/x", R::SUCCESS, "Y29ycC9odHRwL2g"},
        {"corp", "https://[fd00::1]:8443/x", R::SUCCESS, "Y29ycC9odHRwcy9mZDAwOjoxLzg0NDM"},
        {"corp", "https://[fd00::1]/x", R::SUCCESS, "Y29ycC9odHRwcy9mZDAwOjox"},
        {"", "http://h/x", R::EDGE_DOMAIN_NOT_SET, ""},
        {"corp", "files.corp/x", R::MALFORMED_REQUEST, ""},
        {"corp", "https://", R::MALFORMED_REQUEST, ""},
        {"corp", "https://:8443/x", R::MALFORMED_REQUEST, ""},
        {"corp", "", R::MALFORMED_REQUEST, ""},
    };
    for (const auto& row : table) {
        state->domain = row.domain;
        std::string out = "stale";
        EXPECT_EQ(utils.buildTokenizedBaseUrlEncoded(row.url, out), row.result) << row.url;
        EXPECT_EQ(out, row.token) << row.url;
    }
}

TEST_F(EdgeUtilsTest, TransformHttpUrl) {
    const std::string t = TOKEN_8443;
    const struct {
        const char* name;
        std::string url;
        std::function<void()> arrange;
        R::Result result;
        std::deque<std::string> urls;
    } table[] = {
        {"path and query",
         "https://files.corp.test:8443/a/b?c=1&d=%2F",
         [] {},
         R::SUCCESS,
         {"https://edge1.ext.test:8443/" + t + "/a/b?c=1&d=%2F",
          "https://[fd00::2]:443/" + t + "/a/b?c=1&d=%2F"}},
        {"query without a path",
         "https://files.corp.test?q=a/b",
         [] {},
         R::SUCCESS,
         {"https://edge1.ext.test:8443/" + std::string(TOKEN_443) + "/?q=a/b",
          "https://[fd00::2]:443/" + std::string(TOKEN_443) + "/?q=a/b"}},
        {"no path",
         "https://files.corp.test",
         [] {},
         R::SUCCESS,
         {"https://edge1.ext.test:8443/" + std::string(TOKEN_443),
          "https://[fd00::2]:443/" + std::string(TOKEN_443)}},
        {"empty url", "", [] {}, R::MALFORMED_REQUEST, {}},
        {"no protocol", "files.corp.test/a", [] {}, R::MALFORMED_REQUEST, {}},
        {"no domain",
         "https://files.corp.test/a",
         [this] { state->domain.clear(); },
         R::EDGE_DOMAIN_NOT_SET,
         {}},
        {"authentication failed",
         "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::EDGE_AUTHENTICATION_FAILED); },
         R::EDGE_AUTHENTICATION_FAILED,
         {}},
        {"tls failure",
         "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::SSL_CONNECTION_ERROR); },
         R::EDGE_SSL_CONNECTION_ERROR,
         {}},
        {"rate limited",
         "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::TOO_MANY_REQUESTS); },
         R::EDGE_CONFIG_UNAVAILABLE,
         {}},
        {"no http edge server",
         "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::SUCCESS, EdgeConfig()); },
         R::HTTP_EDGE_SERVER_UNAVAILABLE,
         {}},
        // A server whose port cannot be written keeps its place in the list, empty.
        {"unusable port",
         "https://files.corp.test/a",
         [this] {
             auto config = twoHttpEdgeServers();
             config.httpEdgeService.serverLocations[1].tlsPort = 70000;
             state->configuration = Config(Config::SUCCESS, config);
         },
         R::SUCCESS,
         {"https://edge1.ext.test:8443/" + std::string(TOKEN_443) + "/a", ""}},
    };
    for (const auto& row : table) {
        SetUp();
        row.arrange();
        const auto result = utils.transformHttpUrl(row.url);
        EXPECT_EQ(result.result, row.result) << row.name;
        EXPECT_EQ(result.urls, row.urls) << row.name;
        EXPECT_EQ(result.tokenizedBaseUrlEncoded.empty(), row.result != R::SUCCESS) << row.name;
    }
}

TEST_F(EdgeUtilsTest, TransformForOneEdgeServer) {
    const std::string url = "https://files.corp.test/a?b";
    auto one = utils.transformHttpUrl(url, EdgeServiceLocation("fd00::2", 443, 0));
    EXPECT_EQ(one.result, R::SUCCESS);
    EXPECT_EQ(one.urls, std::deque<std::string>{"https://[fd00::2]:443/" + std::string(TOKEN_443) + "/a?b"});
    // The UDP port is part of the identity of a server.
    auto other = utils.transformHttpUrl(url, EdgeServiceLocation("fd00::2", 443, 1));
    EXPECT_EQ(other.result, R::HTTP_EDGE_SERVER_UNAVAILABLE);
    EXPECT_TRUE(other.urls.empty());
    // For one server a TLS failure is only "no configuration".
    state->configuration = Config(Config::SSL_CONNECTION_ERROR);
    EXPECT_EQ(utils.transformHttpUrl(url, EdgeServiceLocation("fd00::2", 443, 0)).result,
              R::EDGE_CONFIG_UNAVAILABLE);
}

std::vector<std::string> lines(const std::vector<Cookie>& cookies) {
    std::vector<std::string> out;
    for (const auto& c : cookies) {
        out.push_back(c.getRawFormat());
    }
    return out;
}

TEST_F(EdgeUtilsTest, CookiesRoundTrip) {
    const std::string requestUrl = "https://files.corp.test/app/index";
    const auto transformed = utils.transformHttpUrl(requestUrl);
    ASSERT_EQ(transformed.result, R::SUCCESS);
    const std::string t = transformed.tokenizedBaseUrlEncoded;
    const std::vector<Cookie> cookies = {
        Cookie(".files.corp.test\tTRUE\t/app\tFALSE\t0\tsid\tv1"),
        Cookie("FILES.corp.test\tFALSE\t/\tTRUE\t0\tpref\tv2"),
        Cookie("other.corp.test\tFALSE\t/app\tFALSE\t0\tx\tv3"),
        Cookie("other.corp.test\tFALSE\t/\tFALSE\t0\ty\tv4"),
        Cookie("#HttpOnly_files.corp.test\tFALSE\t/app/deep\tFALSE\t0\th\tv5"),
        Cookie("files.corp.test\tFALSE\t/" + t + "/app\tFALSE\t0\tdone\tv6"),
    };
    std::vector<Cookie> out;
    ASSERT_EQ(utils.transformHttpCookies(requestUrl, cookies, transformed, out), R::SUCCESS);
    std::vector<std::string> expected;
    for (const std::string edge : {"edge1.ext.test", "fd00::2"}) {
        expected.push_back(edge + "\tTRUE\t/" + t + "/app\tFALSE\t0\tsid\tv1");
        expected.push_back(edge + "\tFALSE\t/\tTRUE\t0\tpref\tv2");
        expected.push_back("other.corp.test\tFALSE\t/" + t + "/app\tFALSE\t0\tx\tv3");
        expected.push_back("#HttpOnly_" + edge + "\tFALSE\t/" + t + "/app/deep\tFALSE\t0\th\tv5");
        expected.push_back(edge + "\tFALSE\t/" + t + "/app\tFALSE\t0\tdone\tv6");
    }
    EXPECT_EQ(lines(out), expected);

    // Back: exactly the cookies under the tokenized path go, the cookies of "/" stay, and so does a cookie of
    // another internal server whose token merely starts with the same characters.
    std::vector<Cookie> jar = cookies;
    jar.insert(jar.end(), out.begin(), out.end());
    jar.emplace_back("edge1.ext.test\tFALSE\t/" + t + "Zm9v/x\tFALSE\t0\tneighbour\tv7");
    ASSERT_EQ(utils.removeTransformedCookies(jar, requestUrl), R::SUCCESS);
    std::vector<std::string> kept = lines(cookies);
    kept.erase(kept.begin() + 5);  // the one that was already under the token
    kept.push_back("edge1.ext.test\tFALSE\t/\tTRUE\t0\tpref\tv2");
    kept.push_back("fd00::2\tFALSE\t/\tTRUE\t0\tpref\tv2");
    kept.push_back("edge1.ext.test\tFALSE\t/" + t + "Zm9v/x\tFALSE\t0\tneighbour\tv7");
    std::sort(kept.begin(), kept.end());
    auto left = lines(jar);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, kept);
}

TEST_F(EdgeUtilsTest, CookieFailuresLeaveTheOutputAlone) {
    const std::vector<Cookie> cookies = {Cookie("files.corp.test\tFALSE\t/app\tFALSE\t0\tsid\tv1")};
    std::vector<Cookie> out = {Cookie("keep\tFALSE\t/\tFALSE\t0\tk\tv")};
    const R failed({}, R::EDGE_AUTHENTICATION_FAILED);
    EXPECT_EQ(utils.transformHttpCookies("https://files.corp.test/app", cookies, failed, out),
              R::EDGE_AUTHENTICATION_FAILED);
    const auto ok = utils.transformHttpUrl("https://files.corp.test/app");
    EXPECT_EQ(utils.transformHttpCookies("https:///app", cookies, ok, out), R::MALFORMED_REQUEST);
    EXPECT_EQ(out.size(), 1u);

    state->domain.clear();
    std::vector<Cookie> jar = {
        Cookie("edge1.ext.test\tFALSE\t/" + ok.tokenizedBaseUrlEncoded + "/app\tFALSE\t0\ts\tv")};
    EXPECT_EQ(utils.removeTransformedCookies(jar, "https://files.corp.test/app"), R::EDGE_DOMAIN_NOT_SET);
    EXPECT_EQ(jar.size(), 1u);
}

TEST_F(EdgeUtilsTest, HttpCookiesComeFromAHeldConfigurationOnly) {
    EXPECT_EQ(lines(utils.getHttpCookies()),
              std::vector<std::string>{"edge1.ext.test\tFALSE\t/\tTRUE\t1900000000\tX-Auth\tsession"});
    oxl::test::LogCapture log;
    state->asyncAnswer = Config(Config::REQUEST_SUBMITTED);
    EXPECT_TRUE(utils.getHttpCookies().empty());
    EXPECT_TRUE(log.contains("an async GetEdgeConfig has been queued, requestId: 42"));
    state->asyncAnswer = Config(Config::EDGE_CONNECTIVITY_UNAVAILABLE);
    EXPECT_TRUE(utils.getHttpCookies().empty());
    EXPECT_EQ(state->calls().back(), "getEdgeConfigurationAsync");
}

TEST(EdgeUtilsWithoutStateTest, NothingIsThrownBeforeInitialisation) {
    oxl::netutils::GlobalEdgeStateController::resetForTesting();
    EdgeUtilsImpl utils;
    EXPECT_EQ(utils.transformHttpUrl("https://files.corp.test/a").result, R::EDGE_CONFIG_UNAVAILABLE);
    EXPECT_EQ(utils.getCredentials(), nullptr);
    EXPECT_EQ(utils.getUserAgent(), "Quillo-Win");
}

std::shared_ptr<oxl::http::HttpRequestData> requestFor(const std::string& url) {
    return std::make_shared<oxl::http::HttpRequestData>(std::make_shared<oxl::http::Request>(url), nullptr);
}

TEST_F(EdgeUtilsTest, AdapterRewritesTheRequest) {
    state->credentials = std::make_shared<Credentials>("alice", "pw", "edge-token");
    auto utilsPtr = std::make_shared<EdgeUtilsImpl>();
    oxl::netutils::adapters::EdgeUtilsAdapter adapter(utilsPtr);
    auto data = requestFor("https://files.corp.test/app?q=1");
    auto options = data->getOptions();
    options->cookies = {Cookie("files.corp.test\tFALSE\t/app\tFALSE\t0\tsid\tv1")};
    options->identifierToDisplay = "Files";
    options->useProvidedIdentity = true;
    options->identities = {"files.corp.test"};
    data = std::make_shared<oxl::http::HttpRequestData>(data->getRequest(), nullptr);
    EXPECT_FALSE(adapter.isRequestTransformed(data->getWrapper()));

    ASSERT_EQ(adapter.transformRequestUsingXEdgeAuth(*data), Transform::SUCCESS);
    const std::string t = TOKEN_443;
    EXPECT_EQ(options->url, "https://edge1.ext.test:8443/" + t + "/app?q=1");
    EXPECT_TRUE(adapter.isRequestTransformed(data->getWrapper()));
    EXPECT_TRUE(data->hasFailoverUrl());
    ASSERT_TRUE(data->switchToNextUrl(oxl::http::HttpClientResult::HOST_UNREACHABLE_ERROR));
    EXPECT_EQ(options->url, "https://[fd00::2]:443/" + t + "/app?q=1");
    EXPECT_FALSE(data->hasFailoverUrl());
    // The caller's cookie, its copy per edge server, then the edge session cookie.
    const auto sent = lines(options->cookies);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1], "edge1.ext.test\tFALSE\t/" + t + "/app\tFALSE\t0\tsid\tv1");
    EXPECT_EQ(sent[3], "edge1.ext.test\tFALSE\t/\tTRUE\t1900000000\tX-Auth\tsession");
    EXPECT_EQ(*options->headers, (oxl::http::HttpHeaders{{"X-EdgeAuth", "Bearer edge-token"}}));
    EXPECT_TRUE(data->certIdentity().identifierToDisplay.empty());
    EXPECT_TRUE(data->certIdentity().referenceIdentifiers.empty());

    oxl::http::Response response;
    response.cookies = options->cookies;
    EXPECT_EQ(adapter.removeTransformedCookies(response, "https://files.corp.test/app?q=1"),
              Transform::SUCCESS);
    EXPECT_EQ(response.cookies.size(), 2u);
}

TEST_F(EdgeUtilsTest, AdapterFailuresLeaveTheRequestAlone) {
    oxl::netutils::adapters::EdgeUtilsAdapter adapter(std::make_shared<EdgeUtilsImpl>());
    const struct {
        const char* name;
        std::string url;
        std::function<void()> arrange;
        Transform::Result result;
    } table[] = {
        {"no configuration", "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::EDGE_CONNECTIVITY_UNAVAILABLE); },
         Transform::EDGE_ENVIRONMENT_UNAVAILABLE},
        {"no domain", "https://files.corp.test/a", [this] { state->domain.clear(); },
         Transform::EDGE_ENVIRONMENT_UNAVAILABLE},
        {"refused credentials", "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::EDGE_AUTHENTICATION_FAILED); },
         Transform::EDGE_AUTHENTICATION_FAILED},
        {"tls", "https://files.corp.test/a",
         [this] { state->configuration = Config(Config::SSL_CONNECTION_ERROR); },
         Transform::EDGE_SSL_CONNECTION_ERROR},
        {"malformed", "files.corp.test", [] {}, Transform::MALFORMED_REQUEST},
        {"no session cookie yet", "https://files.corp.test/a",
         [this] { state->asyncAnswer = Config(Config::REQUEST_SUBMITTED); },
         Transform::EDGE_ENVIRONMENT_UNAVAILABLE},
    };
    for (const auto& row : table) {
        SetUp();
        row.arrange();
        auto data = requestFor(row.url);
        EXPECT_EQ(adapter.transformRequest(*data), row.result) << row.name;
        EXPECT_EQ(data->getOptions()->url, row.url) << row.name;
        EXPECT_TRUE(data->getOptions()->cookies.empty()) << row.name;
        EXPECT_FALSE(data->hasFailoverUrl()) << row.name;
    }
    // The edge session's token never rides on a request that was not rewritten.
    state->credentials = std::make_shared<Credentials>("alice", "pw", "edge-token");
    state->configuration = Config(Config::EDGE_CONNECTIVITY_UNAVAILABLE);
    auto direct = requestFor("https://files.corp.test/a");
    EXPECT_EQ(adapter.transformRequestUsingXEdgeAuth(*direct), Transform::EDGE_ENVIRONMENT_UNAVAILABLE);
    EXPECT_TRUE(direct->getOptions()->headers->empty());
    oxl::http::HttpRequestData invalid(nullptr, nullptr);
    EXPECT_EQ(adapter.transformRequest(invalid), Transform::INVALID_PARAMETERS);
}

TEST_F(EdgeUtilsTest, AdapterAuthenticationVariants) {
    oxl::netutils::adapters::EdgeUtilsAdapter adapter(std::make_shared<EdgeUtilsImpl>());
    auto withToken = requestFor("https://files.corp.test/a");
    withToken->getOptions()->credentials = std::make_shared<Credentials>("", "", "request-token");
    ASSERT_EQ(adapter.transformRequestUsingRequestOAuthToken(*withToken), Transform::SUCCESS);
    EXPECT_EQ(withToken->getOptions()->authType, oxl::http::AuthenticationType::BEARER_TOKEN);

    // Without an edge token the header is left out, but the request still goes through the edge.
    auto noEdgeToken = requestFor("https://files.corp.test/a");
    ASSERT_EQ(adapter.transformRequestUsingXEdgeAuth(*noEdgeToken), Transform::SUCCESS);
    EXPECT_TRUE(noEdgeToken->getOptions()->headers->empty());
    EXPECT_TRUE(adapter.isRequestTransformed(noEdgeToken->getWrapper()));
}

}  // namespace
}  // namespace oxl::edge

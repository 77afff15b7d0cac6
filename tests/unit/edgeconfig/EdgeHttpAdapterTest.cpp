// The adapter's mapping of the HTTP client's results, and the request it hands to the client.
#include <gtest/gtest.h>

#include <sstream>

#include "oxl/http/BasicHttpClient.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"

namespace oxl::netutils::adapters {
namespace {

using E = oxl::edge::EdgeConfigHttpClient;
using H = oxl::http::HttpClientResult;

TEST(EdgeHttpAdapter, ResultMapping) {
    const std::pair<int, E::Result> cases[] = {
        {H::SUCCESS, E::SUCCESS},
        {H::URL_NOT_SET_ERROR, E::INTERNAL_ERROR},
        {H::HTTP_CONFIGURATION_ERROR, E::INTERNAL_ERROR},
        {H::UNRESOLVED_HOST_ERROR, E::FAILED_TO_RESOLVE_HOST},
        {H::HOST_UNREACHABLE_ERROR, E::CONNECTION_FAILED},
        {H::CONNECTION_TIMEOUT_ERROR, E::CONNECTION_FAILED},
        {H::CERTIFICATE_VALIDATION_ERROR, E::CERTIFICATE_VALIDATION_ERROR},
        {H::CLIENT_CERTIFICATE_ERROR, E::CERTIFICATE_VALIDATION_ERROR},
        {H::SSL_CONNECTION_ERROR, E::SSL_CONNECTION_ERROR},
        {H::RESPONSE_TOO_LARGE_ERROR, E::RESPONSE_TOO_LARGE},
        {H::REQUEST_CANCELLED, E::UNKNOWN_ERROR},
        {H::UNSUPPORTED_PROTOCOL_ERROR, E::UNKNOWN_ERROR},
        {H::COULDNT_RESOLVE_PROXY_ERROR, E::UNKNOWN_ERROR},
        {11, E::UNKNOWN_ERROR},
        {H::POLICY_NOT_ENFORCED_ERROR, E::UNKNOWN_ERROR},
        {H::POLICY_NOT_AVAILABLE_ERROR, E::UNKNOWN_ERROR},
        {H::UNRESOLVED_PROXY_ERROR, E::UNKNOWN_ERROR},
        {H::REQUEST_LOST, E::UNKNOWN_ERROR},
        {H::FILE_READ_ERROR, E::UNKNOWN_ERROR},
        {H::EDGE_AUTHENTICATION_FAILED, E::UNKNOWN_ERROR},
        {H::FILE_WRITE_ERROR, E::UNKNOWN_ERROR},
        {H::UNKNOWN_ERROR, E::UNKNOWN_ERROR},
        {99, E::UNKNOWN_ERROR},
    };
    for (const auto& [httpResult, expected] : cases) {
        EXPECT_EQ(EdgeHttpAdapter::mapResult(static_cast<H::Result>(httpResult)), expected) << httpResult;
    }
    std::ostringstream os;
    os << E::SSL_CONNECTION_ERROR;
    EXPECT_EQ(os.str(), "SSL_CONNECTION_ERROR");
}

// A client that records the request it was given and answers from a script.
class ScriptedClient : public oxl::http::BasicHttpClient {
  public:
    ScriptedClient() : BasicHttpClient({}, false) {}
    H::Result execute(std::shared_ptr<oxl::http::Request> request, oxl::http::Response& response) override {
        seen = request;
        if (throwIt) {
            throw std::runtime_error("client broke");
        }
        response = answer;
        return result;
    }
    oxl::http::HttpClientError::Error executeAsync(std::shared_ptr<oxl::http::Request>,
                                                   unsigned int&) override {
        return oxl::http::HttpClientError::UNKNOWN_ERROR;
    }
    oxl::http::HttpClientError::Error downloadAsync(std::shared_ptr<oxl::http::Request>, const std::string&,
                                                    unsigned int&) override {
        return oxl::http::HttpClientError::UNKNOWN_ERROR;
    }
    oxl::http::HttpClientError::Error uploadAsync(std::shared_ptr<oxl::http::Request>, const std::string&,
                                                  unsigned int&) override {
        return oxl::http::HttpClientError::UNKNOWN_ERROR;
    }

    std::shared_ptr<oxl::http::Request> seen;
    oxl::http::Response answer;
    H::Result result = H::SUCCESS;
    bool throwIt = false;
};

TEST(EdgeHttpAdapter, BuildsTheRequest) {
    auto client = std::make_shared<ScriptedClient>();
    const oxl::common::Cookie sent("edge\tFALSE\t/\tTRUE\t4102444800\tX-Auth\told");
    client->answer.responseCode = 200;
    client->answer.body->assign({'o', 'k'});
    EdgeHttpAdapter adapter;
    adapter.setCustomHttpClientForTesting(client);

    struct Case {
        bool token;
        int authType;
    };
    for (const Case c : {Case{false, oxl::http::AuthenticationType::BASIC},
                         Case{true, oxl::http::AuthenticationType::BEARER_TOKEN}}) {
        oxl::edge::HttpClientRequest request;
        request.url = "https://edge:443/Y29ycA/get_edge_refresh";
        request.username = "alice";
        request.password = "pw";
        request.oauthToken = c.token ? "tok" : "";
        request.xAuthCookie = sent;
        oxl::edge::HttpClientResponse response;
        ASSERT_EQ(adapter.execute(request, response), E::SUCCESS);
        ASSERT_TRUE(client->seen);
        const auto options = client->seen->getOptions();
        EXPECT_EQ(options->url, request.url);
        EXPECT_EQ(options->method, oxl::http::HttpMethod::GET);
        EXPECT_EQ(static_cast<int>(options->authType), c.authType);
        ASSERT_TRUE(options->credentials);
        EXPECT_EQ(options->credentials->username, "alice");
        EXPECT_TRUE(options->credentials->password.sharesDataWith(request.password));
        EXPECT_TRUE(options->credentials->token.sharesDataWith(request.oauthToken));
        ASSERT_EQ(options->cookies.size(), 1u);
        EXPECT_EQ(options->cookies[0], sent);
        EXPECT_EQ(*options->headers, (oxl::http::HttpHeaders{{"User-Agent", "Quillo-Win"}}));
        EXPECT_EQ(options->maxResponseBodySize, EdgeHttpAdapter::DEFAULT_MAX_RESPONSE_BODY_SIZE);
        EXPECT_EQ(response.httpCode, 200u);
        EXPECT_EQ(response.body, "ok");
    }

    oxl::edge::HttpClientRequest plain;
    plain.url = "https://edge:443/x";
    oxl::edge::HttpClientResponse response;
    ASSERT_EQ(adapter.execute(plain, response), E::SUCCESS);
    EXPECT_TRUE(client->seen->getOptions()->cookies.empty()) << "an empty cookie is not sent";
    adapter.setMaxResponseBodySize(1234);
    ASSERT_EQ(adapter.execute(plain, response), E::SUCCESS);
    EXPECT_EQ(client->seen->getOptions()->maxResponseBodySize, 1234u);

    client->throwIt = true;
    EXPECT_EQ(adapter.execute(plain, response), E::INTERNAL_ERROR);
}

// The response carries one cookie per Set-Cookie header of the answer, whatever the cookie engine also holds
// (it always holds the cookie sent along).
TEST(EdgeHttpAdapter, ResponseCookiesAreTheSetCookieHeadersOfTheAnswer) {
    const std::string sent = "edge\tFALSE\t/\tTRUE\t4102444800\tX-Auth\told";
    const std::string fresh = "edge\tFALSE\t/\tTRUE\t4102444900\tX-Auth\tnew";
    const std::string sameAgain = "edge\tFALSE\t/\tTRUE\t4102444999\tX-Auth\told";
    const std::string clearedInJar = "edge\tFALSE\t/\tTRUE\t1\tX-Auth\t";
    const std::string session = "edge\tFALSE\t/\tFALSE\t0\tsession\tx";
    struct Case {
        const char* title;
        std::vector<std::string> setCookies;
        std::vector<std::string> jar;
        // Raw lines of the response's cookies, in order.
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"new value", {"X-Auth=new; Path=/; Max-Age=3600; Secure"}, {sent, fresh}, {fresh}},
        {"same value set again", {"X-Auth=old; Path=/; Max-Age=3600; Secure"}, {sameAgain}, {sameAgain}},
        {"same line set again", {"X-Auth=old; Path=/; Secure"}, {sent}, {sent}},
        {"cleared, kept expired by the engine",
         {"X-Auth=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Secure"},
         {clearedInJar},
         {clearedInJar}},
        {"cleared by Max-Age, dropped by the engine",
         {"X-Auth=; Max-Age=0; Path=/; Secure"},
         {},
         {"edge\tFALSE\t/\tTRUE\t1\tX-Auth\t"}},
        {"cleared with a domain attribute",
         {"X-Auth=gone; Domain=.Edge; Max-Age=-1"},
         {sent},
         {".edge\tTRUE\t/\tFALSE\t1\tX-Auth\tgone"}},
        {"no Set-Cookie: the cookie sent along is not the edge's answer", {}, {sent}, {}},
        {"refused by the engine (not in the jar, not cleared)", {"other=1; Domain=other.test"}, {sent}, {}},
        {"nameless and malformed headers", {"=v", "novalue", ""}, {sent}, {}},
        {"quoted value",
         {"X-Auth=\"new\"; Path=/"},
         {"edge\tFALSE\t/\tTRUE\t0\tX-Auth\t\"new\""},
         {"edge\tFALSE\t/\tTRUE\t0\tX-Auth\t\"new\""}},
        {"every header, in header order",
         {"session=x", "X-Auth=new; Max-Age=60"},
         {fresh, sent, session},
         {session, fresh}},
    };
    for (const auto& c : cases) {
        auto client = std::make_shared<ScriptedClient>();
        client->answer.responseCode = 200;
        client->answer.headers->emplace_back("Content-Type", "text/xml");
        for (const auto& header : c.setCookies) {
            client->answer.headers->emplace_back("set-cookie", header);
        }
        for (const auto& line : c.jar) {
            client->answer.cookies.emplace_back(line);
        }
        EdgeHttpAdapter adapter;
        adapter.setCustomHttpClientForTesting(client);
        oxl::edge::HttpClientRequest request;
        request.url = "https://edge:443/Y29ycA/get_edge_refresh";
        request.username = "alice";
        request.password = "pw";
        request.xAuthCookie = oxl::common::Cookie(sent);
        oxl::edge::HttpClientResponse response;
        ASSERT_EQ(adapter.execute(request, response), E::SUCCESS) << c.title;
        std::vector<std::string> lines;
        for (const auto& cookie : response.cookies) {
            lines.push_back(cookie.getRawFormat());
        }
        EXPECT_EQ(lines, c.expected) << c.title;
    }
}

}  // namespace
}  // namespace oxl::netutils::adapters

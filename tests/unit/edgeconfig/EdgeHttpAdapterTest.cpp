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

TEST(EdgeHttpAdapter, BuildsTheRequestAndKeepsOnlyCookiesTheEdgeSet) {
    auto client = std::make_shared<ScriptedClient>();
    const oxl::common::Cookie sent("edge\tFALSE\t/\tTRUE\t4102444800\tX-Auth\told");
    const oxl::common::Cookie fresh("edge\tFALSE\t/\tTRUE\t4102444801\tX-Auth\tnew");
    const oxl::common::Cookie cleared("edge\tFALSE\t/\tTRUE\t1\tother\t");
    const oxl::common::Cookie session("edge\tFALSE\t/\tFALSE\t0\tsession\tx");
    client->answer.responseCode = 200;
    client->answer.body->assign({'o', 'k'});
    client->answer.cookies = {sent, fresh, cleared, session};
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
        EXPECT_EQ(response.httpCode, 200u);
        EXPECT_EQ(response.body, "ok");
        std::vector<std::string> names;
        for (const auto& k : response.cookies) {
            names.push_back(k.getName() + "=" + k.getValue());
        }
        EXPECT_EQ(names, (std::vector<std::string>{"X-Auth=new", "session=x"}));
    }

    oxl::edge::HttpClientRequest plain;
    plain.url = "https://edge:443/x";
    oxl::edge::HttpClientResponse response;
    ASSERT_EQ(adapter.execute(plain, response), E::SUCCESS);
    EXPECT_TRUE(client->seen->getOptions()->cookies.empty()) << "an empty cookie is not sent";

    client->throwIt = true;
    EXPECT_EQ(adapter.execute(plain, response), E::INTERNAL_ERROR);
}

}  // namespace
}  // namespace oxl::netutils::adapters

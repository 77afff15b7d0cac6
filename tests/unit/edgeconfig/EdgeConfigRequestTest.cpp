// The request: URL construction, the validation order, what reaches the HTTP client, and how transport
// outcomes map. The HTTP client is the request's own seam, replaced here by a recording fake; the HTTP
// status mapping is exercised against a real server in the integration tests.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "oxl/diag/Diagnostics.h"
#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using oxl::common::Cookie;
using R = EdgeConfigRequest;

class FakeHttpClient : public EdgeConfigHttpClient {
  public:
    Result execute(const HttpClientRequest& request, HttpClientResponse& response) override {
        requests.push_back(request);
        if (throwOnExecute) {
            throw std::runtime_error("transport exploded");
        }
        response = answer;
        return result;
    }
    Result result = SUCCESS;
    HttpClientResponse answer;
    bool throwOnExecute = false;
    std::vector<HttpClientRequest> requests;
};

EdgeConfigParams params() {
    EdgeConfigParams p;
    p.host = "edgehost";
    p.port = 8443;
    p.domain = "corp";
    p.username = "alice";
    p.password = "pw";
    return p;
}

const char* VALID_BODY =
    "<getEdgeConfigResponse><edgeConfig>"
    "<sipEdgeServer><server><address>s</address><tlsPort>1</tlsPort></server></sipEdgeServer>"
    "<xmppEdgeServer><server><address>x</address><tlsPort>2</tlsPort></server></xmppEdgeServer>"
    "<httpEdgeServer><server><address>h</address><tlsPort>3</tlsPort></server></httpEdgeServer>"
    "<sipRequest><r>route</r></sipRequest></edgeConfig></getEdgeConfigResponse>";

TEST(EdgeConfigRequestUrl, Construction) {
    struct Case {
        const char* title;
        std::function<void(EdgeConfigParams&)> change;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"services in order",
         [](EdgeConfigParams& p) {
             p.serviceNames = {"svc1", "svc2"};
         },
         "https://edgehost:8443/Y29ycA/get_edge_config?service_name=svc1&service_name=svc2"},
        {"no services", [](EdgeConfigParams&) {}, "https://edgehost:8443/Y29ycA/get_edge_config"},
        {"refresh", [](EdgeConfigParams& p) { p.isRefresh = true; },
         "https://edgehost:8443/Y29ycA/get_edge_refresh"},
        {"refresh with zero ttl", [](EdgeConfigParams& p) { p.isRefresh = p.zeroTtl = true; },
         "https://edgehost:8443/Y29ycA/get_edge_refresh?ttl=0"},
        {"zero ttl without refresh is ignored", [](EdgeConfigParams& p) { p.zeroTtl = true; },
         "https://edgehost:8443/Y29ycA/get_edge_config"},
        {"refresh with services",
         [](EdgeConfigParams& p) {
             p.isRefresh = true;
             p.serviceNames = {"a"};
         },
         "https://edgehost:8443/Y29ycA/get_edge_refresh?service_name=a"},
        {"zero ttl with services joins with &",
         [](EdgeConfigParams& p) {
             p.isRefresh = p.zeroTtl = true;
             p.serviceNames = {"a", "b"};
         },
         "https://edgehost:8443/Y29ycA/get_edge_refresh?ttl=0&service_name=a&service_name=b"},
        {"names go in as they are",
         [](EdgeConfigParams& p) {
             p.serviceNames = {"_sip._tls&x=y", ""};
         },
         "https://edgehost:8443/Y29ycA/get_edge_config?service_name=_sip._tls&x=y&service_name="},
        {"IPv6 literal is bracketed",
         [](EdgeConfigParams& p) {
             p.host = "fd00::1";
             p.port = 443;
         },
         "https://[fd00::1]:443/Y29ycA/get_edge_config"},
        {"IPv4 literal",
         [](EdgeConfigParams& p) {
             p.host = "192.0.2.7";
             p.port = 1;
         },
         "https://192.0.2.7:1/Y29ycA/get_edge_config"},
        {"URL-safe alphabet without padding", [](EdgeConfigParams& p) { p.domain = "\xfb\xff"; },
         "https://edgehost:8443/-_8/get_edge_config"},
        {"longer domain", [](EdgeConfigParams& p) { p.domain = "example.com"; },
         "https://edgehost:8443/ZXhhbXBsZS5jb20/get_edge_config"},
        {"port out of range leaves the first part empty", [](EdgeConfigParams& p) { p.port = 65536; },
         "/get_edge_config"},
        {"highest port", [](EdgeConfigParams& p) { p.port = 65535; },
         "https://edgehost:65535/Y29ycA/get_edge_config"},
    };
    for (const auto& c : cases) {
        EdgeConfigParams p = params();
        c.change(p);
        EXPECT_EQ(EdgeConfigRequestImpl::createRequestUrl(p), c.expected) << c.title;
    }

    oxl::test::LogCapture log;
    EdgeConfigParams bad = params();
    bad.port = 70000;
    EdgeConfigRequestImpl::createRequestUrl(bad);
    EXPECT_EQ(log.count("Unable to append the port to this hostname: edgehost", "oxl.edge"), 1u);
}

TEST(EdgeConfigRequestUrl, RecordedForDiagnostics) {
    auto sink = std::make_shared<OXLDiagnostics::MemoryDiagnosticsSink>();
    OXLDiagnostics::DiagnosticsWrapper::setSink(sink);
    EdgeConfigParams p = params();
    p.serviceNames = {"s"};
    const std::string url = EdgeConfigRequestImpl::createRequestUrl(p);
    OXLDiagnostics::DiagnosticsWrapper::setSink(nullptr);

    const auto records = sink->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].recordType, 0);
    EXPECT_EQ(records[0].section, 0);
    EXPECT_EQ(records[0].name, "Edge Configuration");
    EXPECT_EQ(records[0].value, url);
    EXPECT_EQ(records[0].number, 2);
    EXPECT_EQ(records[0].text, "");
}

TEST(EdgeConfigRequestExecute, ValidationOrderAndNothingSent) {
    struct Case {
        const char* title;
        std::function<void(EdgeConfigParams&)> change;
        const char* message;  // nullptr: valid
    };
    const std::vector<Case> cases = {
        {"everything missing", [](EdgeConfigParams& p) { p = EdgeConfigParams(); }, "host not set"},
        {"host before port",
         [](EdgeConfigParams& p) {
             p.host.clear();
             p.port = 0;
         },
         "host not set"},
        {"port before domain",
         [](EdgeConfigParams& p) {
             p.port = 0;
             p.domain.clear();
         },
         "port not set"},
        {"domain before credentials",
         [](EdgeConfigParams& p) {
             p.domain.clear();
             p.username.clear();
         },
         "domain not set"},
        {"user name before password",
         [](EdgeConfigParams& p) {
             p.username.clear();
             p.password = SecureString();
         },
         "username not set"},
        {"password", [](EdgeConfigParams& p) { p.password = SecureString(); }, "password not set"},
        {"a token without user or password is valid",
         [](EdgeConfigParams& p) {
             p.username.clear();
             p.password = SecureString();
             p.oauthToken = "tok";
         },
         nullptr},
        {"a token does not excuse a missing domain",
         [](EdgeConfigParams& p) {
             p.domain.clear();
             p.oauthToken = "tok";
         },
         "domain not set"},
        {"user and password", [](EdgeConfigParams&) {}, nullptr},
    };
    for (const auto& c : cases) {
        auto client = std::make_shared<FakeHttpClient>();
        client->answer.httpCode = 200;
        client->answer.body = VALID_BODY;
        EdgeConfigRequestImpl request(client);
        EdgeConfigParams p = params();
        c.change(p);
        oxl::test::LogCapture log;
        EdgeConfig config;
        const R::Result result = request.execute(p, config);
        if (c.message == nullptr) {
            EXPECT_EQ(result, R::SUCCESS) << c.title;
            EXPECT_EQ(client->requests.size(), 1u) << c.title;
        } else {
            EXPECT_EQ(result, R::ILLEGAL_ARGUMENT) << c.title;
            EXPECT_TRUE(client->requests.empty()) << c.title;
            EXPECT_EQ(log.count(c.message, "oxl.edge"), 1u) << c.title;
            for (const char* other :
                 {"host not set", "port not set", "domain not set", "username not set", "password not set"}) {
                if (std::string(other) != c.message) {
                    EXPECT_EQ(log.count(other), 0u) << c.title << " also logged " << other;
                }
            }
        }
    }
}

TEST(EdgeConfigRequestExecute, HandsParametersToTheClient) {
    auto client = std::make_shared<FakeHttpClient>();
    client->answer.httpCode = 200;
    client->answer.body = VALID_BODY;
    EdgeConfigRequestImpl request(client);
    EdgeConfigParams p = params();
    p.oauthToken = "token";
    p.serviceNames = {"svc"};
    p.xAuthCookie = Cookie("edgehost\tFALSE\t/\tTRUE\t100\tX-Auth\tabc");
    EdgeConfig config;
    ASSERT_EQ(request.execute(p, config), R::SUCCESS);
    ASSERT_EQ(client->requests.size(), 1u);
    const HttpClientRequest& sent = client->requests[0];
    EXPECT_EQ(sent.url, EdgeConfigRequestImpl::createRequestUrl(p));
    EXPECT_EQ(sent.username, "alice");
    EXPECT_TRUE(sent.password.sharesDataWith(p.password));
    EXPECT_TRUE(sent.oauthToken.sharesDataWith(p.oauthToken));
    EXPECT_EQ(sent.domain, "corp");
    EXPECT_EQ(sent.xAuthCookie, p.xAuthCookie);
}

TEST(EdgeConfigRequestExecute, TransportResultsMap) {
    using C = EdgeConfigHttpClient;
    const std::pair<C::Result, R::Result> cases[] = {
        {C::CERTIFICATE_VALIDATION_ERROR, R::CERTIFICATE_VALIDATION_ERROR},
        {C::CONNECTION_FAILED, R::CONNECTION_FAILED},
        {C::SSL_CONNECTION_ERROR, R::SSL_CONNECTION_ERROR},
        {C::FAILED_TO_RESOLVE_HOST, R::FAILED_TO_RESOLVE_HOST},
        {C::INTERNAL_ERROR, R::INTERNAL_ERROR},
        {C::UNKNOWN_ERROR, R::UNKNOWN_ERROR},
        {C::RESPONSE_TOO_LARGE, R::FAILED_TO_PARSE_RESPONSE},
        {static_cast<C::Result>(42), R::UNKNOWN_ERROR},
    };
    for (const auto& [clientResult, expected] : cases) {
        auto client = std::make_shared<FakeHttpClient>();
        client->result = clientResult;
        client->answer.httpCode = 200;  // must not matter once the transfer failed
        client->answer.body = VALID_BODY;
        oxl::test::LogCapture log;
        EdgeConfig config;
        EXPECT_EQ(EdgeConfigRequestImpl(client).execute(params(), config), expected) << clientResult;
        EXPECT_TRUE(config == EdgeConfig());
        std::ostringstream text;
        text << "Edge Config Request failed, httpResult: " << clientResult;
        EXPECT_EQ(log.count(text.str(), "oxl.edge"), 1u) << text.str();
    }
}

TEST(EdgeConfigRequestExecute, ResponseLimitsReachTheParser) {
    auto client = std::make_shared<FakeHttpClient>();
    client->answer.httpCode = 200;
    client->answer.body = VALID_BODY;  // three edge servers
    EdgeConfigRequestImpl request(client);
    EXPECT_EQ(request.getResponseLimits().maxServers, EdgeConfigResponse::Limits::DEFAULT_MAX_SERVERS);
    EdgeConfig config;
    EXPECT_EQ(request.execute(params(), config), R::SUCCESS);
    request.setResponseLimits({10, 2});
    EdgeConfig refused;
    EXPECT_EQ(request.execute(params(), refused), R::FAILED_TO_PARSE_RESPONSE);
    EXPECT_TRUE(refused == EdgeConfig());
}

TEST(EdgeConfigRequestExecute, AnswersOfStatus200) {
    const Cookie oldXAuth("edgehost\tFALSE\t/\tTRUE\t100\tX-Auth\told");
    const Cookie newXAuth("edgehost\tFALSE\t/\tTRUE\t200\tX-Auth\tnew");
    const Cookie other("edgehost\tFALSE\t/\tTRUE\t200\tother\tx");
    struct Case {
        const char* title;
        bool refresh;
        std::string body;
        std::vector<Cookie> cookies;
        R::Result expected;
        std::vector<std::string> cookieValues;  // of the configuration afterwards
        const char* logText;
    };
    const std::vector<Case> cases = {
        {"config parsed, cookies added",
         false,
         VALID_BODY,
         {other, newXAuth},
         R::SUCCESS,
         {"x", "new"},
         nullptr},
        {"config body not XML",
         false,
         "<html>",
         {newXAuth},
         R::FAILED_TO_PARSE_RESPONSE,
         {"old"},
         "Failed to parse Edge Config Response: PARSING_FAILURE"},
        {"config without http edge servers",
         false,
         "<getEdgeConfigResponse><edgeConfig/></getEdgeConfigResponse>",
         {},
         R::FAILED_TO_PARSE_RESPONSE,
         {"old"},
         "Failed to parse Edge Config Response: ELEMENT_DOES_NOT_EXIST"},
        {"refresh replaces X-Auth, body ignored",
         true,
         "not xml at all",
         {other, newXAuth},
         R::SUCCESS,
         {"x", "new"},
         nullptr},
        {"refresh with an older X-Auth keeps the held one",
         true,
         "",
         {Cookie("edgehost\tFALSE\t/\tTRUE\t50\tX-Auth\tolder")},
         R::SUCCESS,
         {"old"},
         nullptr},
        {"refresh without cookies", true, VALID_BODY, {}, R::FAILED_TO_REFRESH_COOKIE, {"old"}, nullptr},
    };
    for (const auto& c : cases) {
        auto client = std::make_shared<FakeHttpClient>();
        client->answer.httpCode = 200;
        client->answer.body = c.body;
        client->answer.cookies = c.cookies;
        EdgeConfigParams p = params();
        p.isRefresh = c.refresh;
        EdgeConfig config;
        config.addCookie(oldXAuth);
        oxl::test::LogCapture log;
        EXPECT_EQ(EdgeConfigRequestImpl(client).execute(p, config), c.expected) << c.title;
        std::vector<std::string> values;
        for (const auto& k : config.getCookies()) {
            values.push_back(k.getValue());
        }
        EXPECT_EQ(values, c.cookieValues) << c.title;
        if (c.logText != nullptr) {
            EXPECT_EQ(log.count(c.logText, "oxl.edge"), 1u) << c.title;
        }
        if (c.expected == R::SUCCESS) {
            EXPECT_EQ(c.refresh, config.getHttpEdgeService().serverLocations.empty()) << c.title;
        }
    }
}

TEST(EdgeConfigRequestExecute, NoExceptionEscapes) {
    auto client = std::make_shared<FakeHttpClient>();
    client->throwOnExecute = true;
    EdgeConfig config;
    oxl::test::LogCapture log;
    EXPECT_EQ(EdgeConfigRequestImpl(client).execute(params(), config), R::INTERNAL_ERROR);
    EXPECT_TRUE(log.contains("transport exploded"));
    EXPECT_EQ(EdgeConfigRequestImpl(nullptr).execute(params(), config), R::INTERNAL_ERROR);
    EdgeConfigParams invalid;
    EXPECT_EQ(EdgeConfigRequestImpl(nullptr).execute(invalid, config), R::ILLEGAL_ARGUMENT);
}

}  // namespace
}  // namespace oxl::edge

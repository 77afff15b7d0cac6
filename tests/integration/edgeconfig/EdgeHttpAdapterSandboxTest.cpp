// The edge-configuration request on the library's own HTTP client (through the adapter) against the
// sandbox edge over HTTPS: a whole session, the status mapping, transport failures as the adapter maps
// them, and the sandbox forwarding tokenized requests for the session it handed out.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

#include <httplib.h>

#include "EdgeConfigScenarios.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/http/NamePinning.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"
#include "sandbox/InternalWebServer.h"
#include "support/LogCapture.h"

namespace oxl::edge::test {
namespace {

using oxl::netutils::adapters::EdgeHttpAdapter;

class EdgeHttpAdapterSandboxTest : public EdgeSandboxTest {
  protected:
    void SetUp() override {
        EdgeSandboxTest::SetUp();
        // Read by each verifier when it is made, i.e. on an adapter's first transfer.
        oxl::cert::PlatformCertVerifier::setTrustFile(edge->trustFile());
        // The library verifies the edge by name: reach the sandbox by a name its certificate carries.
        host = EDGE_NAME;
        ASSERT_TRUE(oxl::http::NamePinning::instance().pin(EDGE_NAME, edge->port(), "127.0.0.1"));
        adapter = std::make_shared<EdgeHttpAdapter>();
    }
    void TearDown() override {
        adapter.reset();
        oxl::cert::PlatformCertVerifier::setTrustFile("");
        oxl::http::NamePinning::instance().clear();
    }

    std::shared_ptr<EdgeHttpAdapter> adapter;
};

TEST_F(EdgeHttpAdapterSandboxTest, FetchRefreshAndEndSession) {
    EdgeConfigRequestImpl request(adapter);
    fetchRefreshAndEnd(*edge, request, params(), LIFETIME);
    for (const auto& r : edge->received()) {
        EXPECT_EQ(r.userAgent, "Quillo-Win");
        EXPECT_EQ(r.authScheme, "Basic");
        EXPECT_EQ(r.username, "alice");
    }
}

TEST_F(EdgeHttpAdapterSandboxTest, BearerTokenInsteadOfPassword) {
    EdgeConfigRequestImpl request(adapter);
    EdgeConfigParams p = params();
    p.username = "alice";
    p.password = "wrong-but-unused";
    p.oauthToken = "tok-123";
    EdgeConfig config;
    EXPECT_EQ(request.execute(p, config), EdgeConfigRequest::SUCCESS);
    EXPECT_EQ(edge->received().at(0).authScheme, "Bearer");
    p.oauthToken = "tok-999";
    EdgeConfig none;
    EXPECT_EQ(request.execute(p, none), EdgeConfigRequest::AUTHENTICATION_FAILED);
    EdgeConfigParams wrong = params();
    wrong.password = "S3CRET";
    EXPECT_EQ(request.execute(wrong, none), EdgeConfigRequest::AUTHENTICATION_FAILED);
    EXPECT_TRUE(none == EdgeConfig());
    EXPECT_EQ(edge->counters().authenticationFailures, 2u);

    EdgeConfigParams otherDomain = params();
    otherDomain.domain = "other.test";
    EXPECT_EQ(request.execute(otherDomain, none), EdgeConfigRequest::UNSUCCESSFUL_RESPONSE)
        << "an unknown domain is answered 404";
}

TEST_F(EdgeHttpAdapterSandboxTest, HttpStatusAndFaultMapping) {
    EdgeConfigRequestImpl request(adapter);
    auto cases = statusFaultCases();
    cases.push_back(
        {"407", {Sandbox::FaultKind::HTTP_STATUS, 407, {}}, false, EdgeConfigRequest::UNSUCCESSFUL_RESPONSE});
    runFaultCases(*edge, request, params(), cases);
}

TEST_F(EdgeHttpAdapterSandboxTest, DroppedConnectionIsATransportFailure) {
    EdgeConfigRequestImpl request(adapter);
    edge->injectFault({Sandbox::FaultKind::DROP_CONNECTION, 0, {}});
    EdgeConfig config;
    EXPECT_EQ(request.execute(params(), config), EdgeConfigRequest::UNKNOWN_ERROR);
    EXPECT_TRUE(config == EdgeConfig());
    EXPECT_EQ(request.execute(params(), config), EdgeConfigRequest::SUCCESS)
        << "one fault, then normal again";
}

// An answer longer than the adapter accepts ends the transfer: no configuration, one error line, and the
// next request under the default cap succeeds against the same edge.
TEST_F(EdgeHttpAdapterSandboxTest, AnAnswerOverTheBodyCapIsRefused) {
    EdgeConfigRequestImpl request(adapter);
    EdgeConfig config;
    ASSERT_EQ(request.execute(params(), config), EdgeConfigRequest::SUCCESS);
    const std::size_t whole = edge->received().size();
    ASSERT_GT(whole, 0u);

    oxl::test::LogCapture log;
    adapter->setMaxResponseBodySize(64);  // the sandbox's answer is several hundred bytes
    EdgeConfig capped;
    EXPECT_EQ(request.execute(params(), capped), EdgeConfigRequest::FAILED_TO_PARSE_RESPONSE);
    EXPECT_TRUE(capped == EdgeConfig());
    // Said once by the transfer however many chunks arrived past the limit, and once by the request.
    EXPECT_EQ(log.count("larger than the limit of 64 bytes", "oxl.httpclient"), 1u);
    size_t edgeErrors = 0;
    for (const auto& r : log.records()) {
        edgeErrors += r.logger == "oxl.edge" && r.level <= OXL_LEVEL_ERROR &&
                      r.message.find("RESPONSE_TOO_LARGE") != std::string::npos;
    }
    EXPECT_EQ(edgeErrors, 1u);

    adapter->setMaxResponseBodySize(EdgeHttpAdapter::DEFAULT_MAX_RESPONSE_BODY_SIZE);
    EdgeConfig again;
    EXPECT_EQ(request.execute(params(), again), EdgeConfigRequest::SUCCESS);
    EXPECT_FALSE(again == EdgeConfig());
}

TEST_F(EdgeHttpAdapterSandboxTest, TransportFailuresMap) {
    using R = EdgeConfigHttpClient;
    oxl::sandbox::InternalWebServer plainHttp;
    ASSERT_TRUE(plainHttp.start());
    // A port that was free a moment ago: nothing listens there.
    uint16_t closedPort = 0;
    {
        oxl::sandbox::InternalWebServer gone;
        ASSERT_TRUE(gone.start());
        closedPort = gone.port();
    }
    oxl::sandbox::EdgeSandbox::Options otherCa;
    otherCa.domain = "corp.test";
    oxl::sandbox::EdgeSandbox untrusted(otherCa);
    ASSERT_TRUE(untrusted.start());

    struct Case {
        std::string url;
        R::Result expected;
        unsigned int status;
    };
    const std::string named = "https://" + host + ":" + std::to_string(edge->port());
    const Case cases[] = {
        {named + edge->domainPath() + "/get_edge_config", R::SUCCESS, 200},
        {named + "/x/get_edge_config", R::SUCCESS, 404},
        {"https://127.0.0.1:" + std::to_string(closedPort) + "/x/get_edge_config", R::CONNECTION_FAILED, 0},
        {"https://host.invalid:443/x/get_edge_config", R::FAILED_TO_RESOLVE_HOST, 0},
        {"https://localhost:" + std::to_string(untrusted.port()) + untrusted.domainPath() +
             "/get_edge_config",
         R::CERTIFICATE_VALIDATION_ERROR, 0},
        {"https://127.0.0.1:" + std::to_string(plainHttp.port()) + "/x/get_edge_config",
         R::SSL_CONNECTION_ERROR, 0},
        {"", R::INTERNAL_ERROR, 0},
    };
    for (const auto& c : cases) {
        HttpClientRequest request;
        request.url = c.url;
        request.username = "alice";
        request.password = "s3cret";
        HttpClientResponse response;
        EXPECT_EQ(adapter->execute(request, response), c.expected) << c.url;
        EXPECT_EQ(response.httpCode, c.status) << c.url;
        if (c.status == 200) {
            ASSERT_EQ(response.cookies.size(), 1u);
            EXPECT_EQ(response.cookies[0].getName(), "X-Auth");
            EXPECT_NE(response.body.find("<getEdgeConfigResponse>"), std::string::npos);
        }
    }
    EXPECT_EQ(untrusted.received().size(), 0u) << "nothing is sent to an unverified server";
}

// With the real cookie engine, which also holds the cookie sent along: an answer that sets the same value
// again, or clears the cookie, still counts as setting it; an answer without Set-Cookie sets nothing.
TEST_F(EdgeHttpAdapterSandboxTest, ResponseCookiesCountEverySetCookieOfTheAnswer) {
    oxl::sandbox::InternalWebServer server;
    ASSERT_TRUE(server.start());
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    const long future = static_cast<long>(std::time(nullptr)) + 3600;
    struct Case {
        const char* path;
        std::vector<std::string> expectedValues;
        bool expired;
    };
    const Case cases[] = {
        {"/set-cookie?name=X-Auth&value=old&max-age=7200", {"old"}, false},
        {"/set-cookie?name=X-Auth&value=new&max-age=7200", {"new"}, false},
        {"/set-cookie?name=X-Auth&value=&max-age=0", {""}, true},
        {"/cookies", {}, false},
    };
    for (const auto& c : cases) {
        HttpClientRequest request;
        request.url = base + c.path;
        request.username = "alice";
        request.password = "s3cret";
        request.xAuthCookie =
            oxl::common::Cookie("127.0.0.1\tFALSE\t/\tFALSE\t" + std::to_string(future) + "\tX-Auth\told");
        HttpClientResponse response;
        ASSERT_EQ(adapter->execute(request, response), EdgeConfigHttpClient::SUCCESS) << c.path;
        EXPECT_EQ(response.httpCode, 200u) << c.path;
        std::vector<std::string> values;
        for (const auto& cookie : response.cookies) {
            EXPECT_EQ(cookie.getName(), "X-Auth") << c.path;
            values.push_back(cookie.getValue());
            const long expiry = cookie.getExpirationDate();
            EXPECT_EQ(expiry != 0 && expiry <= static_cast<long>(std::time(nullptr)), c.expired) << c.path;
        }
        EXPECT_EQ(values, c.expectedValues) << c.path;
    }
}

TEST_F(EdgeHttpAdapterSandboxTest, ConcurrentRequestsShareTheAdapter) {
    EdgeConfigRequestImpl request(adapter);
    std::vector<std::thread> threads;
    std::atomic<int> successes{0};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 3; ++k) {
                EdgeConfig config;
                if (request.execute(params(), config) == EdgeConfigRequest::SUCCESS &&
                    config.getHttpEdgeService().serverLocations.size() == 2) {
                    ++successes;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(successes.load(), 12);
    EXPECT_EQ(edge->counters().sessionsOpened, 12u);
}

TEST_F(EdgeHttpAdapterSandboxTest, ForwardsTokenizedRequestsForAValidSession) {
    oxl::sandbox::InternalWebServer internal;
    internal.addFile("/docs/a.txt", "internal content");
    ASSERT_TRUE(internal.start());
    EdgeConfigRequestImpl r(adapter);
    EdgeConfig config;
    ASSERT_EQ(r.execute(params(), config), EdgeConfigRequest::SUCCESS);
    const std::string session = "X-Auth=" + xAuthOf(config).getValue();

    httplib::SSLClient client("127.0.0.1", edge->port());
    client.set_ca_cert_path(edge->trustFile().c_str());
    const std::string base =
        "/" + Sandbox::tokenizedBaseUrl("corp.test", "http", "127.0.0.1", internal.port());

    auto res = client.Get(base + "/docs/a.txt", {{"Cookie", session + "; app=1"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "internal content");
    EXPECT_EQ(res->get_header_value("Server"), "QZ_C");

    res = client.Get(base + "/cookies", {{"Cookie", session + "; app=1"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "app=1") << "the edge's own cookie stays at the edge";

    res = client.Get(base + "/set-cookie?name=jsession&value=42&path=/app", {{"Cookie", session}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("Set-Cookie"), "jsession=42; Path=/app");

    edge->setServerHeader("QZ_E");
    res = client.Get(base + "/redirect?to=/docs/a.txt", {{"Cookie", session}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 302);
    EXPECT_EQ(res->get_header_value("Location"), "/docs/a.txt");
    EXPECT_EQ(res->get_header_value("Server"), "QZ_E");
    EXPECT_EQ(internal.requestCount("/docs/a.txt"), 1u);

    res = client.Get(base + "/docs/a.txt");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401) << "no session, no forwarding";
    res = client.Get(base + "/docs/a.txt", {{"Cookie", "X-Auth=forged"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    EXPECT_EQ(internal.requestCount("/docs/a.txt"), 1u);

    const std::string otherDomain =
        "/" + Sandbox::tokenizedBaseUrl("other.test", "http", "127.0.0.1", internal.port());
    res = client.Get(otherDomain + "/docs/a.txt", {{"Cookie", session}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);

    internal.stop();
    res = client.Get(base + "/docs/a.txt", {{"Cookie", session}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 502);
    EXPECT_EQ(edge->counters().forwardedRequests, 8u);
}

}  // namespace
}  // namespace oxl::edge::test

// The edge-configuration request over HTTPS against the sandbox edge, on a plain libcurl transport.
#include <gtest/gtest.h>
#include <httplib.h>

#include "CurlEdgeConfigHttpClient.h"
#include "EdgeConfigScenarios.h"
#include "sandbox/InternalWebServer.h"
#include "support/LogCapture.h"

namespace oxl::edge::test {
namespace {

class EdgeConfigRequestSandboxTest : public EdgeSandboxTest {
  protected:
    EdgeConfigRequestImpl request() const {
        return EdgeConfigRequestImpl(std::make_shared<CurlEdgeConfigHttpClient>(edge->trustFile()));
    }
};

TEST_F(EdgeConfigRequestSandboxTest, FetchRefreshAndEndSession) {
    auto r = request();
    fetchRefreshAndEnd(*edge, r, params(), LIFETIME);
    const auto received = edge->received();
    EXPECT_EQ(received[0].authScheme, "Basic");
    EXPECT_EQ(received[0].username, "alice");
}

TEST_F(EdgeConfigRequestSandboxTest, CredentialsAndTransportFailures) {
    using R = EdgeConfigRequest;
    auto r = request();
    EdgeConfigParams token = params();
    token.username.clear();
    token.password = SecureString();
    token.oauthToken = "tok-123";
    EdgeConfig config;
    EXPECT_EQ(r.execute(token, config), R::SUCCESS);
    EXPECT_EQ(edge->received().back().authScheme, "Bearer");

    EdgeConfigParams wrong = params();
    wrong.password = "S3CRET";
    EdgeConfig none;
    EXPECT_EQ(r.execute(wrong, none), R::AUTHENTICATION_FAILED);
    EXPECT_TRUE(none == EdgeConfig());
    token.oauthToken = "tok-1234";
    EXPECT_EQ(r.execute(token, none), R::AUTHENTICATION_FAILED);
    EXPECT_EQ(edge->counters().authenticationFailures, 2u);

    EdgeConfigParams otherDomain = params();
    otherDomain.domain = "other.test";
    EXPECT_EQ(r.execute(otherDomain, none), R::UNSUCCESSFUL_RESPONSE) << "unknown domain answers 404";

    EdgeConfigRequestImpl untrusting(std::make_shared<CurlEdgeConfigHttpClient>("/dev/null/none"));
    EXPECT_NE(untrusting.execute(params(), none), R::SUCCESS);
    EdgeConfigRequestImpl systemTrust(std::make_shared<CurlEdgeConfigHttpClient>(""));
    EXPECT_EQ(systemTrust.execute(params(), none), R::CERTIFICATE_VALIDATION_ERROR);

    const uint16_t port = edge->port();
    edge->stop();
    EdgeConfigParams closed = params();
    closed.port = port;
    EXPECT_EQ(r.execute(closed, none), R::CONNECTION_FAILED);
}

TEST_F(EdgeConfigRequestSandboxTest, HttpStatusAndFaultMapping) {
    auto r = request();
    runFaultCases(*edge, r, params(), statusFaultCases());
}

TEST_F(EdgeConfigRequestSandboxTest, DroppedConnectionIsATransportFailure) {
    auto r = request();
    edge->injectFault({Sandbox::FaultKind::DROP_CONNECTION, 0, {}});
    EdgeConfig config;
    EXPECT_EQ(r.execute(params(), config), EdgeConfigRequest::UNKNOWN_ERROR);
    EXPECT_TRUE(config == EdgeConfig());
    EXPECT_EQ(r.execute(params(), config), EdgeConfigRequest::SUCCESS) << "one fault, then normal again";
}

TEST_F(EdgeConfigRequestSandboxTest, ForwardsTokenizedRequestsForAValidSession) {
    oxl::sandbox::InternalWebServer internal;
    internal.addFile("/docs/a.txt", "internal content");
    ASSERT_TRUE(internal.start());
    auto r = request();
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

// The edge-configuration request on the library's own HTTP client (through the adapter) against the
// sandbox edge over HTTPS: a whole session, the status mapping, and transport failures as the adapter maps
// them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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
    EXPECT_EQ(request.execute(p, config), EdgeConfigRequest::AUTHENTICATION_FAILED);
}

TEST_F(EdgeHttpAdapterSandboxTest, HttpStatusAndFaultMapping) {
    EdgeConfigRequestImpl request(adapter);
    auto cases = statusFaultCases();
    cases.push_back(
        {"407", {Sandbox::FaultKind::HTTP_STATUS, 407, {}}, false, EdgeConfigRequest::UNSUCCESSFUL_RESPONSE});
    runFaultCases(*edge, request, params(), cases);
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

}  // namespace
}  // namespace oxl::edge::test

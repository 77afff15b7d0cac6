// The library's main job against real servers on loopback: outside, the configuration is fetched from the
// edge published in DNS, an internal URL travels through the edge with its cookies rewritten and stripped,
// the session cookie is renewed on time, a dead edge node is failed over, and back inside requests go
// direct again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "EdgeSessionSandbox.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/NamePinning.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/EdgeUtilsAdapter.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"

namespace oxl::edge {
namespace {

using oxl::http::HttpClientResult;
using oxl::sandbox::EdgeSandbox;
using Received = EdgeSandbox::ReceivedRequest;
using Result = GlobalEdgeState::GetEdgeConfigurationResult;
using Sandbox = test::EdgeSessionSandbox;

constexpr auto LONG_WAIT = std::chrono::seconds(30);

class Notices : public GlobalEdgeStateObserver {
  public:
    void onVisibilityChanged() override { bump(visibility_); }
    void onEdgeConfigAvailable() override { bump(configs_); }
    int configs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return configs_;
    }
    // Waits until `condition` holds; re-checked after every notice.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] {
            lock.unlock();
            const bool holds = condition();
            lock.lock();
            return holds;
        });
    }

  private:
    void bump(int& counter) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++counter;
        }
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    int visibility_ = 0;
    int configs_ = 0;
};

bool isEndpoint(const Received& r, EdgeSandbox::Endpoint endpoint, std::size_t node) {
    return r.endpoint == endpoint && r.node == node;
}

class EdgeSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(oxl::netutils::GlobalInit(), 0);
        std::string problem;
        if (!box.start(10, problem)) {
            if (!oxl::sandbox::DnsSandbox::isInstalled()) {
                GTEST_SKIP() << problem;
            }
            FAIL() << problem;
        }
        dnsServer = std::make_unique<oxl::dns::DnsUtilsScopedSetCustomServerAddress>(box.dns->address());
        ASSERT_TRUE(dnsServer->isValid());
        for (std::size_t node = 0; node < 2; ++node) {
            ASSERT_TRUE(oxl::http::NamePinning::instance().pin(node == 0 ? Sandbox::EDGE1 : Sandbox::EDGE2,
                                                               box.edge->port(node), "127.0.0.1"));
        }
        oxl::cert::PlatformCertVerifier::setTrustFile(box.edge->trustFile());

        oxl::netutils::GlobalEdgeStateController::init(Sandbox::INTERNAL_DOMAIN, Sandbox::EXTERNAL_DOMAIN);
        state = std::dynamic_pointer_cast<GlobalEdgeStateImpl>(
            oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState());
        ASSERT_NE(state, nullptr);
        // Polled more often than a client would, so that moving inside is seen in seconds.
        auto transitions = std::dynamic_pointer_cast<EdgeTransitionDetectionControllerImpl>(
            state->getEdgeDetectionController()->getEdgeTransitionDetectionController());
        ASSERT_NE(transitions, nullptr);
        transitions->setPollingSchedule(200, 300, 10000);
        state->setCredentialsManager(
            std::make_shared<DefaultCredentialsManager>(Credentials(Sandbox::USER, box.password, "")));
        state->addObserver(notices);

        client = oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
            std::make_shared<oxl::netutils::adapters::EdgeUtilsAdapter>(),
            std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
                oxl::cert::CertVerifierFactory::createCertVerifier()),
            nullptr, nullptr);
        client->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
    }

    void TearDown() override {
        if (state) {
            state->removeObserver(notices);
        }
        client.reset();
        state.reset();
        oxl::netutils::GlobalEdgeStateController::resetForTesting();
        oxl::http::NamePinning::instance().clear();
        oxl::cert::PlatformCertVerifier::setTrustFile("");
        dnsServer.reset();
        box.dns.reset();
        if (box.edge) {
            box.edge->stop();
        }
        if (box.intranet) {
            box.intranet->stop();
        }
    }

    oxl::http::Response get(const std::string& url, HttpClientResult::Result& result,
                            const std::vector<oxl::common::Cookie>& cookies = {}) {
        auto request = std::make_shared<oxl::http::Request>(url);
        request->getOptions()->cookies = cookies;
        oxl::http::Response response;
        result = client->execute(request, response);
        EXPECT_EQ(request->getOptions()->url, url) << "the caller gets its own URL back";
        return response;
    }

    std::size_t count(EdgeSandbox::Endpoint endpoint, std::size_t node) const {
        const auto all = box.edge->received(node);
        return std::count_if(all.begin(), all.end(),
                             [&](const Received& r) { return r.endpoint == endpoint; });
    }

    Sandbox box;
    std::unique_ptr<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dnsServer;
    std::shared_ptr<GlobalEdgeStateImpl> state;
    std::shared_ptr<Notices> notices = std::make_shared<Notices>();
    std::shared_ptr<oxl::http::BasicHttpClientImpl> client;
};

TEST_F(EdgeSessionTest, OutsideThroughTheEdgeRefreshFailoverAndBackInside) {
    // Outside: the edge is published under the external domain, no internal record anywhere.
    ASSERT_TRUE(state->isEdgeConnectivityAvailable());
    ASSERT_FALSE(state->isInternalConnectivityAvailable());
    const auto fetched = state->getEdgeConfiguration();
    ASSERT_EQ(fetched.result, Result::SUCCESS);
    EXPECT_EQ(state->getCurrentEdgeServer(), EdgeServiceLocation(Sandbox::EDGE1, box.edge->port(0), 0));
    ASSERT_EQ(count(EdgeSandbox::Endpoint::CONFIG, 0), 1u);
    const auto configAt = box.edge->received(0).front().at;
    const long armed = state->getRefreshTimerSeconds();
    // 70 % of what is left of the 10 s when the answer is handled.
    EXPECT_TRUE(armed >= 5 && armed <= 7) << "70 % of a 10 s cookie, was " << armed;

    // An internal URL through the edge: the cookie the caller holds for the internal host is rewritten for
    // the edge and reaches the internal server; the edge's session cookie does not.
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    const oxl::common::Cookie internalCookie("127.0.0.1\tFALSE\t/cookies\tFALSE\t0\tpref\tblue");
    auto response = get(box.internalUrl("/cookies"), result, {internalCookie});
    ASSERT_EQ(result, HttpClientResult::SUCCESS);
    EXPECT_EQ(response.responseCode, 200);
    EXPECT_EQ(response.getBodyAsString(), "pref=blue");
    ASSERT_EQ(count(EdgeSandbox::Endpoint::FORWARD, 0), 1u);
    const auto forwarded = box.edge->received(0).back();
    EXPECT_EQ(forwarded.path, "/" + box.token() + "/cookies");
    EXPECT_NE(std::find(forwarded.cookieNames.begin(), forwarded.cookieNames.end(), "X-Auth"),
              forwarded.cookieNames.end());
    EXPECT_EQ(box.intranet->requestCount("/cookies"), 1u);

    // A cookie the internal server sets comes back under the edge path and is stripped from the answer.
    response = get(box.internalUrl("/set-cookie?name=sid&value=s1&path=/app"), result);
    ASSERT_EQ(result, HttpClientResult::SUCCESS);
    EXPECT_NE(response.getHeader("Set-Cookie").find("Path=/" + box.token() + "/app"), std::string::npos);
    for (const auto& cookie : response.cookies) {
        EXPECT_NE(cookie.getName(), "sid");
        EXPECT_EQ(cookie.getPath().find("/" + box.token()), std::string::npos) << cookie.getPath();
    }

    // The session cookie is renewed on time: after 70 % of its 10 s, well before it expires.
    Received refresh;
    ASSERT_TRUE(box.edge->waitForRequest(
        [&](const Received& r) {
            refresh = r;
            return isEndpoint(r, EdgeSandbox::Endpoint::REFRESH, 0);
        },
        std::chrono::seconds(15)));
    const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(refresh.at - configAt).count();
    EXPECT_GE(after, 5000);
    EXPECT_LT(after, 10000) << "the cookie had expired";
    EXPECT_EQ(refresh.status, 200);
    ASSERT_TRUE(notices->waitFor([&] { return notices->configs() >= 2; }, LONG_WAIT));
    EXPECT_EQ(box.edge->counters().sessionsRefreshed, 1u);

    // Node 1 dies: the request fails over to node 2 on its own, with the same session.
    ASSERT_TRUE(box.edge->setNodeFault(0, EdgeSandbox::NodeFault::REFUSE));
    response = get(box.internalUrl(Sandbox::PAGE), result);
    ASSERT_EQ(result, HttpClientResult::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), Sandbox::PAGE_TEXT);
    EXPECT_EQ(count(EdgeSandbox::Endpoint::FORWARD, 1), 1u);
    // The event the network event reporter derives from that failure: the configuration is fetched again,
    // from node 2, and from then on the session is renewed there.
    auto infrastructure = EdgeInfrastructureEventController::getInstance();
    infrastructure->enqueue(infrastructure->createEdgeConnectionFailedEvent(Sandbox::EDGE1, true));
    ASSERT_TRUE(
        notices->waitFor([&] { return state->getCurrentEdgeServer().address == Sandbox::EDGE2; }, LONG_WAIT));
    EXPECT_EQ(count(EdgeSandbox::Endpoint::CONFIG, 1), 1u);
    EXPECT_TRUE(state->getRecentlyUsedServers()->isRecentlyFailed(Sandbox::EDGE1));
    ASSERT_TRUE(box.edge->waitForRequest(
        [&](const Received& r) { return isEndpoint(r, EdgeSandbox::Endpoint::REFRESH, 1); },
        std::chrono::seconds(15)));

    // Back inside: the internal record appears, the transition detection confirms direct connectivity,
    // and requests go direct; a refresh is not even attempted.
    ASSERT_TRUE(box.dns->restart(box.inside())) << box.dns->log();
    state->getEdgeDetectionController()->getNetworkSensingHints()->hintHostOsIpInterfaceChanged(
        "test: inside");
    ASSERT_TRUE(notices->waitFor([&] { return state->isInternalConnectivityAvailable(); }, LONG_WAIT));
    const auto forwardsBefore = box.edge->counters().forwardedRequests;
    const auto refreshesBefore = box.edge->counters().refreshRequests;
    const auto directBefore = box.intranet->requestCount(Sandbox::PAGE);
    response = get(box.internalUrl(Sandbox::PAGE), result);
    ASSERT_EQ(result, HttpClientResult::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), Sandbox::PAGE_TEXT);
    EXPECT_EQ(box.intranet->requestCount(Sandbox::PAGE), directBefore + 1);
    EXPECT_EQ(box.edge->counters().forwardedRequests, forwardsBefore);
    state->refreshEdgeConfiguration();
    EXPECT_EQ(box.edge->counters().refreshRequests, refreshesBefore);

    // Stopping ends the session on the edge.
    state->stop();
    EXPECT_EQ(box.edge->counters().sessionsEnded, 1u);
    EXPECT_EQ(box.edge->activeSessions(), 0u);
}

}  // namespace
}  // namespace oxl::edge

// A host's view of the library frame against real servers on loopback: clients come from the factory and
// their transfers' events reach the edge subsystems (an edge 503 makes the configuration be fetched again
// elsewhere; an unreachable host makes the detection look again); clean-up leaves no library thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "integration/edgesession/EdgeSessionSandbox.h"
#include "netutils/GlobalInitTesting.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeConfigRequest.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/http/MultiHttpClient.h"
#include "oxl/http/NamePinning.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/NetUtilsFactory.h"
#include "oxl/netutils/NetworkEventReporterImpl.h"
#include "support/HttpServerFixture.h"
#include "support/LogCapture.h"
#include "support/ProcessThreads.h"
#include "support/WaitFor.h"

namespace oxl::netutils {
namespace {

using oxl::edge::GlobalEdgeStateImpl;
using oxl::http::HttpClientResult;
using oxl::sandbox::EdgeSandbox;
using Sandbox = oxl::edge::test::EdgeSessionSandbox;

constexpr auto LONG_WAIT = std::chrono::seconds(30);

using oxl::test::waitFor;

using oxl::test::threadsOfThisProcess;

class FrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(GlobalInit(), 0);
        // An earlier test's GlobalCleanup stopped the reporter.
        NetworkEventReporterImpl::enableNetworkEventReporterForTesting();
    }

    // The sandbox, the edge session for it, and a client from the factory with the edge-if-required policy.
    void startSession(bool inside) {
        std::string problem;
        if (!box.start(30, problem)) {
            if (!oxl::sandbox::DnsSandbox::isInstalled()) {
                GTEST_SKIP() << problem;
            }
            FAIL() << problem;
        }
        if (inside) {
            ASSERT_TRUE(box.dns->restart(box.inside())) << box.dns->log();
        }
        dnsServer = std::make_unique<oxl::dns::DnsUtilsScopedSetCustomServerAddress>(box.dns->address());
        ASSERT_TRUE(dnsServer->isValid());
        for (std::size_t node = 0; node < 2; ++node) {
            ASSERT_TRUE(oxl::http::NamePinning::instance().pin(node == 0 ? Sandbox::EDGE1 : Sandbox::EDGE2,
                                                               box.edge->port(node), "127.0.0.1"));
        }
        oxl::cert::PlatformCertVerifier::setTrustFile(box.edge->trustFile());
        GlobalEdgeStateController::init(Sandbox::INTERNAL_DOMAIN, Sandbox::EXTERNAL_DOMAIN);
        state =
            std::dynamic_pointer_cast<GlobalEdgeStateImpl>(GlobalEdgeStateController::getGlobalEdgeState());
        ASSERT_NE(state, nullptr);
        state->setCredentialsManager(std::make_shared<oxl::edge::DefaultCredentialsManager>(
            oxl::edge::Credentials(Sandbox::USER, box.password, "")));
        client = NetUtilsFactory().createBasicHttpClient();
        client->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
    }

    void TearDown() override {
        client.reset();
        if (state) {
            state->stop();
        }
        state.reset();
        GlobalEdgeStateController::resetForTesting();
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

    HttpClientResult::Result get(const std::string& url, oxl::http::Response& response) {
        return client->execute(std::make_shared<oxl::http::Request>(url), response);
    }

    std::size_t configRequests(std::size_t node) const {
        std::size_t n = 0;
        for (const auto& r : box.edge->received(node)) {
            n += r.endpoint == EdgeSandbox::Endpoint::CONFIG ? 1 : 0;
        }
        return n;
    }

    Sandbox box;
    std::unique_ptr<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dnsServer;
    std::shared_ptr<GlobalEdgeStateImpl> state;
    std::shared_ptr<oxl::http::BasicHttpClient> client;
};

// A 503 that an edge node answers for a forwarded request: the reporter turns it into an infrastructure
// event, the node is marked failed and the configuration is fetched again from the other node.
TEST_F(FrameTest, AnEdge503BecomesAnInfrastructureEventAndARefetch) {
    startSession(false);
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    oxl::test::HttpServerFixture busy;
    busy.onGet("/busy", [](const httplib::Request&, httplib::Response& res) {
        res.status = 503;
        res.set_content("busy", "text/plain");
    });
    ASSERT_TRUE(busy.start());
    ASSERT_EQ(state->getEdgeConfiguration().result,
              oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult::SUCCESS);
    ASSERT_EQ(state->getCurrentEdgeServer().address, Sandbox::EDGE1);
    ASSERT_EQ(configRequests(1), 0u);

    oxl::http::Response response;
    ASSERT_EQ(get(busy.url("/busy"), response), HttpClientResult::SUCCESS);
    EXPECT_EQ(response.responseCode, 503);
    EXPECT_EQ(response.getHeader("Server"), "QZ_C") << "answered by the edge node, not the internal server";
    EXPECT_EQ(busy.requestCount("/busy"), 1u);

    ASSERT_TRUE(waitFor([&] { return state->getCurrentEdgeServer().address == Sandbox::EDGE2; }, LONG_WAIT));
    EXPECT_EQ(configRequests(1), 1u);
    EXPECT_TRUE(state->getRecentlyUsedServers()->isRecentlyFailed(Sandbox::EDGE1));
    EXPECT_EQ(state->getRecentlyUsedServers()->getErrorCode(Sandbox::EDGE1), 8u);
}

// Inside, the detection only looks again when told to. A transfer to a host that cannot be reached hints
// that an interface may have dropped; the detection probes and finds that the device is now outside.
// An address change reported by the host resets the NAT64 prefix.
TEST_F(FrameTest, AnUnreachableHostBecomesASensingHintAndARedetection) {
    startSession(true);
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    ASSERT_TRUE(state->isInternalConnectivityAvailable());
    auto transitions = std::dynamic_pointer_cast<oxl::edge::EdgeTransitionDetectionControllerImpl>(
        state->getEdgeDetectionController()->getEdgeTransitionDetectionController());
    ASSERT_NE(transitions, nullptr);
    ASSERT_TRUE(waitFor(
        [&] { return transitions->getDetectDirectConnectUnavailableFsmState() == "Monitoring"; }, LONG_WAIT));
    // The internal record goes away without the library being told.
    ASSERT_TRUE(box.dns->restart(box.outside())) << box.dns->log();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(state->isInternalConnectivityAvailable()) << "nothing looked again by itself";

    oxl::test::LogCapture log(OXL_LEVEL_INFO);
    oxl::http::Response response;
    EXPECT_EQ(get("http://127.0.0.1:" + std::to_string(oxl::sandbox::freeLoopbackPort()) + "/", response),
              HttpClientResult::HOST_UNREACHABLE_ERROR);
    ASSERT_TRUE(waitFor([&] { return !state->isInternalConnectivityAvailable(); }, LONG_WAIT));
    EXPECT_TRUE(log.contains("hintNetworkInterfaceMightHaveDropped 'oxlnetutils.http.hostUnreachableError'"));
    EXPECT_TRUE(state->isEdgeConnectivityAvailable());

    // An address change the host reports makes the NAT64 prefix be discovered again.
    EXPECT_FALSE(log.contains("resetting nat64 prefix due to network change"));
    NetUtilsFactory().createNetworkEventReporter()->hintHostOsIpInterfaceChanged("test: address change");
    EXPECT_TRUE(
        waitFor([&] { return log.contains("resetting nat64 prefix due to network change"); }, LONG_WAIT));
}

std::shared_ptr<oxl::http::BasicHttpClientImpl> asImpl(const std::shared_ptr<oxl::http::BasicHttpClient>& c) {
    return std::dynamic_pointer_cast<oxl::http::BasicHttpClientImpl>(c);
}

// Each basic client gets its own pool with the factory's current limits, unless the caller shares one; every
// client made here can rewrite for the edge and reports its events.
TEST_F(FrameTest, FactoryClientsAreWiredAndOwnTheirPoolsUnlessGivenOne) {
    const unsigned int savedMax = NetUtilsFactory::MAX_DEFAULT_THREADPOOL_SIZE;
    NetUtilsFactory::MAX_DEFAULT_THREADPOOL_SIZE = 3;
    const NetUtilsFactory factory;
    auto first = asImpl(factory.createBasicHttpClient());
    auto second = asImpl(factory.createBasicHttpClient());
    NetUtilsFactory::MAX_DEFAULT_THREADPOOL_SIZE = savedMax;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first->getThreadPool(), nullptr);
    EXPECT_NE(first->getThreadPool(), second->getThreadPool());
    EXPECT_EQ(first->getThreadPool()->getName(), "AsyncHttpReq");
    EXPECT_EQ(first->getThreadPool()->getMaxThreads(), 3u);
    EXPECT_EQ(second->getThreadPool()->getMaxThreads(), 3u);
    EXPECT_EQ(asImpl(factory.createBasicHttpClient())->getThreadPool()->getMaxThreads(), savedMax);

    auto shared = std::make_shared<oxl::ThreadPool>(0, 2, "AsyncHttpReq", 60);
    auto third = asImpl(factory.createBasicHttpClient(shared));
    auto fourth = asImpl(factory.createBasicHttpClient(shared));
    EXPECT_EQ(third->getThreadPool(), shared);
    EXPECT_EQ(fourth->getThreadPool(), shared);

    for (const auto& c : {first, second, third, fourth}) {
        const auto data = c->getClientData();
        EXPECT_NE(data->getEdgeTransformer(), nullptr);
        EXPECT_NE(data->getEventReporter(), nullptr);
    }
    EXPECT_NE(first->getClientData()->getEventReporter(), second->getClientData()->getEventReporter());
    EXPECT_NE(factory.createEdgeConfigRequest(), factory.createEdgeConfigRequest());
}

// After a session with basic and multi clients, asynchronous transfers and events, the host's clean-up
// (objects released, state stopped, GlobalCleanup) leaves no thread the library started. The process-wide
// timer service stands in for the system timer queue and lives as long as the process.
TEST_F(FrameTest, CleanUpLeavesNoLibraryThreadRunning) {
    const auto before = threadsOfThisProcess();
    ASSERT_FALSE(before.empty());
    // The reporter's thread from SetUp is counted in `before`: this one is not.
    NetworkEventReporterImpl::enableNetworkEventReporterForTesting();
    startSession(false);
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    ASSERT_EQ(state->getEdgeConfiguration().result,
              oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult::SUCCESS);
    oxl::http::Response response;
    ASSERT_EQ(get(box.internalUrl(Sandbox::PAGE), response), HttpClientResult::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), Sandbox::PAGE_TEXT);

    class Done : public oxl::http::HttpClientListener {
      public:
        void onRequestFailed(unsigned int, HttpClientResult::Result) override { finished = true; }
        void onRequestCompleted(unsigned int, oxl::http::Response&) override { finished = true; }
        std::atomic<bool> finished{false};
    };
    auto done = std::make_shared<Done>();
    auto asyncRequest = std::make_shared<oxl::http::Request>(box.internalUrl(Sandbox::PAGE));
    asyncRequest->setListener(done);
    unsigned int id = 0;
    ASSERT_EQ(client->executeAsync(asyncRequest, id), oxl::http::HttpClientError::SUCCESS);
    auto multi = NetUtilsFactory().createMultiHttpClient();
    auto multiDone = std::make_shared<Done>();
    auto multiRequest = std::make_shared<oxl::http::Request>(box.internalUrl(Sandbox::PAGE));
    multiRequest->setListener(multiDone);
    ASSERT_EQ(multi->enqueueRequest(multiRequest, id), oxl::http::HttpClientError::SUCCESS);
    ASSERT_TRUE(waitFor([&] { return done->finished && multiDone->finished; }, LONG_WAIT));
    ASSERT_TRUE(NetworkEventReporterImpl::waitUntilIdleForTesting(10000));

    const auto during = threadsOfThisProcess();
    EXPECT_GT(during.size(), before.size() + 3) << "the session ran on threads of its own";
    multi.reset();
    TearDown();
    GlobalCleanup();
    std::map<long, std::string> left;
    const bool clean = waitFor(
        [&] {
            left.clear();
            for (const auto& [id, name] : threadsOfThisProcess()) {
                if (before.count(id) == 0 && name != "TimerQueue" && name.rfind("TimerCallback", 0) != 0) {
                    left[id] = name;
                }
            }
            return left.empty();
        },
        std::chrono::seconds(10));
    std::string names;
    for (const auto& [id, name] : left) {
        names += " " + std::to_string(id) + ":" + name;
    }
    EXPECT_TRUE(clean) << "still running:" << names;
    // The next test's GlobalInit starts libcurl again.
    oxl::netutils::testing::resetInitialisationState();
}

}  // namespace
}  // namespace oxl::netutils

#include <gtest/gtest.h>

#include "EdgeStateTestSupport.h"
#include "oxl/edge/EdgeInfrastructureEventControllerImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using test::ManualClock;
using test::RecordingEdgeState;
using test::waitFor;

TEST(RecentlyUsedServersTest, EntriesExpireAtTheTimeoutAndBadInputIsRefused) {
    ManualClock clock;
    RecentlyUsedServers servers(clock.fn());
    EdgeConfig config;
    config.addSipRoute("sip:edge;lr");

    EXPECT_FALSE(servers.addFailedServer("", 4));
    EXPECT_FALSE(servers.addFailedServer("edge1", 0));
    EXPECT_FALSE(servers.addSuccessfulServer("", config));
    EXPECT_FALSE(servers.addSuccessfulServer("edge2", EdgeConfig()));
    EXPECT_TRUE(servers.isEmpty());

    ASSERT_TRUE(servers.addFailedServer("edge1", 4));
    ASSERT_TRUE(servers.addSuccessfulServer("edge2", config));
    clock.now += 119;
    EXPECT_TRUE(servers.isRecentlyFailed("edge1"));
    EXPECT_FALSE(servers.isRecentlySucceeded("edge1"));
    EXPECT_EQ(servers.getErrorCode("edge1"), 4u);
    EXPECT_TRUE(servers.isRecentlySucceeded("edge2"));
    EXPECT_FALSE(servers.isRecentlyFailed("edge2"));
    EXPECT_EQ(servers.getEdgeConfig("edge2"), config);

    clock.now += 1;  // 120 s: gone, and removed on the way
    EXPECT_FALSE(servers.isRecentlyFailed("edge1"));
    EXPECT_EQ(servers.getErrorCode("edge1"), 0u);
    EXPECT_FALSE(servers.isRecentlySucceeded("edge2"));
    EXPECT_TRUE(servers.isEmpty());

    // A new outcome replaces the old one; clearing successes keeps failures.
    servers.setTimeoutInSec(0);
    EXPECT_EQ(servers.getTimeoutInSec(), 120u);
    servers.setTimeoutInSec(10);
    servers.addSuccessfulServer("edge1", config);
    servers.addFailedServer("edge1", 6);
    servers.addSuccessfulServer("edge3", config);
    servers.clearSuccessfulServers();
    EXPECT_FALSE(servers.isRecentlySucceeded("edge3"));
    EXPECT_TRUE(servers.isRecentlyFailed("edge1"));
    clock.now += 10;
    EXPECT_FALSE(servers.isRecentlyFailed("edge1"));
}

class InfrastructureControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        controller = EdgeInfrastructureEventControllerImpl::build(state);
        controller->setClockForTesting(clock.fn());
        controller->start();
    }
    void TearDown() override { controller->stop(); }

    // Enqueues and waits until the reactor thread has handled it.
    void process(std::unique_ptr<EdgeInfrastructureEvent> event) {
        const int before = controller->getCountEventsProcessed();
        controller->enqueue(std::move(event));
        ASSERT_TRUE(waitFor([&] { return controller->getCountEventsProcessed() > before; }));
    }

    ManualClock clock;
    std::shared_ptr<RecordingEdgeState> state = std::make_shared<RecordingEdgeState>();
    std::shared_ptr<EdgeInfrastructureEventControllerImpl> controller;
};

// Single-server failovers at 0, 10, 20, 30 and 95 s: the first is counted alone, the next three come too
// soon after that check, the fifth finds four failovers in the last 90 s and re-fetches.
TEST_F(InfrastructureControllerTest, FrequentFailoversRefetchOnlyOncePerWindowCheck) {
    const std::int64_t start = clock.now;
    const struct {
        int at;
        unsigned int refetches;
    } steps[] = {{0, 0}, {10, 0}, {20, 0}, {30, 0}, {95, 1}, {96, 1}};
    for (const auto& step : steps) {
        clock.now = start + step.at;
        process(controller->createEdgeConnectionFailedEvent("edge1.ext.test", false));
        EXPECT_EQ(controller->getRefetchCount(), step.refetches)
            << "after the failure at " << step.at << " s";
    }
    const auto calls = state->calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[4], "failed edge1.ext.test 4");
    // The configuration is thrown away before the new one is asked for.
    EXPECT_EQ(calls[5], "removeEdgeConfig");
    EXPECT_EQ(calls[6], "getEdgeConfiguration");
}

// A failover recorded while checks were too soon, but older than the window at the next check, does not
// count: at 190 s only 150 and 190 are inside [100, 190], which is not more than the threshold of two.
TEST_F(InfrastructureControllerTest, FailoversOlderThanTheWindowAreNotCounted) {
    const std::int64_t start = clock.now;
    const struct {
        int at;
        unsigned int refetches;
    } steps[] = {{0, 0}, {95, 0}, {96, 0}, {150, 0}, {190, 0}, {200, 0}, {210, 0}, {281, 1}};
    for (const auto& step : steps) {
        clock.now = start + step.at;
        process(controller->createEdgeUnresolvedHostEvent("edge2.ext.test", false));
        EXPECT_EQ(controller->getRefetchCount(), step.refetches)
            << "after the failure at " << step.at << " s";
    }
    EXPECT_EQ(state->calls().front(), "failed edge2.ext.test 6");
}

TEST_F(InfrastructureControllerTest, EventsByLabel) {
    auto manager = std::make_shared<DefaultCredentialsManager>();
    state->manager = manager;
    state->credentials = std::make_shared<Credentials>("alice", "pw", "token");
    const std::int64_t start = clock.now;
    const struct {
        std::function<std::unique_ptr<EdgeInfrastructureEvent>()> make;
        std::vector<std::string> calls;
    } table[] = {
        // A cluster failure re-fetches at once...
        {[&] { return controller->createEdgeConnectionFailedEvent("e1", true); },
         {"failed e1 4", "removeEdgeConfig", "getEdgeConfiguration"}},
        // ...but not twice within the re-fetch period.
        {[&] { return controller->createEdgeUnresolvedHostEvent("e2", true); }, {"failed e2 6"}},
        {[&] { return controller->createEdgeNextHopFailedEvent("e3"); }, {"failed e3 8"}},
        {[&] { return controller->createEdgeInternalServerErrorEvent("e4"); }, {"failed e4 8"}},
        {[&] { return controller->createEdgeServiceUnavailableEvent("e5"); }, {"failed e5 8"}},
        {[&] { return controller->createEdgeAuthenticationRequiredEvent("e6"); }, {}},
        {[&] { return controller->createEdgeOauthExpiredEvent("e7"); }, {}},
        {[&] { return std::make_unique<EdgeInfrastructureEvent>("SomethingElse", "e8"); }, {}},
    };
    oxl::test::LogCapture log;
    for (const auto& row : table) {
        state->clearCalls();
        process(row.make());
        EXPECT_EQ(state->calls(), row.calls);
    }
    EXPECT_EQ(manager->getExpiredCount(), 1u);
    EXPECT_EQ(log.count("unknown label: SomethingElse"), 1u);

    // After the period, a server error re-fetches again.
    clock.now = start + 61;
    state->clearCalls();
    process(controller->createEdgeServiceUnavailableEvent("e9"));
    EXPECT_EQ(state->calls(),
              (std::vector<std::string>{"failed e9 8", "removeEdgeConfig", "getEdgeConfiguration"}));
}

TEST_F(InfrastructureControllerTest, OnHoldDropsEventsAndStopForgetsTheLastRefetch) {
    controller->setOnHold();
    process(controller->createEdgeConnectionFailedEvent("e1", true));
    EXPECT_TRUE(state->calls().empty());
    controller->clearOnHold();
    process(controller->createEdgeConnectionFailedEvent("e1", true));
    EXPECT_EQ(controller->getRefetchCount(), 1u);

    // A fresh start after stop may re-fetch at once again.
    controller->stop();
    controller = EdgeInfrastructureEventControllerImpl::build(state);
    controller->setClockForTesting(clock.fn());
    controller->start();
    process(controller->createEdgeConnectionFailedEvent("e1", true));
    EXPECT_EQ(controller->getRefetchCount(), 1u);
}

TEST(EdgeInfrastructureEventControllerTest, ProcessWideInstanceIsNeverNull) {
    oxl::test::LogCapture log;
    EdgeInfrastructureEventController::setInstance(nullptr);
    auto fallback = EdgeInfrastructureEventController::getInstance();
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(fallback->createEdgeConnectionFailedEvent("e1", true), nullptr);
    fallback->enqueue(std::make_unique<EdgeOauthExpiredEvent>("e1"));
    EXPECT_EQ(log.count("No implementation provided for EdgeInfrastructureEventController"), 2u);

    auto state = std::make_shared<RecordingEdgeState>();
    auto real = EdgeInfrastructureEventControllerImpl::build(state);
    EdgeInfrastructureEventController::setInstance(real);
    EXPECT_EQ(EdgeInfrastructureEventController::getInstance(), real);
    EXPECT_EQ(real->createEdgeConnectionFailedEvent("e1", true)->toString(),
              "label: EdgeConnectionFailed server: e1");
    EdgeInfrastructureEventController::setInstance(nullptr);
    EXPECT_NE(EdgeInfrastructureEventController::getInstance(), real);
}

}  // namespace
}  // namespace oxl::edge

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <random>

#include "EdgeStateTestSupport.h"
#include "oxl/edge/EdgeRefreshTimer.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using test::edgeConfigWith;
using test::FakeDetection;
using test::ManualClock;
using test::ScriptedRequest;
using test::waitFor;
using Result = GlobalEdgeState::GetEdgeConfigurationResult;
using Answer = ScriptedRequest::Answer;

const EdgeServiceLocation E1("e1.ext.test", 443, 0);
const EdgeServiceLocation E2("e2.ext.test", 443, 0);

class CountingObserver : public GlobalEdgeStateObserver {
  public:
    std::atomic<int> visibility{0};
    std::atomic<int> configs{0};
    void onVisibilityChanged() override { ++visibility; }
    void onEdgeConfigAvailable() override { ++configs; }
};

class RecordingListener : public GetEdgeConfigurationListener {
  public:
    void onEdgeConfigurationRetrieved(GlobalEdgeState::RequestId id, const Result& result) override {
        std::lock_guard<std::mutex> lock(mutex);
        answers.emplace_back(id, result.result);
    }
    std::vector<std::pair<GlobalEdgeState::RequestId, Result::Result>> get() {
        std::lock_guard<std::mutex> lock(mutex);
        return answers;
    }
    std::mutex mutex;
    std::vector<std::pair<GlobalEdgeState::RequestId, Result::Result>> answers;
};

class GlobalEdgeStateTest : public ::testing::Test {
  protected:
    void SetUp() override { rebuild(); }
    void TearDown() override {
        GlobalEdgeStateImpl::setRefreshTimerFireTime(0);
        GlobalEdgeStateImpl::setTokenRefreshTimeRate(GlobalEdgeStateImpl::DEFAULT_REFRESH_RATE);
    }
    void rebuild() {
        detection = std::make_shared<FakeDetection>();
        detection->setEdgeRecords({{E1.address, E1.tlsPort}, {E2.address, E2.tlsPort}});
        request = std::make_shared<ScriptedRequest>();
        state = GlobalEdgeStateImpl::build(request, detection, "corp.test");
        state->setClockForTesting(clock.fn());
        recent = std::make_shared<RecentlyUsedServers>(clock.fn());
        state->setRecentlyUsedServers(recent);
        manager = std::make_shared<DefaultCredentialsManager>(Credentials("alice@corp.test", "pw", ""));
        state->setCredentialsManager(manager);
        observer = std::make_shared<CountingObserver>();
        state->addObserver(observer);
    }
    // A configuration listing both servers, its session cookie valid for `lifetime` seconds.
    EdgeConfig config(long lifetime = 100, const std::string& value = "session1",
                      const std::vector<std::string>& services = {}) {
        return edgeConfigWith({E1, E2}, lifetime < 0 ? -1 : clock.now + lifetime, value, services);
    }

    ManualClock clock;
    std::shared_ptr<FakeDetection> detection;
    std::shared_ptr<ScriptedRequest> request;
    std::shared_ptr<GlobalEdgeStateImpl> state;
    std::shared_ptr<RecentlyUsedServers> recent;
    std::shared_ptr<DefaultCredentialsManager> manager;
    std::shared_ptr<CountingObserver> observer;
};

TEST_F(GlobalEdgeStateTest, OnHoldEverythingIsUnavailableUntilTheDomainIsSet) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config()}});
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    const int noticesBefore = observer->visibility;

    state->stop();
    // Visibility had been reported, so the session was ended on the edge that gave it.
    EXPECT_EQ(request->hosts(), (std::vector<std::string>{"e1.ext.test", "e1.ext.test end"}));
    EXPECT_TRUE(state->isOnHold());
    EXPECT_FALSE(state->isEdgeConnectivityAvailable());
    EXPECT_FALSE(state->isInternalConnectivityAvailable());
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    auto listener = std::make_shared<RecordingListener>();
    GlobalEdgeState::RequestId id = 99;
    EXPECT_EQ(state->getEdgeConfigurationAsync(listener, id).result, Result::EDGE_CONNECTIVITY_UNAVAILABLE);
    EXPECT_EQ(id, 0u);
    state->refreshEdgeConfiguration();
    detection->announce(false, true);
    EXPECT_EQ(observer->visibility, noticesBefore);
    EXPECT_EQ(request->calls().size(), 2u);

    state->setEdgeDomain("corp.test");
    EXPECT_FALSE(state->isOnHold());
    EXPECT_EQ(observer->visibility, noticesBefore + 1);
    EXPECT_TRUE(state->isEdgeConnectivityAvailable());
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->calls().size(), 3u);
    EXPECT_TRUE(listener->get().empty());
}

TEST_F(GlobalEdgeStateTest, RefreshTimerFollowsTheSessionCookie) {
    const struct {
        long lifetime;
        float rate;
        long seconds;
    } table[] = {
        {100, 0.7F, 70},
        {100, 0.5F, 50},
        {3600, 0.7F, 2520},
        {10, 0.7F, 7},
        {1'000'000'000L, 0.7F, EdgeRefreshTimer::MAX_SECONDS},
    };
    int n = 0;
    for (const auto& row : table) {
        GlobalEdgeStateImpl::setTokenRefreshTimeRate(row.rate);
        state->removeEdgeConfig();
        request->script(E1.address,
                        {{EdgeConfigRequest::SUCCESS, config(row.lifetime, "s" + std::to_string(++n))}});
        ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS) << row.lifetime;
        EXPECT_EQ(state->getRefreshTimerSeconds(), row.seconds) << row.lifetime;
        EXPECT_EQ(state->getRefreshTimerFireTime(), clock.now + row.seconds) << row.lifetime;
    }
    // Rates outside (0, 1] are refused.
    GlobalEdgeStateImpl::setTokenRefreshTimeRate(0.7F);
    for (const float bad : {0.0F, -0.5F, 1.5F, std::nanf("")}) {
        GlobalEdgeStateImpl::setTokenRefreshTimeRate(bad);
        EXPECT_FLOAT_EQ(GlobalEdgeStateImpl::getTokenRefreshTimeRate(), 0.7F);
    }
}

TEST_F(GlobalEdgeStateTest, WalkOverTheEdgeServers) {
    const struct {
        const char* name;
        std::deque<Answer> e1;
        std::deque<Answer> e2;
        std::vector<std::string> services;
        Result::Result result;
        std::vector<std::string> hosts;
        std::string from;  // server the held configuration came from
        bool e1Failed;     // recorded as recently failed
    } table[] = {
        {"connection failure fails over",
         {{EdgeConfigRequest::CONNECTION_FAILED}},
         {{EdgeConfigRequest::SUCCESS, config()}},
         {},
         Result::SUCCESS,
         {"e1.ext.test", "e2.ext.test"},
         "e2.ext.test",
         true},
        {"expired cookie fails over",
         {{EdgeConfigRequest::SUCCESS, config(-5 + 0)}},
         {{EdgeConfigRequest::SUCCESS, config()}},
         {},
         Result::SUCCESS,
         {"e1.ext.test", "e2.ext.test"},
         "e2.ext.test",
         false},
        {"no session cookie fails over",
         {{EdgeConfigRequest::SUCCESS, config(-1)}},
         {{EdgeConfigRequest::SUCCESS, config()}},
         {},
         Result::SUCCESS,
         {"e1.ext.test", "e2.ext.test"},
         "e2.ext.test",
         false},
        {"missing service fails over",
         {{EdgeConfigRequest::SUCCESS, config(100, "a", {"other"})}},
         {{EdgeConfigRequest::SUCCESS, config(100, "b", {"svc"})}},
         {"svc"},
         Result::SUCCESS,
         {"e1.ext.test", "e2.ext.test"},
         "e2.ext.test",
         false},
        {"missing everywhere",
         {{EdgeConfigRequest::SUCCESS, config(100, "a")}},
         {{EdgeConfigRequest::SUCCESS, config(100, "b")}},
         {"svc"},
         Result::SERVICE_NAME_UNAVAILABLE,
         {"e1.ext.test", "e2.ext.test"},
         "",
         false},
        {"rate limit stops the walk",
         {{EdgeConfigRequest::TOO_MANY_REQUESTS}},
         {{EdgeConfigRequest::SUCCESS, config()}},
         {},
         Result::TOO_MANY_REQUESTS,
         {"e1.ext.test"},
         "",
         true},
        {"last failure is not recorded",
         {{EdgeConfigRequest::SSL_CONNECTION_ERROR}},
         {{EdgeConfigRequest::UNSUCCESSFUL_RESPONSE}},
         {},
         Result::EDGE_CONNECTIVITY_UNAVAILABLE,
         {"e1.ext.test", "e2.ext.test"},
         "",
         true},
        {"certificate",
         {{EdgeConfigRequest::CERTIFICATE_VALIDATION_ERROR}},
         {{EdgeConfigRequest::CERTIFICATE_VALIDATION_ERROR}},
         {},
         Result::EDGE_SERVER_CERTIFICATE_VALIDATION_ERROR,
         {"e1.ext.test", "e2.ext.test"},
         "",
         false},
        {"unreadable answer",
         {{EdgeConfigRequest::FAILED_TO_PARSE_RESPONSE}},
         {{EdgeConfigRequest::FAILED_TO_PARSE_RESPONSE}},
         {},
         Result::INVALID_EDGE_CONFIGURATION,
         {"e1.ext.test", "e2.ext.test"},
         "",
         false},
    };
    for (const auto& row : table) {
        rebuild();
        request->script(E1.address, row.e1);
        request->script(E2.address, row.e2);
        const auto result = state->getEdgeConfiguration(row.services);
        EXPECT_EQ(result.result, row.result) << row.name;
        EXPECT_EQ(request->hosts(), row.hosts) << row.name;
        EXPECT_EQ(state->getCurrentEdgeServer().address, row.from) << row.name;
        EXPECT_EQ(recent->isRecentlyFailed(E1.address), row.e1Failed) << row.name;
        EXPECT_FALSE(recent->isRecentlyFailed(E2.address)) << row.name;
        EXPECT_EQ(result.edgeConfig == EdgeConfig(), row.result != Result::SUCCESS) << row.name;
    }
}

TEST_F(GlobalEdgeStateTest, RecentlyFailedServersAreSkippedUntilTheyExpire) {
    request->script(E1.address,
                    {{EdgeConfigRequest::CONNECTION_FAILED}, {EdgeConfigRequest::SUCCESS, config(100, "x")}});
    request->script(E2.address, {{EdgeConfigRequest::SUCCESS, config()}});
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    // The configuration came from e2; losing e2 makes it unusable, and e1 is still skipped.
    ASSERT_TRUE(state->addRecentlyFailedServer(E2.address, 4));
    request->clearCalls();
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->hosts(), std::vector<std::string>{"e2.ext.test"})
        << "every server failed: the last is tried";

    clock.now += RecentlyUsedServers::DEFAULT_TIMEOUT_SEC;
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100, "x")}});
    state->removeEdgeConfig();
    request->clearCalls();
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->hosts(), std::vector<std::string>{"e1.ext.test"});
    EXPECT_EQ(state->getCurrentEdgeServer().address, E1.address);
}

TEST_F(GlobalEdgeStateTest, RefusedCredentialsAreNotSentAgainUntilTheyChange) {
    request->script(E1.address, {{EdgeConfigRequest::AUTHENTICATION_FAILED}});
    request->script(E2.address, {{EdgeConfigRequest::SUCCESS, config()}});
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::EDGE_AUTHENTICATION_FAILED);
    // The user part first, then the full name; never the next server.
    auto calls = request->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].username, "alice");
    EXPECT_FALSE(calls[0].isFullUsername);
    EXPECT_EQ(calls[1].username, "alice@corp.test");
    EXPECT_TRUE(calls[1].isFullUsername);
    EXPECT_EQ(manager->getRejectedCount(), 1u);

    const struct {
        const char* name;
        std::function<void()> act;
        Result::Result result;
        size_t newCalls;
    } steps[] = {
        {"same credentials", [] {}, Result::EDGE_AUTHENTICATION_FAILED, 0},
        {"same values set again",
         [this] { manager->setCredentials(Credentials("alice@corp.test", "pw", "")); },
         Result::EDGE_AUTHENTICATION_FAILED, 0},
        {"new password", [this] { manager->setCredentials(Credentials("alice@corp.test", "pw2", "")); },
         Result::EDGE_AUTHENTICATION_FAILED, 2},
        {"refused again", [] {}, Result::EDGE_AUTHENTICATION_FAILED, 0},
        {"session ended", [this] { state->terminateEdgeSession(); }, Result::EDGE_AUTHENTICATION_FAILED, 2},
        {"token", [this] { manager->setCredentials(Credentials("", "", "tok")); },
         Result::EDGE_AUTHENTICATION_FAILED, 1},
    };
    for (const auto& step : steps) {
        request->clearCalls();
        step.act();
        EXPECT_EQ(state->getEdgeConfiguration().result, step.result) << step.name;
        EXPECT_EQ(request->calls().size(), step.newCalls) << step.name;
        GlobalEdgeState::RequestId id = 7;
        EXPECT_EQ(state->getEdgeConfigurationAsync(std::make_shared<RecordingListener>(), id).result,
                  Result::EDGE_AUTHENTICATION_FAILED)
            << step.name;
        EXPECT_EQ(id, 0u) << step.name;
    }
    EXPECT_TRUE(request->calls().back().token);
}

TEST_F(GlobalEdgeStateTest, FullNameRetrySucceeds) {
    request->script(E1.address,
                    {{EdgeConfigRequest::AUTHENTICATION_FAILED}, {EdgeConfigRequest::SUCCESS, config()}});
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->calls().size(), 2u);
    EXPECT_EQ(manager->getAcceptedCount(), 1u);
    EXPECT_EQ(manager->getRejectedCount(), 0u);
    // Held and valid now: no further request.
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->calls().size(), 2u);
}

TEST_F(GlobalEdgeStateTest, HeldConfigurationAndPreconditions) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100, "a", {"svc"})}});
    request->script(E2.address, {{EdgeConfigRequest::SUCCESS, config(100, "a", {"svc"})}});
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::string> services;
        Result::Result result;
        size_t calls;
    } table[] = {
        {"first fetch", [] {}, {}, Result::SUCCESS, 1},
        {"held", [] {}, {"svc"}, Result::SUCCESS, 0},
        {"other service", [] {}, {"other"}, Result::SERVICE_NAME_UNAVAILABLE, 2},
        {"held again", [] {}, {}, Result::SUCCESS, 1},
        {"another user",
         [this] { manager->setCredentials(Credentials("bob@corp.test", "pw", "")); },
         {},
         Result::SUCCESS,
         1},
        // The clock reads whole seconds and the timer runs up to a second after it shows the fire time: the
        // session holds until then, so that the timer's renewal is not overtaken by a full request.
        {"timer due, about to run", [this] { clock.now += 70; }, {}, Result::SUCCESS, 0},
        {"timer due, its run a second late", [this] { clock.now += 1; }, {}, Result::SUCCESS, 0},
        {"timer expired", [this] { clock.now += 1; }, {}, Result::SUCCESS, 1},
        {"same domain", [this] { state->setEdgeDomain("corp.test"); }, {}, Result::SUCCESS, 0},
        // A session belongs to the domain it was opened for.
        {"new domain", [this] { state->setEdgeDomain("corp2.test"); }, {}, Result::SUCCESS, 1},
        {"no credentials", [this] { manager->clearCredentials(); }, {}, Result::CREDENTIALS_NOT_SET, 0},
        {"no manager", [this] { state->setCredentialsManager(nullptr); }, {}, Result::CREDENTIALS_NOT_SET, 0},
        {"no edge",
         [this] { detection->announce(false, false); },
         {},
         Result::EDGE_CONNECTIVITY_UNAVAILABLE,
         0},
    };
    for (const auto& row : table) {
        request->clearCalls();
        row.arrange();
        EXPECT_EQ(state->getEdgeConfiguration(row.services).result, row.result) << row.name;
        EXPECT_EQ(request->calls().size(), row.calls) << row.name;
    }
    detection->announce(false, true);
    state->setCredentialsManager(manager);
    manager->setCredentials(Credentials("alice@corp.test", "pw", ""));
    state->setEdgeDomain("corp3.test");
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->calls().back().domain, "corp3.test");
    GlobalEdgeState::RequestId id = 5;
    EXPECT_EQ(state->getEdgeConfigurationAsync(nullptr, id).result, Result::INVALID_ARGUMENT);
    EXPECT_EQ(id, 0u);

    rebuild();
    detection->setEdgeRecords({});
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::EDGE_SERVER_CONNECTION_PARAMS_UNAVAILABLE);
}

TEST_F(GlobalEdgeStateTest, ConcurrentAsyncRequestsGetTheirOwnIdsAndShareOneFetch) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config()}});
    request->closeGate();
    auto first = std::make_shared<RecordingListener>();
    auto second = std::make_shared<RecordingListener>();
    GlobalEdgeState::RequestId firstId = 0;
    GlobalEdgeState::RequestId secondId = 0;
    ASSERT_EQ(state->getEdgeConfigurationAsync(first, firstId).result, Result::REQUEST_SUBMITTED);
    ASSERT_EQ(state->getEdgeConfigurationAsync(second, secondId).result, Result::REQUEST_SUBMITTED);
    EXPECT_NE(firstId, 0u);
    EXPECT_NE(secondId, 0u);
    EXPECT_NE(firstId, secondId);
    ASSERT_TRUE(waitFor([&] { return request->calls().size() == 1; }));
    request->openGate();
    ASSERT_TRUE(waitFor([&] { return first->get().size() == 1 && second->get().size() == 1; }));
    EXPECT_EQ(first->get()[0], std::make_pair(firstId, Result::SUCCESS));
    EXPECT_EQ(second->get()[0], std::make_pair(secondId, Result::SUCCESS));
    EXPECT_EQ(request->calls().size(), 1u);
    ASSERT_TRUE(waitFor([&] { return observer->configs == 1; }));
    // Now held: answered at once, the listener is not called.
    auto third = std::make_shared<RecordingListener>();
    GlobalEdgeState::RequestId thirdId = 3;
    EXPECT_EQ(state->getEdgeConfigurationAsync(third, thirdId).result, Result::SUCCESS);
    EXPECT_EQ(thirdId, 0u);
    EXPECT_EQ(first->get().size(), 1u);
    EXPECT_TRUE(third->get().empty());
}

TEST_F(GlobalEdgeStateTest, RefreshRenewsTheCookieOnTimeAndNotFromInside) {
    // A cookie of 3 s: the timer fires after 2 s (the state's clock is moved along with it).
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(3, "session1")},
                                 {EdgeConfigRequest::SUCCESS, config(102, "session2")}});
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    ASSERT_EQ(state->getRefreshTimerSeconds(), 2);
    clock.now += 2;
    ASSERT_TRUE(waitFor([&] { return observer->configs == 2; }, std::chrono::seconds(10)));
    const auto calls = request->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[1].isRefresh);
    EXPECT_FALSE(calls[1].zeroTtl);
    EXPECT_EQ(calls[1].xAuthValue, "session1");
    EXPECT_EQ(state->getRefreshTimerSeconds(), 70);
    const auto held = state->getEdgeConfiguration();
    ASSERT_EQ(held.result, Result::SUCCESS);
    ASSERT_EQ(held.edgeConfig.getCookies().size(), 1u);
    EXPECT_EQ(held.edgeConfig.getCookies()[0].getValue(), "session2");

    // Inside, or without the edge, a refresh sends nothing.
    for (const auto& [internal, edge] : {std::pair{true, true}, std::pair{false, false}}) {
        detection->announce(internal, edge);
        state->refreshEdgeConfiguration();
        EXPECT_EQ(request->calls().size(), 2u);
    }
}

TEST_F(GlobalEdgeStateTest, ExpiredCookieRefreshFetchesAgainAndARemovedConfigurationStaysRemoved) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100, "a")}});
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    clock.now += 200;
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100, "b")}});
    state->refreshEdgeConfiguration();
    EXPECT_EQ(request->hosts(), (std::vector<std::string>{"e1.ext.test", "e1.ext.test"}));

    // The configuration is removed while a refresh is on the wire: the refresh must not bring it back.
    clock.now += 71;
    request->closeGate();
    auto refresh = std::async(std::launch::async, [this] { state->refreshEdgeConfiguration(); });
    ASSERT_TRUE(waitFor([&] { return request->calls().size() == 3; }));
    state->removeEdgeConfig();
    request->openGate();
    refresh.get();
    EXPECT_EQ(state->getCurrentEdgeServer().address, "");
    request->clearCalls();
    EXPECT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    EXPECT_EQ(request->hosts(), std::vector<std::string>{"e1.ext.test"});
}

// While a renewal is on its way the session cookie still holds: requests do not wait for a slow edge. A
// renewal that failed leaves the next request to fetch a new configuration.
TEST_F(GlobalEdgeStateTest, RequestsDoNotWaitForARefreshOnTheWire) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100, "a")},
                                 {EdgeConfigRequest::CONNECTION_FAILED},
                                 {EdgeConfigRequest::SUCCESS, config(200, "c")}});
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    clock.now += 71;
    request->closeGate();
    state->scheduleRefresh();
    ASSERT_TRUE(waitFor([&] { return request->calls().size() == 2; }));
    auto during = std::async(std::launch::async, [this] { return state->getEdgeConfiguration(); });
    const bool answeredAtOnce = during.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    request->openGate();
    ASSERT_TRUE(answeredAtOnce) << "the request waited for the refresh";
    const auto held = during.get();
    EXPECT_EQ(held.result, Result::SUCCESS);
    EXPECT_EQ(held.edgeConfig.getCookies()[0].getValue(), "a");
    EXPECT_EQ(request->calls().size(), 2u);
    // The renewal failed: the next request does not keep the old session alive on its own.
    ASSERT_TRUE(waitFor([&] {
        request->clearCalls();
        const auto after = state->getEdgeConfiguration();
        return after.result == Result::SUCCESS && after.edgeConfig.getCookies()[0].getValue() == "c";
    }));
}

TEST_F(GlobalEdgeStateTest, WakeupInBackgroundRefreshesOnlyAnExpiredTimer) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100, "a")}});
    state->onAppEvent(OXLSystemMonitor::AppEventType::WAKEUP_IN_BACKGROUND);  // no timer yet
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);
    auto monitor = OXLSystemMonitor::SystemMonitorFactory::getInstance();
    monitor->postAppEvent(OXLSystemMonitor::AppEventType::WAKEUP_IN_BACKGROUND);
    monitor->postAppEvent(OXLSystemMonitor::AppEventType::ENTERED_FOREGROUND);
    ASSERT_TRUE(monitor->waitUntilIdle(std::chrono::seconds(5)));
    EXPECT_EQ(request->calls().size(), 1u);

    GlobalEdgeStateImpl::setRefreshTimerFireTime(clock.now - 1);
    monitor->postAppEvent(OXLSystemMonitor::AppEventType::WAKEUP_IN_BACKGROUND);
    ASSERT_TRUE(waitFor([&] { return observer->configs == 2; }));
    EXPECT_EQ(request->hosts(), (std::vector<std::string>{"e1.ext.test", "e1.ext.test refresh"}));
}

// Observers come and go on many threads while visibility flips and configurations arrive; an observer that
// calls back into the state from its notice must not deadlock, and one that throws must not stop the others.
TEST_F(GlobalEdgeStateTest, ObserversChangeWhileVisibilityFlips) {
    request->script(E1.address, {{EdgeConfigRequest::SUCCESS, config(100000)}});
    ASSERT_EQ(state->getEdgeConfiguration().result, Result::SUCCESS);

    class Reentrant : public GlobalEdgeStateObserver {
      public:
        explicit Reentrant(GlobalEdgeStateImpl& s) : state(s) {}
        void onVisibilityChanged() override {
            state.isEdgeConnectivityAvailable();
            state.getEdgeConfiguration();
            auto extra = std::make_shared<CountingObserver>();
            state.addObserver(extra);
            state.removeObserver(extra);
        }
        void onEdgeConfigAvailable() override {}
        GlobalEdgeStateImpl& state;
    };
    class Throwing : public GlobalEdgeStateObserver {
      public:
        void onVisibilityChanged() override { throw std::runtime_error("observer failure"); }
        void onEdgeConfigAvailable() override { throw 42; }
    };
    state->addObserver(std::make_shared<Throwing>());
    state->addObserver(std::make_shared<Reentrant>(*state));
    const int before = observer->visibility;

    constexpr int FLIPS = 1000;
    auto work = std::async(std::launch::async, [&] {
        std::vector<std::thread> churn;
        for (int t = 0; t < 6; ++t) {
            churn.emplace_back([&, t] {
                std::mt19937 random(t);
                std::vector<std::shared_ptr<CountingObserver>> mine(5);
                for (int i = 0; i < 2000; ++i) {
                    auto& slot = mine[random() % mine.size()];
                    if (slot) {
                        state->removeObserver(slot);
                        slot.reset();
                    } else {
                        slot = std::make_shared<CountingObserver>();
                        state->addObserver(slot);
                    }
                    if (i % 100 == 0) {
                        state->notifyObserversOfConfigAvailable();
                    }
                }
            });
        }
        for (int i = 0; i < FLIPS; ++i) {
            detection->announce(i % 2 == 0, true);
            state->isInternalConnectivityAvailable();
        }
        for (auto& t : churn) {
            t.join();
        }
    });
    ASSERT_EQ(work.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "deadlock";
    EXPECT_EQ(observer->visibility, before + FLIPS);
    EXPECT_FALSE(state->isInternalConnectivityAvailable());
}

}  // namespace
}  // namespace oxl::edge

// The unresolved-host cache: which URLs reach the resolver, how long a failure is remembered, and the
// cache under concurrent use.
#include "oxl/http/UnresolvedHostCache.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "EdgeHooksTestSupport.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

using oxl::test::ManualClock;
using oxl::test::SetResolver;

TEST(UnresolvedHostCacheTest, WhichUrlsReachTheResolver) {
    oxl::test::LogCapture log;
    struct Case {
        const char* url;
        bool expected;
        const char* lookedUp;  // host the resolver must have been asked for, or null for none
    };
    const Case cases[] = {
        {"https://good.corp.test/path", true, "good.corp.test"},
        {"https://bad.corp.test:8443/x?y=1", false, "bad.corp.test"},
        {"https://10.1.2.3/x", true, nullptr},
        {"http://[2001:db8::1]:8080/x", true, nullptr},
        {"https://[::1]/", true, nullptr},
        {"", false, nullptr},
        {"https:///nohost", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto resolver = std::make_shared<SetResolver>(std::set<std::string>{"good.corp.test"});
        UnresolvedHostCache cache(resolver);
        EXPECT_EQ(cache.hostCanBeResolved(c.url), c.expected);
        EXPECT_EQ(resolver->totalCalls(), c.lookedUp ? 1 : 0);
        if (c.lookedUp) {
            EXPECT_EQ(resolver->calls(c.lookedUp), 1);
        }
        // Only a name that failed to resolve is remembered.
        EXPECT_EQ(cache.isEmpty(), c.expected || c.lookedUp == nullptr);
    }
    EXPECT_EQ(
        log.count("Unable to extract the host from URL 'https:///nohost'. Method hostCanBeResolved failed"),
        1U);
}

TEST(UnresolvedHostCacheTest, FailureIsRememberedForTheTimeout) {
    ManualClock clock;
    auto resolver = std::make_shared<SetResolver>(std::set<std::string>{});
    UnresolvedHostCache cache(resolver, clock.fn());
    const std::int64_t start = clock.now;

    // (seconds after the first failure, expected resolver calls so far)
    struct Step {
        std::int64_t at;
        int calls;
    };
    const Step steps[] = {
        {0, 1},    // first look-up fails and is remembered
        {1, 1},    // refused from the cache
        {119, 1},  // still within 120 seconds
        {120, 2},  // expired: looked up again, fails again and is remembered from now
        {239, 2},  // the refreshed entry counts from 120
        {240, 3},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.at);
        clock.now = start + s.at;
        EXPECT_FALSE(cache.hostCanBeResolved("https://gone.corp.test/a"));
        EXPECT_EQ(resolver->calls("gone.corp.test"), s.calls);
    }
}

TEST(UnresolvedHostCacheTest, ExpiredEntryIsDroppedAndTimeoutIsConfigurable) {
    oxl::test::LogCapture log;
    ManualClock clock;
    auto resolver = std::make_shared<SetResolver>(std::set<std::string>{});
    UnresolvedHostCache cache(resolver, clock.fn());

    cache.setTimeoutInSec(0);  // refused: the default stays
    EXPECT_TRUE(log.contains("cannot set timeout to zero"));
    EXPECT_FALSE(cache.hostCanBeResolved("https://a.test/"));
    clock.now += 119;
    EXPECT_TRUE(cache.isRecentlyUnresolved("a.test"));

    cache.setTimeoutInSec(30);  // applies to entries already stored
    EXPECT_FALSE(cache.isRecentlyUnresolved("a.test"));
    EXPECT_TRUE(log.contains("Previous unresolved result for [a.test] expired"));
    EXPECT_TRUE(cache.isEmpty());

    EXPECT_FALSE(cache.hostCanBeResolved("https://a.test/"));
    clock.now += 29;
    EXPECT_TRUE(cache.isRecentlyUnresolved("a.test"));
    EXPECT_FALSE(cache.isRecentlyUnresolved("other.test"));
    clock.now += 1;
    EXPECT_FALSE(cache.isRecentlyUnresolved("a.test"));

    EXPECT_FALSE(cache.isRecentlyUnresolved(""));
    EXPECT_TRUE(log.contains("Host is empty. Method isRecentlyUnresolved failed"));
}

TEST(UnresolvedHostCacheTest, NullResolverTreatsNamesAsUnresolvable) {
    oxl::test::LogCapture log;
    UnresolvedHostCache cache(nullptr);
    EXPECT_FALSE(cache.hostCanBeResolved("https://a.test/"));
    EXPECT_TRUE(cache.isRecentlyUnresolved("a.test"));
    EXPECT_TRUE(cache.hostCanBeResolved("https://192.0.2.1/"));
}

TEST(UnresolvedHostCacheTest, ConcurrentCallersLookUpAFailingHostAtMostOnceEach) {
    ManualClock clock;
    auto resolver = std::make_shared<SetResolver>(std::set<std::string>{"ok1.test", "ok2.test"});
    UnresolvedHostCache cache(resolver, clock.fn());
    const std::vector<std::string> hosts = {"ok1.test", "bad1.test", "ok2.test", "bad2.test", "bad3.test"};
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 200;

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < ROUNDS; ++i) {
                const auto& host = hosts[static_cast<size_t>(i) % hosts.size()];
                const bool expected = host.rfind("ok", 0) == 0;
                if (cache.hostCanBeResolved("https://" + host + "/p") != expected) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    for (const char* bad : {"bad1.test", "bad2.test", "bad3.test"}) {
        EXPECT_TRUE(cache.isRecentlyUnresolved(bad)) << bad;
        // A thread that saw the failure finds the entry afterwards; only racing first calls may repeat.
        EXPECT_GE(resolver->calls(bad), 1) << bad;
        EXPECT_LE(resolver->calls(bad), THREADS) << bad;
    }
    EXPECT_EQ(resolver->calls("ok1.test") + resolver->calls("ok2.test"), THREADS * ROUNDS * 2 / 5);
}

}  // namespace
}  // namespace oxl::http

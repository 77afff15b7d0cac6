// The configuration value: the single-"X-Auth" rule, service keying and ordering, equality.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "oxl/edge/EdgeConfig.h"

namespace oxl::edge {
namespace {

using oxl::common::Cookie;

Cookie cookie(const std::string& name, long expiry, const std::string& value = "v") {
    return Cookie("edge.test\tFALSE\t/\tTRUE\t" + std::to_string(expiry) + "\t" + name + "\t" + value);
}

std::vector<std::string> lines(const EdgeConfig& config) {
    std::vector<std::string> out;
    for (const auto& c : config.getCookies()) {
        out.push_back(c.getName() + "@" + std::to_string(c.getExpirationDate()) + "=" + c.getValue());
    }
    return out;
}

TEST(EdgeConfigCookies, XAuthRuleKeepsOneLatestLast) {
    struct Case {
        const char* title;
        std::vector<Cookie> added;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"latest of three wins and goes last",
         {cookie("X-Auth", 100, "a"), cookie("X-Auth", 300, "b"), cookie("X-Auth", 200, "c")},
         {"X-Auth@300=b"}},
        {"tie: the added one replaces the held one",
         {cookie("X-Auth", 500, "old"), cookie("X-Auth", 500, "new")},
         {"X-Auth@500=new"}},
        {"an older X-Auth added later loses but the kept one moves last",
         {cookie("X-Auth", 900, "keep"), cookie("a", 1), cookie("X-Auth", 100, "drop"), cookie("b", 2)},
         {"a@1=v", "X-Auth@900=keep", "b@2=v"}},
        {"other cookies keep their relative order",
         {cookie("a", 1), cookie("X-Auth", 10, "x"), cookie("b", 2), cookie("X-Auth", 20, "y"),
          cookie("c", 3)},
         {"a@1=v", "b@2=v", "X-Auth@20=y", "c@3=v"}},
        {"the name is case-sensitive",
         {cookie("x-auth", 1), cookie("X-AUTH", 2), cookie("x-auth", 3)},
         {"x-auth@1=v", "X-AUTH@2=v", "x-auth@3=v"}},
        {"a session X-Auth (expiry 0) loses to a dated one held",
         {cookie("X-Auth", 50, "d"), cookie("X-Auth", 0, "s")},
         {"X-Auth@50=d"}},
        {"duplicates of other names are all kept", {cookie("a", 1), cookie("a", 1)}, {"a@1=v", "a@1=v"}},
    };
    for (const auto& c : cases) {
        EdgeConfig config;
        for (const auto& k : c.added) {
            config.addCookie(k);
        }
        EXPECT_EQ(lines(config), c.expected) << c.title;
    }
}

TEST(EdgeConfigServices, FirstOfANameStaysAndListIsSortedByBytes) {
    EdgeConfig config;
    const char* names[] = {"b", "_sip._tls", "a", "B", "aa"};
    for (const char* n : names) {
        OnPremService s;
        s.name = n;
        s.error = 0;
        config.addOnPremService(s);
    }
    OnPremService duplicate;
    duplicate.name = "a";
    duplicate.error = 3;
    config.addOnPremService(duplicate);

    std::vector<std::string> order;
    for (const auto& s : config.getOnPremServices()) {
        order.push_back(s.name);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"B", "_sip._tls", "a", "aa", "b"}));
    EXPECT_EQ(config.getOnPremService("a").error, 0u);

    const OnPremService missing = config.getOnPremService("nope");
    EXPECT_TRUE(missing.name.empty());
    EXPECT_TRUE(missing.serverLocations.empty());
    EXPECT_EQ(missing.error, OnPremService::ERROR_UNKNOWN);
    EXPECT_FALSE(EdgeService().isServiceAvailable());
    EXPECT_EQ(EdgeServiceLocation(), EdgeServiceLocation("", 0, 0));
}

EdgeConfig sampleConfig() {
    EdgeConfig c;
    OnPremService s;
    s.name = "svc";
    s.error = 0;
    OnPremServiceLocation l;
    l.address = "h1";
    l.port = 5060;
    l.priority = 1;
    l.weight = 10;
    s.serverLocations = {l};
    c.addOnPremService(s);
    EdgeService http;
    http.serverLocations = {EdgeServiceLocation("e1", 443, 0), EdgeServiceLocation("e2", 443, 0)};
    c.setHttpEdgeService(http);
    c.setXmppEdgeService(http);
    c.setSipEdgeService(http);
    c.setTurnEdgeService(http);
    c.addSipRoute("r1");
    c.addSipRoute("r2");
    c.addCookie(cookie("a", 1));
    c.addCookie(cookie("X-Auth", 100));
    return c;
}

TEST(EdgeConfigEquality, EveryMemberCounts) {
    using Change = std::function<void(EdgeConfig&)>;
    const std::pair<const char*, Change> changes[] = {
        {"service name bytes",
         [](EdgeConfig& c) {
             auto s = c.onPremServices.begin()->second;
             c.onPremServices.clear();
             s.name = "SVC";
             c.addOnPremService(s);
         }},
        {"service key differs from name",
         [](EdgeConfig& c) {
             auto s = c.onPremServices.begin()->second;
             c.onPremServices.clear();
             c.onPremServices.emplace("other", s);
         }},
        {"service error", [](EdgeConfig& c) { c.onPremServices.begin()->second.error = 7; }},
        {"service location weight",
         [](EdgeConfig& c) { c.onPremServices.begin()->second.serverLocations[0].weight = 11; }},
        {"service location priority",
         [](EdgeConfig& c) { c.onPremServices.begin()->second.serverLocations[0].priority = 2; }},
        {"extra service",
         [](EdgeConfig& c) {
             OnPremService s;
             s.name = "zzz";
             c.addOnPremService(s);
         }},
        {"http order",
         [](EdgeConfig& c) {
             std::swap(c.httpEdgeService.serverLocations[0], c.httpEdgeService.serverLocations[1]);
         }},
        {"xmpp udp port", [](EdgeConfig& c) { c.xmppEdgeService.serverLocations[1].udpPort = 1; }},
        {"sip tls port", [](EdgeConfig& c) { c.sipEdgeService.serverLocations[0].tlsPort = 444; }},
        {"turn missing location", [](EdgeConfig& c) { c.turnEdgeService.serverLocations.pop_back(); }},
        {"sip route order", [](EdgeConfig& c) { std::swap(c.sipRoutes[0], c.sipRoutes[1]); }},
        {"extra sip route", [](EdgeConfig& c) { c.addSipRoute("r2"); }},
        {"cookie value", [](EdgeConfig& c) { c.addCookie(cookie("X-Auth", 100, "other")); }},
        {"cookie order", [](EdgeConfig& c) { std::swap(c.cookies[0], c.cookies[1]); }},
        {"extra cookie", [](EdgeConfig& c) { c.addCookie(cookie("b", 1)); }},
    };
    EXPECT_TRUE(sampleConfig() == sampleConfig());
    EXPECT_TRUE(EdgeConfig() == EdgeConfig());
    for (const auto& [title, change] : changes) {
        EdgeConfig changed = sampleConfig();
        change(changed);
        EXPECT_FALSE(sampleConfig() == changed) << title;
        EXPECT_FALSE(changed == sampleConfig()) << title;
        EXPECT_TRUE(changed != sampleConfig()) << title;
    }
}

}  // namespace
}  // namespace oxl::edge

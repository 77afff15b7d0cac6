// Request scenarios against the sandbox, shared by every HTTP client the request can run on.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "EdgeSandboxFixture.h"
#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "support/LogCapture.h"

namespace oxl::edge::test {

using Sandbox = oxl::sandbox::EdgeSandbox;

inline oxl::common::Cookie xAuthOf(const EdgeConfig& config) {
    for (const auto& c : config.getCookies()) {
        if (c.getName() == "X-Auth") {
            return c;
        }
    }
    return {};
}

// Fetch with services, refresh, end the session; then the ended session is refused.
inline void fetchRefreshAndEnd(Sandbox& edge, EdgeConfigRequest& request, EdgeConfigParams params,
                               long lifetime) {
    params.serviceNames = {"_pelko-zds._tcp", "_unknown._tcp"};
    EdgeConfig config;
    const long before = static_cast<long>(std::time(nullptr));
    ASSERT_EQ(request.execute(params, config), EdgeConfigRequest::SUCCESS);

    std::vector<std::string> names;
    for (const auto& s : config.getOnPremServices()) {
        names.push_back(s.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"_pelko-zds._tcp", "_unknown._tcp"}));
    const auto zds = config.getOnPremService("_pelko-zds._tcp");
    ASSERT_EQ(zds.serverLocations.size(), 2u);
    EXPECT_EQ(zds.serverLocations[0].address, "zds-high") << "SRV order: lower priority first";
    EXPECT_EQ(zds.error, 0u);
    EXPECT_EQ(config.getOnPremService("_unknown._tcp").error, OnPremService::ERROR_NAME);
    ASSERT_EQ(config.getHttpEdgeService().serverLocations.size(), 2u);
    EXPECT_EQ(config.getHttpEdgeService().serverLocations[1],
              EdgeServiceLocation("http2.edge.test", 8443, 0));
    EXPECT_EQ(config.getTurnEdgeService().serverLocations.at(0).udpPort, 3478u);
    EXPECT_EQ(config.getSipRoutes().size(), 2u);

    const oxl::common::Cookie first = xAuthOf(config);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_GE(first.getExpirationDate(), before + lifetime - 5);
    EXPECT_LE(first.getExpirationDate(), static_cast<long>(std::time(nullptr)) + lifetime + 5);
    EXPECT_TRUE(edge.isSessionValid(first.getValue()));

    auto received = edge.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].endpoint, Sandbox::Endpoint::CONFIG);
    EXPECT_EQ(received[0].serviceNames, params.serviceNames);
    EXPECT_TRUE(received[0].cookieNames.empty());

    // Refresh: a new cookie replaces the old one in a copy of the configuration.
    EdgeConfigParams refresh = params;
    refresh.isRefresh = true;
    refresh.serviceNames.clear();
    refresh.xAuthCookie = first;
    EdgeConfig refreshed = config;
    ASSERT_EQ(request.execute(refresh, refreshed), EdgeConfigRequest::SUCCESS);
    const oxl::common::Cookie second = xAuthOf(refreshed);
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(second.getValue(), first.getValue());
    EXPECT_EQ(refreshed.getCookies().size(), config.getCookies().size()) << "still exactly one X-Auth";
    EXPECT_EQ(refreshed.getHttpEdgeService(), config.getHttpEdgeService());
    EXPECT_FALSE(edge.isSessionValid(first.getValue()));
    EXPECT_TRUE(edge.isSessionValid(second.getValue()));
    received = edge.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].endpoint, Sandbox::Endpoint::REFRESH);
    EXPECT_EQ(received[1].cookieNames, (std::vector<std::string>{"X-Auth"}));

    // The old cookie no longer refreshes.
    EdgeConfig stale = config;
    EXPECT_EQ(request.execute(refresh, stale), EdgeConfigRequest::AUTHENTICATION_FAILED);

    // End the session: the edge answers by clearing the cookie, which is a normal log-out, not a failure.
    EdgeConfigParams end = refresh;
    end.xAuthCookie = second;
    end.zeroTtl = true;
    EdgeConfig ending = refreshed;
    {
        oxl::test::LogCapture log;
        EXPECT_EQ(request.execute(end, ending), EdgeConfigRequest::SUCCESS);
        for (const auto& record : log.records()) {
            // The HTTP client's own complaint about a missing event reporter is not the request's.
            if (record.logger == "oxl.edge" || record.logger == "oxl.netutils.adapters") {
                EXPECT_GT(record.level, OXL_LEVEL_ERROR) << "logging out logged: " << record.message;
            }
        }
    }
    EXPECT_EQ(edge.counters().sessionsEnded, 1u);
    EXPECT_EQ(edge.activeSessions(), 0u);
    EXPECT_EQ(edge.received().back().query, "ttl=0");
    EXPECT_EQ(request.execute(end, ending), EdgeConfigRequest::AUTHENTICATION_FAILED);
}

struct FaultCase {
    const char* title;
    Sandbox::Fault fault;
    bool refresh;
    EdgeConfigRequest::Result expected;
};

inline std::vector<FaultCase> statusFaultCases() {
    using K = Sandbox::FaultKind;
    using R = EdgeConfigRequest;
    return {
        {"401", {K::HTTP_STATUS, 401, {}}, false, R::AUTHENTICATION_FAILED},
        {"403", {K::HTTP_STATUS, 403, {}}, false, R::AUTHENTICATION_FAILED},
        {"403 on refresh", {K::HTTP_STATUS, 403, {}}, true, R::AUTHENTICATION_FAILED},
        {"429", {K::HTTP_STATUS, 429, {}}, false, R::TOO_MANY_REQUESTS},
        {"429 on refresh", {K::HTTP_STATUS, 429, {}}, true, R::TOO_MANY_REQUESTS},
        {"500", {K::HTTP_STATUS, 500, {}}, false, R::UNSUCCESSFUL_RESPONSE},
        {"502", {K::HTTP_STATUS, 502, {}}, false, R::UNSUCCESSFUL_RESPONSE},
        {"503", {K::HTTP_STATUS, 503, {}}, true, R::UNSUCCESSFUL_RESPONSE},
        {"malformed body", {K::MALFORMED_BODY, 0, {}}, false, R::FAILED_TO_PARSE_RESPONSE},
        {"200 without cookie on a refresh", {K::NO_COOKIE, 0, {}}, true, R::FAILED_TO_REFRESH_COOKIE},
        {"200 without cookie on a full request still parses", {K::NO_COOKIE, 0, {}}, false, R::SUCCESS},
        {"delay", {K::DELAY, 0, std::chrono::milliseconds(300)}, false, R::SUCCESS},
    };
}

// Runs each case with a live session for refreshes; the configuration is untouched on failure.
inline void runFaultCases(Sandbox& edge, EdgeConfigRequest& request, const EdgeConfigParams& base,
                          const std::vector<FaultCase>& cases) {
    for (const auto& c : cases) {
        EdgeConfigParams p = base;
        EdgeConfig held;
        if (c.refresh) {
            ASSERT_EQ(request.execute(base, held), EdgeConfigRequest::SUCCESS) << c.title;
            p.isRefresh = true;
            p.xAuthCookie = xAuthOf(held);
        }
        edge.injectFault(c.fault);
        EdgeConfig config = held;
        EXPECT_EQ(request.execute(p, config), c.expected) << c.title;
        if (c.expected != EdgeConfigRequest::SUCCESS) {
            EXPECT_TRUE(config == held) << c.title << ": configuration changed by a failed request";
        }
        EXPECT_EQ(edge.received().back().status,
                  c.fault.kind == Sandbox::FaultKind::HTTP_STATUS ? c.fault.status : 200)
            << c.title;
    }
    EXPECT_EQ(edge.counters().faultsInjected, cases.size());
}

}  // namespace oxl::edge::test

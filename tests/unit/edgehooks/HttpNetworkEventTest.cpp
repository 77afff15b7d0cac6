// Network events from a transfer's outcome: which outcome gives which labels, through which reporter
// operation, for which host, in which order; and the edge node predicates behind them.
#include "oxl/http/HttpNetworkEvent.h"

#include <gtest/gtest.h>

#include <mutex>

#include "EdgeHooksTestSupport.h"
#include "http/CurlTransfer.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/HttpNetworkEventUtils.h"
#include "support/LogCapture.h"
#include "support/RecordingReporter.h"

namespace oxl::http {
namespace {

using R = HttpClientResult;

using oxl::test::RecordingReporter;

Response responseWith(int code, const char* server, const char* headerName = "Server") {
    Response response;
    response.responseCode = code;
    if (server) {
        response.headers->emplace_back("Content-Type", "text/plain");
        response.headers->emplace_back(headerName, server);
    }
    return response;
}

TEST(HttpNetworkEventTest, EdgeNodePredicates) {
    struct Case {
        int code;
        const char* server;
        bool hyd, hydE, is403, is407, is500, is503, is502E;
    };
    // clang-format off
    const Case cases[] = {
        {403, "QZ_C",  true,  false, true,  false, false, false, false},
        {407, "QZ_E",  true,  true,  false, true,  false, false, false},
        {500, "QZ_C",  true,  false, false, false, true,  false, false},
        {503, "QZ_E",  true,  true,  false, false, false, true,  false},
        {502, "QZ_E",  true,  true,  false, false, false, false, true},
        {502, "QZ_C",  true,  false, false, false, false, false, false},  // only the outer node
        {403, "QZ_CX", false, false, false, false, false, false, false},  // exact value only
        {403, " QZ_C", false, false, false, false, false, false, false},
        {403, "qz_c",  false, false, false, false, false, false, false},
        {500, nullptr, false, false, false, false, false, false, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.code << " " << (c.server ? c.server : "(none)"));
        const Response r = responseWith(c.code, c.server);
        EXPECT_EQ(isResponseFromHyd(r), c.hyd);
        EXPECT_EQ(isResponseFromHydE(r), c.hydE);
        EXPECT_EQ(HttpNetworkEventUtils::isHyd403Response(r), c.is403);
        EXPECT_EQ(HttpNetworkEventUtils::isHyd407Response(r), c.is407);
        EXPECT_EQ(HttpNetworkEventUtils::isHyd500Response(r), c.is500);
        EXPECT_EQ(HttpNetworkEventUtils::isHyd503Response(r), c.is503);
        EXPECT_EQ(HttpNetworkEventUtils::isHyde502Response(r), c.is502E);
    }
    // The header name is matched in any letter case.
    EXPECT_TRUE(HttpNetworkEventUtils::isHyd407Response(responseWith(407, "QZ_C", "server")));
}

struct Failed {
    const char* url;
    R::Result result;
};

struct EventCase {
    const char* name;
    R::Result result;
    bool edge;  // the request went through the edge
    int code;
    const char* server;
    int authType;
    std::shared_ptr<oxl::common::Policy> policy;
    std::vector<Failed> failed;  // edge URLs tried before the current one
    std::vector<std::string> expected;
};

TEST(HttpNetworkEventTest, OutcomeGivesLabelsInOrder) {
    const auto always = EdgePolicy::ALWAYS_USE_EDGE_POLICY;
    const auto requestToken = EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN_POLICY;
    // Equal in value to the shared request-token instance but not that instance.
    const auto lookalike = std::make_shared<EdgePolicy>(
        EdgePolicy::PolicyValue::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN);
    const int bearer = AuthenticationType::BEARER_TOKEN;
    const int basic = AuthenticationType::BASIC;
    const std::string inUse = "inUse oxlnetutils.http.clientRequestSuccessful";

    const std::string edge1 = " @edge1.ext.test";
    const std::vector<Failed> fourFailed = {{"https://edge1.ext.test/tok/svc", R::UNRESOLVED_HOST_ERROR},
                                            {"https://edge2.ext.test/tok/svc", R::CONNECTION_TIMEOUT_ERROR},
                                            {"https://edge3.ext.test/tok/svc", R::SSL_CONNECTION_ERROR},
                                            {"https://edge4.ext.test/tok/svc", R::HOST_UNREACHABLE_ERROR}};

    // clang-format off
    const EventCase cases[] = {
        {"plain success", R::SUCCESS, false, 200, nullptr, 0, always, {}, {inUse}},
        {"plain success, edge-like answer", R::SUCCESS, false, 407, "QZ_C", bearer, always, {}, {inUse}},
        {"plain unreachable", R::HOST_UNREACHABLE_ERROR, false, 0, nullptr, 0, always, {},
         {"dropped oxlnetutils.http.hostUnreachableError"}},
        {"plain unresolved", R::UNRESOLVED_HOST_ERROR, false, 0, nullptr, 0, always, {},
         {"dropped oxlnetutils.http.unresolvedHostError"}},
        {"plain timeout", R::CONNECTION_TIMEOUT_ERROR, false, 0, nullptr, 0, always, {}, {}},
        {"edge unreachable", R::HOST_UNREACHABLE_ERROR, true, 0, nullptr, 0, always, {},
         {"dropped oxlnetutils.http.hostUnreachableError",
          "edge oxlnetutils.edge.hostUnreachableError" + edge1}},
        {"edge unresolved", R::UNRESOLVED_HOST_ERROR, true, 0, nullptr, 0, always, {},
         {"dropped oxlnetutils.http.unresolvedHostError",
          "edge oxlnetutils.edge.unresolvedHostError" + edge1}},
        {"edge timeout", R::CONNECTION_TIMEOUT_ERROR, true, 0, nullptr, 0, always, {},
         {"edge oxlnetutils.edge.connectionTimeout" + edge1}},
        {"edge certificate", R::CERTIFICATE_VALIDATION_ERROR, true, 0, nullptr, 0, always, {},
         {"edge oxlnetutils.edge.certValidationError" + edge1}},
        {"edge TLS failure", R::SSL_CONNECTION_ERROR, true, 0, nullptr, 0, always, {}, {}},
        {"edge success", R::SUCCESS, true, 200, "QZ_C", bearer, always, {}, {inUse}},
        {"oauth expired", R::SUCCESS, true, 403, "QZ_C", bearer, always, {},
         {inUse, "edge oxlnetutils.edge.oauthExpired" + edge1}},
        {"403 under the request-token policy", R::SUCCESS, true, 403, "QZ_C", bearer, requestToken, {},
         {inUse}},
        {"403 under a copy of that policy", R::SUCCESS, true, 403, "QZ_C", bearer, lookalike, {},
         {inUse, "edge oxlnetutils.edge.oauthExpired" + edge1}},
        {"403 basic auth", R::SUCCESS, true, 403, "QZ_C", basic, always, {}, {inUse}},
        {"403 longer server value", R::SUCCESS, true, 403, "QZ_CX", bearer, always, {}, {inUse}},
        {"407", R::SUCCESS, true, 407, "QZ_E", 0, always, {},
         {inUse, "edge oxlnetutils.edge.authenticationRequired" + edge1}},
        {"500", R::SUCCESS, true, 500, "QZ_C", 0, always, {},
         {inUse, "edge oxlnetutils.edge.internalServerError" + edge1}},
        {"503", R::SUCCESS, true, 503, "QZ_C", 0, always, {},
         {inUse, "edge oxlnetutils.edge.serviceUnavailable" + edge1}},
        {"502 outer", R::SUCCESS, true, 502, "QZ_E", 0, always, {},
         {inUse, "edge oxlnetutils.edge.nextHopFailed" + edge1}},
        {"502 inner", R::SUCCESS, true, 502, "QZ_C", 0, always, {}, {inUse}},
        {"failover then success", R::SUCCESS, true, 500, "QZ_C", 0, always, fourFailed,
         {inUse, "edge oxlnetutils.edge.internalServerError @edge5.ext.test",
          "edge edge.successful.failover.unresolvedHostError @edge1.ext.test",
          "edge edge.successful.failover.connectionTimeout @edge2.ext.test",
          "edge edge.successful.failover.hostUnreachableError @edge4.ext.test"}},
        {"failover then failure", R::CERTIFICATE_VALIDATION_ERROR, true, 0, nullptr, 0, always, fourFailed,
         {"edge oxlnetutils.edge.certValidationError @edge5.ext.test"}},
    };
    // clang-format on

    oxl::test::LogCapture log;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reporter = std::make_shared<RecordingReporter>();
        auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
        auto data = oxl::test::makeRequestData();
        auto options = data->getOptions();
        options->authType = c.authType;
        if (c.edge) {
            // As the client does: the first edge URL, then one switch per failed edge server.
            options->url = "https://edge1.ext.test/tok/svc";
            std::deque<std::string> backups;
            for (size_t i = 1; i <= c.failed.size(); ++i) {
                backups.push_back("https://edge" + std::to_string(i + 1) + ".ext.test/tok/svc");
            }
            data->setFailoverUrls(backups);
            for (const auto& f : c.failed) {
                ASSERT_EQ(options->url, f.url);
                ASSERT_TRUE(data->switchToNextUrl(f.result, /*failedUrlWentThroughEdge=*/true));
            }
        }
        data->getResponse() = responseWith(c.code, c.server);

        const HttpNetworkEvent event(reporter, transformer);
        event.notifyNetworkEventReporter(c.result, data, c.policy);
        EXPECT_EQ(reporter->events(), c.expected);
        EXPECT_TRUE(transformer->calls.empty());
    }
    EXPECT_TRUE(
        log.contains("generating edgeInfrastructureEvent: 'oxlnetutils.edge.oauthExpired' host: "
                     "'edge1.ext.test'"));
}

// A request that failed on its own URL and only then went through the edge: the client records, per failed
// URL, whether it was an edge URL, and only those become edge failover events.
TEST(HttpNetworkEventTest, OnlyFailedEdgeUrlsBecomeFailoverEvents) {
    auto reporter = std::make_shared<RecordingReporter>();
    auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
    auto clientData = HttpClientData::build(reporter, transformer);
    clientData->setEdgePolicy(EdgePolicy::ALWAYS_USE_EDGE_POLICY, false);
    auto data = oxl::test::makeRequestData("https://internal.corp.test/svc");
    data->setFailoverUrls({"https://edge1.ext.test/tok/svc", "https://edge2.ext.test/tok/svc"});

    oxl::test::LogCapture log;
    ASSERT_TRUE(CurlTransfer::failOver(*clientData, CURLE_COULDNT_CONNECT, R::HOST_UNREACHABLE_ERROR, *data));
    ASSERT_TRUE(
        CurlTransfer::failOver(*clientData, CURLE_OPERATION_TIMEDOUT, R::CONNECTION_TIMEOUT_ERROR, *data));
    const auto failed = data->getFailedUrlInfo();
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_FALSE(failed[0].throughEdge);
    EXPECT_TRUE(failed[1].throughEdge);

    CurlTransfer::finish(*clientData, data, R::SUCCESS);
    EXPECT_EQ(reporter->events(),
              (std::vector<std::string>{"inUse oxlnetutils.http.clientRequestSuccessful",
                                        "edge edge.successful.failover.connectionTimeout @edge1.ext.test"}));
}

TEST(HttpNetworkEventTest, MissingPiecesSendWhatCanBeSent) {
    oxl::test::LogCapture log;
    auto data = oxl::test::makeRequestData();
    data->getOptions()->url = "https://edge1.ext.test/tok/svc";
    auto reporter = std::make_shared<RecordingReporter>();

    // Without a transformer nothing counts as an edge request.
    HttpNetworkEvent(reporter, nullptr).notifyNetworkEventReporter(R::HOST_UNREACHABLE_ERROR, data, nullptr);
    EXPECT_EQ(reporter->events(), std::vector<std::string>{"dropped oxlnetutils.http.hostUnreachableError"});

    reporter->take();
    auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
    HttpNetworkEvent(reporter, transformer).notifyNetworkEventReporter(R::SUCCESS, nullptr, nullptr);
    EXPECT_EQ(reporter->events(), std::vector<std::string>{"inUse oxlnetutils.http.clientRequestSuccessful"});

    EXPECT_NO_THROW(
        HttpNetworkEvent(nullptr, transformer).notifyNetworkEventReporter(R::SUCCESS, data, nullptr));
}

}  // namespace
}  // namespace oxl::http

// The client's policies around a real transfer: edge usage through a scripted transformer (the library's
// own seam), failure management, IP family, and the network events each transfer reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "ClientTestSupport.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"

namespace oxl::http::test {
namespace {

using oxl::common::FailureManagementPolicy;
using oxl::test::HttpServerFixture;
using R = HttpClientResult;
using E = HttpClientError;
using Transform = EdgeTransformer::TransformRequestResult;

[[maybe_unused]] ::testing::Environment* const globalInit =
    ::testing::AddGlobalTestEnvironment(new GlobalInitEnvironment);

// Rewrites requests to a fixed edge URL, or fails with a chosen result.
class ScriptedTransformer : public EdgeTransformer {
  public:
    Transform::Result answer = Transform::SUCCESS;
    std::string edgeUrl;

    Transform::Result transformRequest(HttpRequestData& requestData) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++transformCalls;
        if (answer != Transform::SUCCESS) {
            return answer;
        }
        requestData.getOptions()->url = edgeUrl;
        return Transform::SUCCESS;
    }
    Transform::Result transformRequestUsingRequestOAuthToken(HttpRequestData& requestData) override {
        return transformRequest(requestData);
    }
    Transform::Result transformRequestUsingXEdgeAuth(HttpRequestData& requestData) override {
        return transformRequest(requestData);
    }
    Transform::Result removeTransformedCookies(Response& response, const std::string& url) override {
        std::lock_guard<std::mutex> lock(mutex_);
        cookieUrls.push_back(url);
        std::erase_if(response.cookies, [](const oxl::common::Cookie& c) { return c.getName() == "edge"; });
        return Transform::SUCCESS;
    }
    // As the edge utilities decide it: the rewriting changed the path of the options URL.
    bool isRequestTransformed(const RequestWrapper& wrapper) override {
        const auto options = wrapper.getOptions();
        return options && HttpUtils::extractRequestFromHttpUrl(options->url) !=
                              HttpUtils::extractRequestFromHttpUrl(wrapper.getUrl());
    }

    int transformCalls = 0;
    std::vector<std::string> cookieUrls;

  private:
    std::mutex mutex_;
};

class BasicClientPolicyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        origin_.onGet("/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("origin", "text/plain");
        });
        edge_.onGet("/edge/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "edge=token; Path=/");
            res.set_content("via edge", "text/plain");
        });
        ASSERT_TRUE(origin_.start());
        ASSERT_TRUE(edge_.start());
        transformer_->edgeUrl = edge_.url("/edge/page");
        client_ = BasicHttpClientImpl::buildBasicHttpClientImpl(transformer_, nullptr, nullptr, reporter_);
    }
    std::shared_ptr<Request> request(std::shared_ptr<HttpClientListener> listener = nullptr) {
        auto r = std::make_shared<Request>(origin_.url("/page"));
        r->setListener(std::move(listener));
        return r;
    }

    HttpServerFixture origin_;
    HttpServerFixture edge_;
    std::shared_ptr<ScriptedTransformer> transformer_ = std::make_shared<ScriptedTransformer>();
    std::shared_ptr<RecordingReporter> reporter_ = std::make_shared<RecordingReporter>();
    std::shared_ptr<BasicHttpClientImpl> client_;
};

TEST_F(BasicClientPolicyTest, WithoutAnEdgePolicyNothingIsSentOrQueued) {
    client_->removePolicy(oxl::common::Policy::PolicyNature::EDGE_USAGE);
    Response response;
    EXPECT_EQ(client_->execute(request(), response), R::POLICY_NOT_AVAILABLE_ERROR);

    auto listener = std::make_shared<RecordingListener>();
    unsigned int id = 0;
    EXPECT_EQ(client_->executeAsync(request(listener), id), E::POLICY_NOT_AVAILABLE_ERROR);
    EXPECT_EQ(client_->getThreadPool()->getQueuedCount(), 0u);
    EXPECT_EQ(client_->getThreadPool()->getThreadCount(), 0u);
    EXPECT_TRUE(listener->notifications().empty());
    EXPECT_EQ(origin_.requestCount(), 0u);
    EXPECT_TRUE(reporter_->take().empty());
}

TEST_F(BasicClientPolicyTest, EdgeRewritingFailuresStopTheRequestUnlessIgnored) {
    client_->addPolicy(EdgePolicy::ALWAYS_USE_EDGE_POLICY);
    client_->addPolicy(FailureManagementPolicy::NEVER_IGNORE_FAILURE_POLICY);
    const std::vector<std::pair<Transform::Result, R::Result>> table = {
        {Transform::EDGE_AUTHENTICATION_FAILED, R::EDGE_AUTHENTICATION_FAILED},
        {Transform::EDGE_SSL_CONNECTION_ERROR, R::SSL_CONNECTION_ERROR},
        {Transform::EDGE_ENVIRONMENT_UNAVAILABLE, R::POLICY_NOT_ENFORCED_ERROR},
        {Transform::MALFORMED_REQUEST, R::POLICY_NOT_ENFORCED_ERROR},
    };
    for (const auto& [answer, expected] : table) {
        SCOPED_TRACE(::testing::PrintToString(answer));
        transformer_->answer = answer;
        Response response;
        EXPECT_EQ(client_->execute(request(), response), expected);

        auto listener = std::make_shared<RecordingListener>();
        unsigned int id = 0;
        ASSERT_EQ(client_->executeAsync(request(listener), id), E::SUCCESS);
        ASSERT_TRUE(listener->waitFor(1));
        const auto n = listener->notifications().at(0);
        EXPECT_EQ(n.requestId, id);
        EXPECT_EQ(n.kind, Notification::FAILED);
        EXPECT_EQ(n.result, expected);
    }
    EXPECT_EQ(origin_.requestCount() + edge_.requestCount(), 0u);

    // A client that may ignore the failure sends the request unchanged.
    client_->addPolicy(FailureManagementPolicy::ALWAYS_IGNORE_FAILURE_POLICY);
    Response response;
    ASSERT_EQ(client_->execute(request(), response), R::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), "origin");
}

TEST_F(BasicClientPolicyTest, ARewrittenRequestAnswersUnderTheCallersUrlWithoutEdgeCookies) {
    client_->addPolicy(EdgePolicy::ALWAYS_USE_EDGE_POLICY);
    auto req = request();
    Response response;
    ASSERT_EQ(client_->execute(req, response), R::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), "via edge");
    EXPECT_EQ(response.url, origin_.url("/page"));
    EXPECT_EQ(req->getOptions()->url, origin_.url("/page"));
    EXPECT_TRUE(response.cookies.empty());
    EXPECT_EQ(transformer_->cookieUrls, std::vector<std::string>{origin_.url("/page")});
    EXPECT_EQ(origin_.requestCount(), 0u);
    EXPECT_EQ(edge_.requestCount("/edge/page"), 1u);

    // NEVER_USE leaves the request alone and never asks the transformer.
    client_->addPolicy(EdgePolicy::NEVER_USE_EDGE_POLICY);
    const int calls = transformer_->transformCalls;
    ASSERT_EQ(client_->execute(request(), response), R::SUCCESS);
    EXPECT_EQ(response.getBodyAsString(), "origin");
    EXPECT_EQ(transformer_->transformCalls, calls);
}

TEST_F(BasicClientPolicyTest, EveryFinishedTransferReportsOneEvent) {
    Response response;
    ASSERT_EQ(client_->execute(request(), response), R::SUCCESS);
    EXPECT_EQ(reporter_->take(), std::vector<std::string>{"inUse oxlnetutils.http.clientRequestSuccessful"});

    EXPECT_EQ(client_->execute(std::make_shared<Request>(url(refusedPort())), response),
              R::HOST_UNREACHABLE_ERROR);
    EXPECT_EQ(reporter_->take(), std::vector<std::string>{"dropped oxlnetutils.http.hostUnreachableError"});

    // The failover URL keeps the path: a changed path is how an edge-rewritten request is recognised.
    ASSERT_EQ(client_->executeWithFailover(std::make_shared<Request>(url(refusedPort(), "/page")),
                                           {origin_.url("/page")}, response),
              R::SUCCESS);
    EXPECT_EQ(reporter_->take(), std::vector<std::string>{"inUse oxlnetutils.http.clientRequestSuccessful"});

    // A transfer that never reached libcurl reports nothing.
    EXPECT_EQ(client_->execute(std::make_shared<Request>(""), response), R::URL_NOT_SET_ERROR);
    EXPECT_TRUE(reporter_->take().empty());
}

TEST_F(BasicClientPolicyTest, EdgeErrorAnswersOfASuccessfulTransferReachTheReporter) {
    edge_.onGet("/edge/busy", [](const httplib::Request&, httplib::Response& res) {
        res.status = 503;
        res.set_header("Server", "QZ_C");
    });
    client_->addPolicy(EdgePolicy::ALWAYS_USE_EDGE_POLICY);
    transformer_->edgeUrl = edge_.url("/edge/busy");
    auto req = request();
    Response response;
    ASSERT_EQ(client_->execute(req, response), R::SUCCESS);
    EXPECT_EQ(response.responseCode, 503);
    EXPECT_EQ(req->getOptions()->url, origin_.url("/page"));
    const auto events = reporter_->take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "inUse oxlnetutils.http.clientRequestSuccessful");
    EXPECT_EQ(events[1], "edge oxlnetutils.edge.serviceUnavailable @" +
                             HttpUtils::extractHostFromHttpUrl(edge_.url("/edge/busy")));
}

TEST_F(BasicClientPolicyTest, TheIpFamilyPolicyReachesTheHandle) {
    Response response;
    client_->addPolicy(oxl::ip::IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    EXPECT_NE(client_->execute(request(), response), R::SUCCESS);
    EXPECT_EQ(origin_.requestCount(), 0u);
    client_->addPolicy(oxl::ip::IpFamilyPreferencePolicy::IPV4_ONLY_POLICY);
    EXPECT_EQ(client_->execute(request(), response), R::SUCCESS);
    EXPECT_EQ(origin_.requestCount(), 1u);
}

}  // namespace
}  // namespace oxl::http::test

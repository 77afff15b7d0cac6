// The edge usage policy: which value rewrites a request through which transformer operation, under which
// visibility; failures kept for the client; no second rewrite; response cookies; missing pieces.
#include "oxl/http/EdgePolicy.h"

#include <gtest/gtest.h>

#include <iterator>
#include <utility>

#include "EdgeHooksTestSupport.h"
#include "oxl/http/SystemProxyUsagePolicy.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

using oxl::common::Policy;
using Enforcing = Policy::PolicyEnforcingResult;
using Transform = EdgeTransformer::TransformRequestResult;
using V = EdgePolicy::PolicyValue;

TEST(EdgePolicyTest, ValueAndVisibilityDecideTheRewrite) {
    struct Case {
        int value;
        bool internal;
        bool edge;
        Enforcing::EnforcingResult expected;
        const char* call;  // transformer operation used, or null for none
    };
    const char* plain = "transformRequest";
    const char* oauth = "transformRequestUsingRequestOAuthToken";
    const char* xEdge = "transformRequestUsingXEdgeAuth";
    const Case cases[] = {
        {V::NEVER_USE, false, false, Enforcing::SUCCESS, nullptr},
        {V::NEVER_USE, false, true, Enforcing::SUCCESS, nullptr},
        {V::ALWAYS_USE, true, false, Enforcing::SUCCESS, plain},
        {V::ALWAYS_USE, false, false, Enforcing::SUCCESS, plain},
        {V::USE_IF_REQUIRED, true, true, Enforcing::SUCCESS, nullptr},
        {V::USE_IF_REQUIRED, false, true, Enforcing::SUCCESS, plain},
        {V::USE_IF_REQUIRED, false, false, Enforcing::NOT_ENFORCEABLE, nullptr},
        {V::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN, true, false, Enforcing::SUCCESS, nullptr},
        {V::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN, false, true, Enforcing::SUCCESS, oauth},
        {V::USE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN, false, false, Enforcing::NOT_ENFORCEABLE,
         nullptr},
        {V::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH, true, true, Enforcing::SUCCESS, nullptr},
        {V::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH, false, true, Enforcing::SUCCESS, xEdge},
        {V::USE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH, false, false, Enforcing::NOT_ENFORCEABLE, nullptr},
        {5, true, true, Enforcing::NOT_ENFORCEABLE, nullptr},
        {-1, true, true, Enforcing::NOT_ENFORCEABLE, nullptr},
    };
    oxl::test::LogCapture log;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "value " << c.value << " internal " << c.internal << " edge " << c.edge);
        oxl::test::ScopedEdgeState edgeState;
        edgeState.state->internal = c.internal;
        edgeState.state->edge = c.edge;
        auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
        auto data = oxl::test::makeRequestData();
        const EdgePolicy policy(static_cast<V::Value>(c.value));

        EXPECT_EQ(policy.verifyEnforceability(), c.expected != Enforcing::NOT_ENFORCEABLE);
        EXPECT_EQ(policy.enforce(data, transformer), c.expected);
        if (c.call) {
            ASSERT_EQ(transformer->calls.size(), 1U);
            EXPECT_EQ(transformer->calls[0], c.call);
            EXPECT_EQ(data->getOptions()->url, transformer->edgeUrl);
        } else {
            EXPECT_TRUE(transformer->calls.empty());
            EXPECT_EQ(data->getOptions()->url, "https://internal.corp.test/svc");
        }
        // Success leaves the recorded transform result untouched.
        EXPECT_EQ(data->getTransformResult(), Transform::UNKNOWN);
        if (c.value == V::NEVER_USE || c.value == V::ALWAYS_USE) {
            EXPECT_EQ(edgeState.state->internalQueries + edgeState.state->edgeQueries, 0);
        }
    }
}

TEST(EdgePolicyTest, TransformerFailureIsKeptForTheClient) {
    oxl::test::LogCapture log;
    oxl::test::ScopedEdgeState edgeState;  // outside: edge only
    edgeState.state->edge = true;
    for (int answer = Transform::INVALID_PARAMETERS; answer <= Transform::UNKNOWN; ++answer) {
        for (const auto& policy :
             {EdgePolicy::ALWAYS_USE_EDGE_POLICY, EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY,
              EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH_POLICY}) {
            SCOPED_TRACE(::testing::Message() << "answer " << answer << " policy " << policy->getName());
            auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
            transformer->answer = static_cast<Transform::Result>(answer);
            // Start from another value so that UNKNOWN is seen to be written, not left over.
            auto data = oxl::test::makeRequestData();
            data->setTransformResult(Transform::SUCCESS);
            const auto& edgePolicy = static_cast<const EdgePolicy&>(*policy);
            EXPECT_EQ(edgePolicy.enforce(data, transformer), Enforcing::ENFORCING_FAILURE);
            EXPECT_EQ(data->getTransformResult(), answer);
            EXPECT_EQ(transformer->transformCalls(), 1U);
        }
    }
}

TEST(EdgePolicyTest, RewrittenRequestIsNotRewrittenAgain) {
    oxl::test::LogCapture log;
    oxl::test::ScopedEdgeState edgeState;
    edgeState.state->edge = true;
    auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
    auto data = oxl::test::makeRequestData();
    const auto& policy = static_cast<const EdgePolicy&>(*EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);

    ASSERT_EQ(policy.enforce(data, transformer), Enforcing::SUCCESS);
    // A failover moves to the next edge URL; enforcing again must leave it there.
    data->setFailoverUrls({"https://edge2.ext.test/tok/svc"});
    data->switchToNextUrl(HttpClientResult::HOST_UNREACHABLE_ERROR);
    transformer->edgeUrl = "https://edge1.ext.test/again";
    EXPECT_EQ(policy.enforce(data, transformer), Enforcing::SUCCESS);
    EXPECT_EQ(transformer->transformCalls(), 1U);
    EXPECT_EQ(data->getOptions()->url, "https://edge2.ext.test/tok/svc");
}

TEST(EdgePolicyTest, ResponseCookiesAndMissingPieces) {
    oxl::test::LogCapture log;
    const auto& never = static_cast<const EdgePolicy&>(*EdgePolicy::NEVER_USE_EDGE_POLICY);
    const auto& always = static_cast<const EdgePolicy&>(*EdgePolicy::ALWAYS_USE_EDGE_POLICY);
    Response response;

    auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
    EXPECT_EQ(always.enforce(response, "https://internal.corp.test/a", transformer), Enforcing::SUCCESS);
    EXPECT_EQ(transformer->cookieUrl, "https://internal.corp.test/a");
    transformer->cookieAnswer = Transform::UNKNOWN;
    EXPECT_EQ(never.enforce(response, "https://internal.corp.test/a", transformer),
              Enforcing::ENFORCING_FAILURE);
    EXPECT_EQ(transformer->calls.size(), 2U);

    // Without a transformer only "never" can hold: nothing was rewritten and nothing need be.
    const std::shared_ptr<EdgeTransformer> none;
    EXPECT_EQ(never.enforce(response, "https://a.test/", none), Enforcing::SUCCESS);
    EXPECT_EQ(always.enforce(response, "https://a.test/", none), Enforcing::ENFORCING_FAILURE);
    EXPECT_EQ(never.enforce(oxl::test::makeRequestData(), none), Enforcing::SUCCESS);
    EXPECT_EQ(always.enforce(oxl::test::makeRequestData(), none), Enforcing::ENFORCING_FAILURE);
    EXPECT_EQ(never.enforce(std::shared_ptr<HttpRequestData>(), transformer), Enforcing::ENFORCING_FAILURE);
}

TEST(EdgePolicyTest, UnpublishedEdgeStateIsNotEnforceableRatherThanThrown) {
    oxl::netutils::GlobalEdgeStateController::resetForTesting();
    oxl::test::LogCapture log;
    auto transformer = std::make_shared<oxl::test::RecordingTransformer>();
    const auto& policy = static_cast<const EdgePolicy&>(*EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
    Policy::PolicyEnforcingResult::EnforcingResult result = Enforcing::SUCCESS;
    EXPECT_NO_THROW(result = policy.enforce(oxl::test::makeRequestData(), transformer));
    EXPECT_EQ(result, Enforcing::NOT_ENFORCEABLE);
    EXPECT_TRUE(transformer->calls.empty());
    EXPECT_TRUE(log.contains("GlobalEdgeStateController not initialized"));
}

TEST(EdgePolicyTest, SharedInstancesAreSoftAndEqualOnlyToThemselves) {
    const std::shared_ptr<Policy> cases[] = {
        EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY,
        EdgePolicy::NEVER_USE_EDGE_POLICY,
        EdgePolicy::ALWAYS_USE_EDGE_POLICY,
        EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN_POLICY,
        EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_X_EDGE_AUTH_POLICY,
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        // Soft: a client under IGNORE_SOFT_FAILURE may go on without the edge.
        EXPECT_EQ(cases[i]->getFailureClass(), Policy::PolicyFailureClass::SOFT_FAILURE);
        for (size_t j = 0; j < std::size(cases); ++j) {
            EXPECT_EQ(cases[i]->equals(*cases[j]), i == j) << j;
        }
        EXPECT_FALSE(cases[i]->equals(*SystemProxyUsagePolicy::NEVER_USE_SYSTEM_PROXY_POLICY));
    }
}

}  // namespace
}  // namespace oxl::http

#include "oxl/http/CurlAnswerEvaluator.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "oxl/common/FipsUtils.h"
#include "support/LogCapture.h"

namespace oxl::http {
namespace {

using R = HttpClientResult;

// Every libcurl code up to 99: the named ones map as listed, all others are UNKNOWN_ERROR; only the server
// failure codes fail over.
TEST(CurlAnswerEvaluatorTest, MapsEveryCodeAndFailsOverOnlyOnServerFailures) {
    const std::map<int, R::Result> mapped = {
        {0, R::SUCCESS},
        {5, R::UNRESOLVED_PROXY_ERROR},
        {6, R::UNRESOLVED_HOST_ERROR},
        {7, R::HOST_UNREACHABLE_ERROR},
        {23, R::FILE_WRITE_ERROR},
        {26, R::READ_ERROR},
        {28, R::CONNECTION_TIMEOUT_ERROR},
        {35, R::SSL_CONNECTION_ERROR},
        {37, R::FILE_READ_ERROR},
        {42, R::REQUEST_CANCELLED},
        {47, R::TOO_MANY_REDIRECTS_ERROR},
        {51, R::CERTIFICATE_VALIDATION_ERROR},
        {53, R::SSL_CONNECTION_ERROR},
        {54, R::SSL_CONNECTION_ERROR},
        {58, R::CLIENT_CERTIFICATE_ERROR},
        {59, R::SSL_CONNECTION_ERROR},
        {60, R::CERTIFICATE_VALIDATION_ERROR},
        {64, R::SSL_CONNECTION_ERROR},
        {66, R::SSL_CONNECTION_ERROR},
        {80, R::SSL_CONNECTION_ERROR},
    };
    const std::set<int> failover = {5, 6, 7, 23, 26, 28, 35, 51, 60, 70};

    CurlAnswerEvaluator evaluator;
    for (int code = -1; code < 100; ++code) {
        const auto it = mapped.find(code);
        const R::Result expected = it == mapped.end() ? R::UNKNOWN_ERROR : it->second;
        EXPECT_EQ(CurlAnswerEvaluator::mapCurlCode(code), expected) << "code " << code;
        EXPECT_EQ(evaluator.curlCodeToResult(code, nullptr), expected) << "code " << code;
        EXPECT_EQ(evaluator.representServerFailure(code), failover.count(code) == 1) << "code " << code;
    }
    // The names libcurl gives the codes the table relies on.
    EXPECT_EQ(CurlAnswerEvaluator::mapCurlCode(CURLE_PEER_FAILED_VERIFICATION),
              R::CERTIFICATE_VALIDATION_ERROR);
    EXPECT_EQ(CurlAnswerEvaluator::mapCurlCode(CURLE_ABORTED_BY_CALLBACK), R::REQUEST_CANCELLED);
}

TEST(CurlAnswerEvaluatorTest, LogsCodeResultAndFipsState) {
    oxl::common::FipsUtils::setFipsEnabledOverride(true);
    oxl::test::LogCapture capture(OXL_LEVEL_INFO);
    CurlAnswerEvaluator evaluator;
    evaluator.curlCodeToResult(CURLE_OPERATION_TIMEDOUT, nullptr);
    oxl::common::FipsUtils::setFipsEnabledOverride(std::nullopt);
    EXPECT_EQ(capture.count("got curlCode=[28] curl error message=[] "
                            "HttpClientResult=[CONNECTION_TIMEOUT_ERROR] fips enabled=[true]",
                            "oxl.httpclient"),
              1u);
}

}  // namespace
}  // namespace oxl::http

#include "oxl/netutils/adapters/EdgeUtilsAdapter.h"

#include <exception>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/Response.h"
#include "oxl/log/Log.h"

namespace oxl::netutils::adapters {

namespace {

using Transform = oxl::http::EdgeTransformer::TransformRequestResult;
using oxl::http::CurlHttpUtils;

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.adapters");
    return l;
}

std::string pathOf(const std::string& url) {
    return url.empty() ? std::string() : oxl::http::HttpUtils::extractRequestFromHttpUrl(url);
}

// The request goes to the edge host now: identities given for the host first addressed no longer apply,
// and the TLS hook derives them from the edge host.
void dropSuppliedIdentities(oxl::http::HttpRequestData& requestData) {
    auto& identity = requestData.certIdentity();
    if (!identity.identifierDerived && !identity.identifierToDisplay.empty()) {
        OXL_LOG_WARN(
            logger(),
            "identifierToDisplay was specified, but the Edge hostname will be used as the request has "
            "been transformed");
        identity.identifierToDisplay.clear();
    }
    if (!identity.referencesDerived && !identity.referenceIdentifiers.empty()) {
        OXL_LOG_WARN(logger(),
                     "custom reference identifiers were specified, but the Edge hostname will be used as the "
                     "request has been transformed");
        identity.referenceIdentifiers.clear();
    }
}

}  // namespace

EdgeUtilsAdapter::EdgeUtilsAdapter() : EdgeUtilsAdapter(oxl::edge::EdgeUtils::getInstance()) {}

EdgeUtilsAdapter::EdgeUtilsAdapter(std::shared_ptr<oxl::edge::EdgeUtils> edgeUtils)
    : edgeUtils_(std::move(edgeUtils)) {}

Transform::Result EdgeUtilsAdapter::mapUrlResult(oxl::edge::EdgeUtils::Result result) {
    using R = oxl::edge::EdgeUtils::TransformHttpUrlResult;
    switch (result) {
        case R::SUCCESS:
            return Transform::SUCCESS;
        case R::EDGE_CONFIG_UNAVAILABLE:
        case R::HTTP_EDGE_SERVER_UNAVAILABLE:
        case R::EDGE_DOMAIN_NOT_SET:
            return Transform::EDGE_ENVIRONMENT_UNAVAILABLE;
        case R::MALFORMED_REQUEST:
            return Transform::MALFORMED_REQUEST;
        case R::EDGE_AUTHENTICATION_FAILED:
            return Transform::EDGE_AUTHENTICATION_FAILED;
        case R::EDGE_SSL_CONNECTION_ERROR:
            return Transform::EDGE_SSL_CONNECTION_ERROR;
    }
    return Transform::UNKNOWN;
}

Transform::Result EdgeUtilsAdapter::mapCookieResult(oxl::edge::EdgeUtils::Result result) {
    using R = oxl::edge::EdgeUtils::TransformHttpUrlResult;
    switch (result) {
        case R::SUCCESS:
            return Transform::SUCCESS;
        case R::EDGE_CONFIG_UNAVAILABLE:
            return Transform::EDGE_ENVIRONMENT_UNAVAILABLE;
        default:
            return Transform::UNKNOWN;
    }
}

Transform::Result EdgeUtilsAdapter::transformRequest(oxl::http::HttpRequestData& requestData) {
    return transform(requestData);
}

Transform::Result EdgeUtilsAdapter::transformRequestUsingRequestOAuthToken(
    oxl::http::HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    if (options) {
        if (options->credentials && !options->credentials->token.empty()) {
            OXL_LOG_DEBUG(logger(), "Proceeding to set Oauth token");
            options->authType = oxl::http::AuthenticationType::BEARER_TOKEN;
        } else {
            OXL_LOG_WARN(logger(), "The request carries no OAuth token to authenticate at the edge with");
        }
    }
    return transform(requestData);
}

// The header goes on only once the request is rewritten: a request that ends up going direct must not carry
// the edge session's token to another server.
Transform::Result EdgeUtilsAdapter::transformRequestUsingXEdgeAuth(oxl::http::HttpRequestData& requestData) {
    const Transform::Result result = transform(requestData);
    auto options = requestData.getOptions();
    if (result != Transform::SUCCESS || !options) {
        return result;
    }
    const auto credentials = edgeUtils_->getCredentials();
    if (!credentials || credentials->token.empty()) {
        OXL_LOG_WARN(logger(),
                     "Edge OAuthToken is empty, can not set X-EdgeAuth field in the request header");
        return result;
    }
    const oxl::WipedString token = credentials->token.getWiped();
    std::string value;
    value.reserve(7 + token.size());
    value.append("Bearer ").append(token.str());
    options->headers->emplace_back("X-EdgeAuth", value);
    oxl::secureWipe(value);
    return result;
}

Transform::Result EdgeUtilsAdapter::transform(oxl::http::HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    if (!options) {
        OXL_LOG_ERROR(logger(), "Fail to transform the Url due to empty request options.");
        return Transform::INVALID_PARAMETERS;
    }
    OXL_LOG_DEBUG(logger(),
                  "About to transformRequest with Url [" << CurlHttpUtils::loggableUrl(options->url) << "]");
    if (!edgeUtils_) {
        OXL_LOG_ERROR(logger(), "No edge utilities to transform the Url with");
        return Transform::UNKNOWN;
    }
    try {
        const std::string original = options->url;
        const auto transformed = edgeUtils_->transformHttpUrl(original);
        if (transformed.result != oxl::edge::EdgeUtils::TransformHttpUrlResult::SUCCESS) {
            OXL_LOG_ERROR(logger(), "Failed to transform the Url.");
            return mapUrlResult(transformed.result);
        }
        if (transformed.urls.empty()) {
            OXL_LOG_ERROR(
                logger(),
                "No transformed URLs available in the transformHttpUrl response. Unexpected condition");
            return Transform::UNKNOWN;
        }
        OXL_LOG_DEBUG(logger(), "Transformed Urls:");
        for (const auto& url : transformed.urls) {
            OXL_LOG_DEBUG(logger(), "  " << CurlHttpUtils::loggableUrl(url));
        }

        std::vector<oxl::common::Cookie> rewritten;
        const auto cookieResult =
            edgeUtils_->transformHttpCookies(original, options->cookies, transformed, rewritten);
        if (cookieResult != oxl::edge::EdgeUtils::TransformHttpUrlResult::SUCCESS) {
            OXL_LOG_ERROR(logger(), "Failed to getHttpCookies for Edge.");
            return mapCookieResult(cookieResult);
        }
        const auto edgeCookies = edgeUtils_->getHttpCookies();
        if (edgeCookies.empty()) {
            OXL_LOG_ERROR(logger(), "Failed to getHttpCookies for Edge.");
            return Transform::EDGE_ENVIRONMENT_UNAVAILABLE;
        }

        options->url = transformed.urls.front();
        const std::deque<std::string> backups(transformed.urls.begin() + 1, transformed.urls.end());
        if (!backups.empty()) {
            OXL_LOG_DEBUG(logger(), "Adding"
                                        << backups.size()
                                        << " transformed URLs for the backup EDGE servers as failover URLs");
        }
        requestData.setFailoverUrls(backups);
        options->cookies.insert(options->cookies.end(), rewritten.begin(), rewritten.end());
        options->cookies.insert(options->cookies.end(), edgeCookies.begin(), edgeCookies.end());
        dropSuppliedIdentities(requestData);
        return Transform::SUCCESS;
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Transforming the request failed unexpectedly: " << e.what());
    }
    return Transform::UNKNOWN;
}

Transform::Result EdgeUtilsAdapter::removeTransformedCookies(oxl::http::Response& response,
                                                             const std::string& url) {
    if (!edgeUtils_) {
        return Transform::UNKNOWN;
    }
    const auto result = edgeUtils_->removeTransformedCookies(response.cookies, url);
    if (result != oxl::edge::EdgeUtils::TransformHttpUrlResult::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Failed to remove tranformed cookies in Response.");
    }
    return mapCookieResult(result);
}

bool EdgeUtilsAdapter::isRequestTransformed(const oxl::http::RequestWrapper& wrapper) {
    const auto options = wrapper.getOptions();
    return options != nullptr && pathOf(options->url) != pathOf(wrapper.getUrl());
}

}  // namespace oxl::netutils::adapters

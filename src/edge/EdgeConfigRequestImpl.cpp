#include "oxl/edge/EdgeConfigRequestImpl.h"

#include <exception>
#include <utility>

#include "oxl/diag/Diagnostics.h"
#include "oxl/edge/EdgeConfigResponse.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"
#include "oxl/runtime/Base64.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

constexpr const char* ZERO_TTL_QUERY = "?ttl=0";

}  // namespace

std::ostream& operator<<(std::ostream& os, EdgeConfigRequest::Result result) {
    using R = EdgeConfigRequest;
    return oxl::detail::printEnum(os, static_cast<int>(result),
                                  {{R::SUCCESS, "SUCCESS"},
                                   {R::ILLEGAL_ARGUMENT, "ILLEGAL_ARGUMENT"},
                                   {R::FAILED_TO_PARSE_RESPONSE, "FAILED_TO_PARSE_RESPONSE"},
                                   {R::CERTIFICATE_VALIDATION_ERROR, "CERTIFICATE_VALIDATION_ERROR"},
                                   {R::CONNECTION_FAILED, "CONNECTION_FAILED"},
                                   {R::SSL_CONNECTION_ERROR, "SSL_CONNECTION_ERROR"},
                                   {R::FAILED_TO_RESOLVE_HOST, "FAILED_TO_RESOLVE_HOST"},
                                   {R::AUTHENTICATION_FAILED, "AUTHENTICATION_FAILED"},
                                   {R::UNSUCCESSFUL_RESPONSE, "UNSUCCESSFUL_RESPONSE"},
                                   {R::INTERNAL_ERROR, "INTERNAL_ERROR"},
                                   {R::FAILED_TO_REFRESH_COOKIE, "FAILED_TO_REFRESH_COOKIE"},
                                   {R::TOO_MANY_REQUESTS, "TOO_MANY_REQUESTS"},
                                   {R::UNKNOWN_ERROR, "UNKNOWN_ERROR"}});
}

EdgeConfigRequestImpl::EdgeConfigRequestImpl(std::shared_ptr<EdgeConfigHttpClient> httpClient)
    : httpClient_(std::move(httpClient)) {}

void EdgeConfigRequestImpl::setResponseLimits(const EdgeConfigResponse::Limits& limits) {
    std::lock_guard<std::mutex> lock(limitsMutex_);
    limits_ = limits;
}

EdgeConfigResponse::Limits EdgeConfigRequestImpl::getResponseLimits() const {
    std::lock_guard<std::mutex> lock(limitsMutex_);
    return limits_;
}

bool EdgeConfigRequestImpl::validate(const EdgeConfigParams& params) {
    if (params.host.empty()) {
        OXL_LOG_ERROR(logger(), "host not set");
        return false;
    }
    if (params.port == 0) {
        OXL_LOG_ERROR(logger(), "port not set");
        return false;
    }
    if (params.domain.empty()) {
        OXL_LOG_ERROR(logger(), "domain not set");
        return false;
    }
    if (!params.oauthToken.empty()) {
        return true;
    }
    if (params.username.empty()) {
        OXL_LOG_ERROR(logger(), "username not set");
        return false;
    }
    if (params.password.empty()) {
        OXL_LOG_ERROR(logger(), "password not set");
        return false;
    }
    return true;
}

std::string EdgeConfigRequestImpl::createRequestUrl(const EdgeConfigParams& params) {
    const std::string encodedDomain = oxl::Base64urlEncoding::instance().encode(params.domain);
    const std::string hostAndPort = oxl::ip::IpUtils::appendPortToAddress(params.host, params.port);
    std::string url;
    if (hostAndPort.empty()) {
        OXL_LOG_ERROR(logger(), "Unable to append the port to this hostname: " << params.host);
    } else {
        url += "https://";
        url += hostAndPort;
        url += "/";
        url += encodedDomain;
    }
    bool hasQuery = false;
    if (params.isRefresh) {
        url += "/get_edge_refresh";
        if (params.zeroTtl) {
            url += ZERO_TTL_QUERY;
            hasQuery = true;
        }
    } else {
        url += "/get_edge_config";
    }
    if (!params.serviceNames.empty()) {
        url += hasQuery ? "&" : "?";
        bool first = true;
        for (const auto& name : params.serviceNames) {
            if (!first) {
                url += "&";
            }
            first = false;
            url += "service_name=";
            url += name;
        }
    }
    OXLDiagnostics::DiagnosticsWrapper::AddRecord(0, 0, "Edge Configuration", url, 2, "");
    return url;
}

EdgeConfigRequest::Result EdgeConfigRequestImpl::execute(const EdgeConfigParams& params, EdgeConfig& config) {
    try {
        return run(params, config);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Edge Config Request failed with an unexpected error: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "Edge Config Request failed with an unexpected error");
    }
    return INTERNAL_ERROR;
}

EdgeConfigRequest::Result EdgeConfigRequestImpl::run(const EdgeConfigParams& params, EdgeConfig& config) {
    if (!validate(params)) {
        return ILLEGAL_ARGUMENT;
    }
    if (!httpClient_) {
        OXL_LOG_ERROR(logger(), "Edge Config Request has no HTTP client");
        return INTERNAL_ERROR;
    }

    HttpClientRequest request;
    request.url = createRequestUrl(params);
    request.username = params.username;
    request.password = params.password;
    request.oauthToken = params.oauthToken;
    request.domain = params.domain;
    request.xAuthCookie = params.xAuthCookie;

    HttpClientResponse response;
    const EdgeConfigHttpClient::Result httpResult = httpClient_->execute(request, response);
    OXL_LOG_DEBUG(logger(), "Get Edge Config HTTP Result: " << httpResult
                                                            << ", HTTP Response Code: " << response.httpCode);

    if (httpResult != EdgeConfigHttpClient::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Edge Config Request failed, httpResult: " << httpResult);
        switch (httpResult) {
            case EdgeConfigHttpClient::CERTIFICATE_VALIDATION_ERROR:
                return CERTIFICATE_VALIDATION_ERROR;
            case EdgeConfigHttpClient::CONNECTION_FAILED:
                return CONNECTION_FAILED;
            case EdgeConfigHttpClient::SSL_CONNECTION_ERROR:
                return SSL_CONNECTION_ERROR;
            case EdgeConfigHttpClient::FAILED_TO_RESOLVE_HOST:
                return FAILED_TO_RESOLVE_HOST;
            case EdgeConfigHttpClient::INTERNAL_ERROR:
                return INTERNAL_ERROR;
            case EdgeConfigHttpClient::RESPONSE_TOO_LARGE:
                // An answer that cannot be taken, like one that cannot be read.
                return FAILED_TO_PARSE_RESPONSE;
            default:
                return UNKNOWN_ERROR;
        }
    }

    switch (response.httpCode) {
        case 401:
        case 403:
            OXL_LOG_ERROR(logger(), "Edge Config Authentication failed");
            return AUTHENTICATION_FAILED;
        case 429:
            OXL_LOG_ERROR(
                logger(),
                "Edge Auth Failed - Too Many Edge Auth Requests sent for this user - review HYD rate "
                "limiting settings ( \"Maximum authentications per period\" / \"Rate Control "
                "period\" )");
            return TOO_MANY_REQUESTS;
        case 200:
            break;
        default:
            OXL_LOG_ERROR(logger(),
                          "Edge Config Unsuccessful response, httpResponseCode: " << response.httpCode);
            return UNSUCCESSFUL_RESPONSE;
    }

    if (params.isRefresh) {
        if (response.cookies.empty()) {
            OXL_LOG_ERROR(logger(), "Edge Config refresh response set no cookie");
            return FAILED_TO_REFRESH_COOKIE;
        }
        for (const auto& cookie : response.cookies) {
            config.addCookie(cookie);
        }
        return SUCCESS;
    }

    const EdgeConfigResponse::Result parseResult =
        EdgeConfigResponse(response, getResponseLimits()).parse(config);
    if (parseResult != EdgeConfigResponse::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Failed to parse Edge Config Response: " << parseResult);
        return FAILED_TO_PARSE_RESPONSE;
    }
    return SUCCESS;
}

}  // namespace oxl::edge

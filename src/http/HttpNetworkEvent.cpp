#include "oxl/http/HttpNetworkEvent.h"

#include "oxl/http/AuthenticationType.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/HttpNetworkEventUtils.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

}  // namespace

HttpNetworkEvent::HttpNetworkEvent(std::shared_ptr<HttpNetworkEventReporter> reporter,
                                   std::shared_ptr<EdgeTransformer> transformer)
    : reporter_(std::move(reporter)), transformer_(std::move(transformer)) {}

void HttpNetworkEvent::notifyNetworkEventReporter(
    HttpClientResult::Result result, const std::shared_ptr<HttpRequestData>& requestData,
    const std::shared_ptr<oxl::common::Policy>& edgePolicy) const {
    if (!reporter_) {
        OXL_LOG_ERROR(logger(), "No network event reporter, events of result " << result << " are dropped");
        return;
    }
    notifyHttpEvents(result);

    if (!requestData || !transformer_) {
        OXL_LOG_DEBUG(logger(), "No " << (requestData ? "edge transformer" : "request data")
                                      << ", edge events are not generated");
        return;
    }
    if (!transformer_->isRequestTransformed(requestData->getWrapper())) {
        return;
    }
    const auto options = requestData->getOptions();
    if (!options) {
        OXL_LOG_ERROR(logger(), "Edge request" << requestData->formattedRequestID() << " has no options");
        return;
    }
    const std::string url = options->url;
    notifyEdgeConnectionFailure(EDGE_PREFIX, result, url);
    if (result != HttpClientResult::SUCCESS) {
        return;
    }
    notifyEdgeHttpErrors(*requestData, url, edgePolicy);
    // Each edge server the request failed over from is reported; a URL it tried before it went through
    // the edge is no edge server's failure.
    for (const auto& failed : requestData->getFailedUrlInfo()) {
        if (failed.throughEdge) {
            notifyEdgeConnectionFailure(EDGE_FAILOVER_PREFIX, failed.result, failed.url);
        }
    }
}

void HttpNetworkEvent::notifyHttpEvents(HttpClientResult::Result result) const {
    switch (result) {
        case HttpClientResult::SUCCESS:
            reporter_->hintNetworkIsInUse(CLIENT_REQUEST_SUCCESSFUL);
            break;
        case HttpClientResult::HOST_UNREACHABLE_ERROR:
            reporter_->hintNetworkInterfaceMightHaveDropped(HTTP_HOST_UNREACHABLE);
            break;
        case HttpClientResult::UNRESOLVED_HOST_ERROR:
            reporter_->hintNetworkInterfaceMightHaveDropped(HTTP_UNRESOLVED_HOST);
            break;
        default:
            break;
    }
}

void HttpNetworkEvent::notifyEdgeConnectionFailure(const std::string& prefix, HttpClientResult::Result result,
                                                   const std::string& url) const {
    const char* suffix = nullptr;
    switch (result) {
        case HttpClientResult::HOST_UNREACHABLE_ERROR:
            suffix = HOST_UNREACHABLE_SUFFIX;
            break;
        case HttpClientResult::UNRESOLVED_HOST_ERROR:
            suffix = UNRESOLVED_HOST_SUFFIX;
            break;
        case HttpClientResult::CONNECTION_TIMEOUT_ERROR:
            suffix = CONNECTION_TIMEOUT_SUFFIX;
            break;
        case HttpClientResult::CERTIFICATE_VALIDATION_ERROR:
            suffix = CERT_VALIDATION_SUFFIX;
            break;
        default:
            return;
    }
    std::string label = prefix;
    label += suffix;
    notifyEdgeInfrastructureEvent(label, url);
}

void HttpNetworkEvent::notifyEdgeHttpErrors(const HttpRequestData& requestData, const std::string& url,
                                            const std::shared_ptr<oxl::common::Policy>& edgePolicy) const {
    const Response& response = requestData.getResponse();
    const auto options = requestData.getOptions();
    const bool bearer = options && options->authType == AuthenticationType::BEARER_TOKEN;
    // Under the request-token policy the edge checks the request's own token: a 403 is the service's answer.
    const bool edgeChecksRequestToken =
        edgePolicy.get() ==
        EdgePolicy::USE_EDGE_IF_REQUIRED_AUTHENTICATE_WITH_REQUEST_OAUTH_TOKEN_POLICY.get();

    if (HttpNetworkEventUtils::isHyd403Response(response) && bearer && !edgeChecksRequestToken) {
        notifyEdgeInfrastructureEvent(EDGE_OAUTH_EXPIRED, url);
    } else if (HttpNetworkEventUtils::isHyd407Response(response)) {
        notifyEdgeInfrastructureEvent(EDGE_AUTHENTICATION_REQUIRED, url);
    } else if (HttpNetworkEventUtils::isHyd500Response(response)) {
        notifyEdgeInfrastructureEvent(EDGE_INTERNAL_SERVER_ERROR, url);
    } else if (HttpNetworkEventUtils::isHyd503Response(response)) {
        notifyEdgeInfrastructureEvent(EDGE_SERVICE_UNAVAILABLE, url);
    } else if (HttpNetworkEventUtils::isHyde502Response(response)) {
        notifyEdgeInfrastructureEvent(EDGE_NEXT_HOP_FAILED, url);
    }
}

void HttpNetworkEvent::notifyEdgeInfrastructureEvent(const std::string& label, const std::string& url) const {
    const std::string host = HttpUtils::extractHostFromHttpUrl(url);
    OXL_LOG_DEBUG(logger(), "generating edgeInfrastructureEvent: '" << label << "' host: '" << host << "'");
    reporter_->edgeInfrastructureEvent(label, host);
}

}  // namespace oxl::http

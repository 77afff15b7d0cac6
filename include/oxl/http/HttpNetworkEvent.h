// Turns the outcome of one finished transfer into labelled network events: every transfer may hint that
// the network is in use or that an interface dropped; a transfer through the edge also reports the
// edge-side failure it met, or the edge servers it failed over from before it succeeded.
#pragma once

#include <memory>
#include <string>

#include "oxl/http/HttpClientResult.h"

namespace oxl::common {
class Policy;
}

namespace oxl::http {

class EdgeTransformer;
class HttpNetworkEventReporter;
class HttpRequestData;

class HttpNetworkEvent {
  public:
    static constexpr const char* CLIENT_REQUEST_SUCCESSFUL = "oxlnetutils.http.clientRequestSuccessful";
    static constexpr const char* HTTP_HOST_UNREACHABLE = "oxlnetutils.http.hostUnreachableError";
    static constexpr const char* HTTP_UNRESOLVED_HOST = "oxlnetutils.http.unresolvedHostError";

    // Edge connection failures are one of these prefixes followed by one of the suffixes.
    static constexpr const char* EDGE_PREFIX = "oxlnetutils.edge";
    static constexpr const char* EDGE_FAILOVER_PREFIX = "edge.successful.failover";
    static constexpr const char* HOST_UNREACHABLE_SUFFIX = ".hostUnreachableError";
    static constexpr const char* UNRESOLVED_HOST_SUFFIX = ".unresolvedHostError";
    static constexpr const char* CONNECTION_TIMEOUT_SUFFIX = ".connectionTimeout";
    static constexpr const char* CERT_VALIDATION_SUFFIX = ".certValidationError";

    static constexpr const char* EDGE_OAUTH_EXPIRED = "oxlnetutils.edge.oauthExpired";
    static constexpr const char* EDGE_AUTHENTICATION_REQUIRED = "oxlnetutils.edge.authenticationRequired";
    static constexpr const char* EDGE_INTERNAL_SERVER_ERROR = "oxlnetutils.edge.internalServerError";
    static constexpr const char* EDGE_SERVICE_UNAVAILABLE = "oxlnetutils.edge.serviceUnavailable";
    static constexpr const char* EDGE_NEXT_HOP_FAILED = "oxlnetutils.edge.nextHopFailed";

    // Either may be null: without a reporter nothing is sent, without a transformer no request counts as
    // an edge request.
    HttpNetworkEvent(std::shared_ptr<HttpNetworkEventReporter> reporter,
                     std::shared_ptr<EdgeTransformer> transformer);

    // Called once per finished transfer. `edgePolicy` is the edge policy the transfer ran under (may be
    // null); a bearer-token request refused by the edge counts as an expired token only when the policy is
    // not the shared request-token one, which sends that token to the edge itself.
    void notifyNetworkEventReporter(HttpClientResult::Result result,
                                    const std::shared_ptr<HttpRequestData>& requestData,
                                    const std::shared_ptr<oxl::common::Policy>& edgePolicy) const;

  private:
    void notifyHttpEvents(HttpClientResult::Result result) const;
    void notifyEdgeConnectionFailure(const std::string& prefix, HttpClientResult::Result result,
                                     const std::string& url) const;
    void notifyEdgeHttpErrors(const HttpRequestData& requestData, const std::string& url,
                              const std::shared_ptr<oxl::common::Policy>& edgePolicy) const;
    void notifyEdgeInfrastructureEvent(const std::string& label, const std::string& url) const;

    std::shared_ptr<HttpNetworkEventReporter> reporter_;
    std::shared_ptr<EdgeTransformer> transformer_;
};

}  // namespace oxl::http

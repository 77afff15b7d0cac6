// The hook through which the HTTP client has a request rewritten to travel through the edge server. The
// edge subsystem implements it; the HTTP side only relies on this: after SUCCESS the request data's URL,
// headers and cookies address the edge server, isRequestTransformed is then true for it, and
// removeTransformedCookies strips from a response the cookies the rewriting added.
#pragma once

#include <ostream>
#include <string>

namespace oxl::http {

class HttpRequestData;
class RequestWrapper;
struct Response;

class EdgeTransformer {
  public:
    struct TransformRequestResult {
        enum Result : int {
            SUCCESS = 0,
            INVALID_PARAMETERS = 1,
            MALFORMED_REQUEST = 2,
            EDGE_ENVIRONMENT_UNAVAILABLE = 3,
            EDGE_AUTHENTICATION_FAILED = 4,
            EDGE_SSL_CONNECTION_ERROR = 5,
            UNKNOWN = 6,
        };
    };

    virtual ~EdgeTransformer() = default;

    virtual TransformRequestResult::Result transformRequest(HttpRequestData& requestData) = 0;
    // As transformRequest, authenticating at the edge with the request's own OAuth token.
    virtual TransformRequestResult::Result transformRequestUsingRequestOAuthToken(
        HttpRequestData& requestData) = 0;
    // As transformRequest, authenticating at the edge with the edge session's own header.
    virtual TransformRequestResult::Result transformRequestUsingXEdgeAuth(HttpRequestData& requestData) = 0;
    virtual TransformRequestResult::Result removeTransformedCookies(Response& response,
                                                                    const std::string& url) = 0;
    virtual bool isRequestTransformed(const RequestWrapper& wrapper) = 0;
};

std::ostream& operator<<(std::ostream& os, EdgeTransformer::TransformRequestResult::Result result);

}  // namespace oxl::http

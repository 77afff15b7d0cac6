// The transport an edge-configuration request runs on: one synchronous HTTPS GET. Implementations must
// accept concurrent execute calls.
#pragma once

#include <ostream>

#include "oxl/edge/HttpClientRequest.h"
#include "oxl/edge/HttpClientResponse.h"

namespace oxl::edge {

class EdgeConfigHttpClient {
  public:
    enum Result : int {
        SUCCESS = 0,
        CERTIFICATE_VALIDATION_ERROR = 1,
        CONNECTION_FAILED = 2,
        SSL_CONNECTION_ERROR = 3,
        FAILED_TO_RESOLVE_HOST = 4,
        INTERNAL_ERROR = 5,
        UNKNOWN_ERROR = 6,
        // The answer's body was longer than the client accepts.
        RESPONSE_TOO_LARGE = 7,
    };

    // GET request.url, authenticated by the OAuth token when there is one, else by user name and password;
    // sends request.xAuthCookie when not empty; fills the status, the body and the cookies the edge set.
    virtual Result execute(const HttpClientRequest& request, HttpClientResponse& response) = 0;
    virtual ~EdgeConfigHttpClient() = default;
};

std::ostream& operator<<(std::ostream& os, EdgeConfigHttpClient::Result result);

}  // namespace oxl::edge

// Fetches the edge configuration (or only renews the session cookie) from one edge server.
#pragma once

#include <ostream>

#include "oxl/edge/EdgeConfig.h"
#include "oxl/edge/EdgeConfigParams.h"

namespace oxl::edge {

class EdgeConfigRequest {
  public:
    enum Result : int {
        SUCCESS = 0,
        ILLEGAL_ARGUMENT = 1,
        FAILED_TO_PARSE_RESPONSE = 2,
        CERTIFICATE_VALIDATION_ERROR = 3,
        CONNECTION_FAILED = 4,
        SSL_CONNECTION_ERROR = 5,
        FAILED_TO_RESOLVE_HOST = 6,
        AUTHENTICATION_FAILED = 7,
        UNSUCCESSFUL_RESPONSE = 8,
        INTERNAL_ERROR = 9,
        FAILED_TO_REFRESH_COOKIE = 10,
        TOO_MANY_REQUESTS = 11,
        UNKNOWN_ERROR = 12,
    };

    virtual ~EdgeConfigRequest() = default;
    // Synchronous. Fills `config` (a fresh one for a full request; for a refresh, the configuration whose
    // cookie is to be renewed). A failure may leave part of a parsed answer in `config`.
    virtual Result execute(const EdgeConfigParams& params, EdgeConfig& config) = 0;
};

std::ostream& operator<<(std::ostream& os, EdgeConfigRequest::Result result);

}  // namespace oxl::edge

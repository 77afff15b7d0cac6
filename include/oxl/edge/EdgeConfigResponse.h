// Reads the edge's XML answer into an EdgeConfig. The body is untrusted: it is parsed without network
// access, without loading external DTDs or entities and without substituting entities.
#pragma once

#include <ostream>

#include "oxl/edge/EdgeConfig.h"
#include "oxl/edge/HttpClientResponse.h"

namespace oxl::edge {

class EdgeConfigResponse {
  public:
    enum Result : int {
        SUCCESS = 0,
        PARSING_FAILURE = 1,
        ELEMENT_DOES_NOT_EXIST = 2,
    };

    explicit EdgeConfigResponse(const HttpClientResponse& response);

    // Adds what the document holds to `config`; what was stored before a failing step stays there. On
    // success the response's cookies are added as well.
    Result parse(EdgeConfig& config) const;

  private:
    unsigned int httpCode_;
    std::vector<oxl::common::Cookie> cookies_;
    std::string body_;
};

std::ostream& operator<<(std::ostream& os, EdgeConfigResponse::Result result);

}  // namespace oxl::edge

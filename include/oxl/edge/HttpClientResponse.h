// What the HTTP client returns for an edge-configuration request.
#pragma once

#include <string>
#include <vector>

#include "oxl/common/Cookie.h"

namespace oxl::edge {

struct HttpClientResponse {
    unsigned int httpCode = 0;
    // The cookies the edge set in this response (libcurl cookie-list lines).
    std::vector<oxl::common::Cookie> cookies;
    std::string body;
};

}  // namespace oxl::edge

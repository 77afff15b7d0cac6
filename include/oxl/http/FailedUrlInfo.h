// A URL a transfer tried, the result it failed with, and whether that attempt went through the edge.
#pragma once

#include <string>

#include "oxl/http/HttpClientResult.h"

namespace oxl::http {

struct FailedUrlInfo {
    FailedUrlInfo() = default;
    FailedUrlInfo(std::string url, HttpClientResult::Result result, bool throughEdge = false)
        : url(std::move(url)), result(result), throughEdge(throughEdge) {}

    std::string url;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    // The URL was an edge URL of a rewritten request: its failure is the edge's.
    bool throughEdge = false;
};

}  // namespace oxl::http

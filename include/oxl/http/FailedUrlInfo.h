// A URL a transfer tried and the result it failed with.
#pragma once

#include <string>

#include "oxl/http/HttpClientResult.h"

namespace oxl::http {

struct FailedUrlInfo {
    FailedUrlInfo() = default;
    FailedUrlInfo(std::string url, HttpClientResult::Result result) : url(std::move(url)), result(result) {}

    std::string url;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
};

}  // namespace oxl::http

// Receives the outcome of asynchronous transfers; implemented by callers. Called on a pool thread.
#pragma once

#include "oxl/http/HttpClientResult.h"
#include "oxl/http/ProgressData.h"
#include "oxl/http/Response.h"

namespace oxl::http {

class HttpClientListener {
  public:
    // The transfer ended without a response worth reading.
    virtual void onRequestFailed(unsigned int requestId, HttpClientResult::Result result) = 0;
    // The transfer got a response (any status code). The response's text field is wiped after return.
    virtual void onRequestCompleted(unsigned int requestId, Response& response) = 0;
    // Bytes moved so far; called only while the transfer runs.
    virtual void onRequestProgress(unsigned int /*requestId*/, const ProgressData& /*progress*/) {}
    virtual ~HttpClientListener() = default;
};

}  // namespace oxl::http

// Classifies the libcurl code a transfer ended with: which result the caller sees, and whether the failure
// lies with the server so that the next failover URL is worth trying. Replaceable per client.
#pragma once

#include "oxl/http/HttpClientResult.h"

namespace oxl::http {

class HttpRequestData;

class CurlAnswerEvaluator {
  public:
    CurlAnswerEvaluator();
    virtual ~CurlAnswerEvaluator();

    // True for the codes after which another server may do better: proxy or host not resolved, no
    // connection, write or read error, time-out, TLS handshake failure, certificate refused, and the
    // remote disk full (libcurl codes 5, 6, 7, 23, 26, 28, 35, 51, 60, 70).
    virtual bool representServerFailure(int curlCode) const;
    // Maps a libcurl code (CURLcode) to the result of the transfer and logs the outcome at info level with
    // the connection's error text. requestData may be null.
    virtual HttpClientResult::Result curlCodeToResult(int curlCode, const HttpRequestData* requestData) const;

    // The mapping alone, without logging.
    static HttpClientResult::Result mapCurlCode(int curlCode);
};

}  // namespace oxl::http

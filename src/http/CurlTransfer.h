// The stages of one transfer that every client shares, whatever drives libcurl (curl_easy_perform, or a
// multi handle with one easy handle per request):
//
//   if (enforceEdgePolicy(...) != SUCCESS) -> end
//   for (;;) {
//       if (configure(request) != SUCCESS) -> end without an event
//       perform the request data's easy handle
//       result = evaluate(client, code, request)
//       if (!failOver(client, code, result, request)) break;   // else run the next URL
//   }
//   readBack(client, request, result); give the handle back; finish(client, request, result);
//
// Every function takes the request data whose easy handle (borrowed or its own) is configured or was
// performed, and the client data that holds the evaluator, the edge hooks and the event reporter.
#pragma once

#include <curl/curl.h>

#include <functional>
#include <memory>

#include "oxl/common/Policy.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpClientResult.h"

namespace oxl::http {

class EdgeTransformer;
class HttpClientData;
class HttpClientListener;
class HttpRequestData;

class CurlTransfer {
  public:
    CurlTransfer() = delete;

    // Enforces the client's edge-usage policy on the request (which may rewrite it for the edge). SUCCESS
    // when the request may go on, rewritten or not, or when the failure may be ignored; otherwise the
    // result the caller gets: EDGE_AUTHENTICATION_FAILED, SSL_CONNECTION_ERROR or
    // POLICY_NOT_ENFORCED_ERROR, by the transform result left in the request data. `enforced`, when given,
    // receives what the policy itself answered, before any failure was ignored.
    static HttpClientResult::Result enforceEdgePolicy(
        const std::shared_ptr<oxl::common::Policy>& policy, bool canBeIgnored,
        const std::shared_ptr<HttpRequestData>& requestData,
        const std::shared_ptr<EdgeTransformer>& transformer,
        oxl::common::Policy::PolicyEnforcingResult::EnforcingResult* enforced = nullptr);

    // The libcurl callbacks of a client transfer (body, headers, progress, upload reads).
    static const TransferCallbacks& callbacks();

    // Configures the request data's easy handle with the client callbacks, then applies its IP-family
    // policy: SUCCESS, HTTP_CONFIGURATION_ERROR, or the policy's failure.
    static HttpClientResult::Result configure(HttpRequestData& requestData);

    // The result of a performed transfer: the evaluator's mapping of the code, except that a transfer one
    // of our callbacks aborted because its request was cancelled is REQUEST_CANCELLED, a body over the
    // request's limit is RESPONSE_TOO_LARGE_ERROR, and a download whose file cannot be flushed and closed is
    // FILE_WRITE_ERROR. A download that did not complete leaves no file behind.
    static HttpClientResult::Result evaluate(const HttpClientData& clientData, CURLcode code,
                                             HttpRequestData& requestData);

    // The failover rule: after a server failure (see CurlAnswerEvaluator::representServerFailure), when a
    // failover URL is left and the request was neither cancelled nor answered with an oversized body, the
    // failed URL is recorded with its result, the next URL becomes the options URL and what the attempt left
    // in the response is cleared. True when the transfer is to be configured and run again. `performCall`
    // names the libcurl call that ran the transfer in the log.
    static bool failOver(const HttpClientData& clientData, CURLcode code, HttpClientResult::Result result,
                         HttpRequestData& requestData, const char* performCall = "curl_easy_perform");

    // Reads back what the handle holds after the last attempt: the status code always; on SUCCESS also the
    // response URL (the caller's URL for an edge request), the connection addresses and the cookies.
    static void readBack(const HttpClientData& clientData, HttpRequestData& requestData,
                         HttpClientResult::Result result);

    // Calls the caller's listener; whatever it throws is logged and stays on the library's side.
    static void notifyListener(HttpClientListener& listener, const HttpRequestData& requestData,
                               const std::function<void(HttpClientListener&)>& notify);

    // After the handle was given back: edge cookies removed from a successful response, the transfer's
    // file closed, the network event reported, and the caller's own URL put back into an edge request.
    static void finish(const HttpClientData& clientData, const std::shared_ptr<HttpRequestData>& requestData,
                       HttpClientResult::Result result, const char* performCall = "curl_easy_perform");
};

}  // namespace oxl::http

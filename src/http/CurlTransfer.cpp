#include "http/CurlTransfer.h"

#include "http/CurlCallbacks.h"
#include "http/ResponseBody.h"
#include "oxl/http/CurlAnswerEvaluator.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/http/HttpClientListener.h"
#include "oxl/http/HttpNetworkEvent.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

using Enforcing = oxl::common::Policy::PolicyEnforcingResult;
using Transform = EdgeTransformer::TransformRequestResult;

const CurlAnswerEvaluator& evaluatorOf(const HttpClientData& clientData,
                                       std::shared_ptr<CurlAnswerEvaluator>& holder) {
    static const CurlAnswerEvaluator DEFAULT;
    holder = clientData.getCurlAnswerEvaluator();
    return holder ? *holder : DEFAULT;
}

bool isTransformed(const HttpClientData& clientData, const HttpRequestData& requestData) {
    auto transformer = clientData.getEdgeTransformer();
    return transformer && transformer->isRequestTransformed(requestData.getWrapper());
}

void removeTransformedCookies(const HttpClientData& clientData, HttpRequestData& requestData,
                              const std::string& url) {
    auto edgePolicy = std::dynamic_pointer_cast<EdgePolicy>(clientData.getEdgePolicy());
    if (!edgePolicy) {
        OXL_LOG_WARN(logger(), "Edge policy not available.");
        return;
    }
    if (edgePolicy->enforce(requestData.getResponse(), url, clientData.getEdgeTransformer()) !=
        Enforcing::SUCCESS) {
        OXL_LOG_WARN(logger(), "Edge policy not enforced.");
    }
}

void reportEvent(const HttpClientData& clientData, HttpClientResult::Result result,
                 const std::shared_ptr<HttpRequestData>& requestData) {
    if (!clientData.getEventReporter()) {
        if (clientData.firstTransferWithoutReporter()) {
            OXL_LOG_ERROR(logger(),
                          "No network event reporter, the network events of this client are dropped");
        } else {
            OXL_LOG_DEBUG(logger(),
                          "No network event reporter, events of result " << result << " are dropped");
        }
        return;
    }
    HttpNetworkEvent(clientData.getEventReporter(), clientData.getEdgeTransformer())
        .notifyNetworkEventReporter(result, requestData, clientData.getEdgePolicy());
}
void readTiming(CURL* handle, Response::Timing& timing) {
    timing = Response::Timing{};
    if (handle == nullptr) {
        return;
    }
    const std::pair<CURLINFO, long long*> phases[] = {
        {CURLINFO_NAMELOOKUP_TIME_T, &timing.nameLookupUs},
        {CURLINFO_CONNECT_TIME_T, &timing.connectUs},
        {CURLINFO_APPCONNECT_TIME_T, &timing.tlsUs},
        {CURLINFO_STARTTRANSFER_TIME_T, &timing.firstByteUs},
        {CURLINFO_TOTAL_TIME_T, &timing.totalUs},
    };
    for (const auto& [info, field] : phases) {
        curl_off_t micros = 0;
        if (curl_easy_getinfo(handle, info, &micros) == CURLE_OK) {
            *field = static_cast<long long>(micros);
        }
    }
}
}  // namespace

const TransferCallbacks& CurlTransfer::callbacks() {
    static const TransferCallbacks CALLBACKS{&CurlCallbacks::writeCallback, &CurlCallbacks::headerCallback,
                                             &CurlCallbacks::progressCallback, &CurlCallbacks::readCallback};
    return CALLBACKS;
}

HttpClientResult::Result CurlTransfer::enforceEdgePolicy(const std::shared_ptr<oxl::common::Policy>& policy,
                                                         bool canBeIgnored,
                                                         const std::shared_ptr<HttpRequestData>& requestData,
                                                         const std::shared_ptr<EdgeTransformer>& transformer,
                                                         Enforcing::EnforcingResult* enforcedOut) {
    auto edgePolicy = std::dynamic_pointer_cast<EdgePolicy>(policy);
    const auto enforced =
        edgePolicy ? edgePolicy->enforce(requestData, transformer) : Enforcing::ENFORCING_FAILURE;
    if (enforcedOut != nullptr) {
        *enforcedOut = enforced;
    }
    if (enforced != Enforcing::SUCCESS) {
        if (!canBeIgnored) {
            switch (requestData->getTransformResult()) {
                case Transform::EDGE_AUTHENTICATION_FAILED:
                    OXL_LOG_ERROR(logger(), "Edge authentication failed");
                    return HttpClientResult::EDGE_AUTHENTICATION_FAILED;
                case Transform::EDGE_SSL_CONNECTION_ERROR:
                    OXL_LOG_ERROR(logger(), "Edge SSL/TLS connection failed");
                    return HttpClientResult::SSL_CONNECTION_ERROR;
                default:
                    OXL_LOG_ERROR(logger(), "Edge policy not enforced");
                    return HttpClientResult::POLICY_NOT_ENFORCED_ERROR;
            }
        }
        OXL_LOG_WARN(logger(), "Edge policy not enforced (" << enforced << ") for request "
                                                            << requestData->formattedRequestID()
                                                            << ", the failure is ignored");
        return HttpClientResult::SUCCESS;
    }
    auto options = requestData->getOptions();
    OXL_LOG_DEBUG(logger(), "Edge policy enforced successfully with transformed Url: "
                                << CurlHttpUtils::loggableUrl(options ? options->url : std::string())
                                << " for request " << requestData->formattedRequestID());
    return HttpClientResult::SUCCESS;
}

HttpClientResult::Result CurlTransfer::configure(HttpRequestData& requestData) {
    if (!CurlHttpUtils::configureEasyRequest(requestData, callbacks())) {
        OXL_LOG_ERROR(logger(), "There was an issue configuring the request.");
        return HttpClientResult::HTTP_CONFIGURATION_ERROR;
    }
    return requestData.enforceIpFamilyPreferencePolicy();
}

HttpClientResult::Result CurlTransfer::evaluate(const HttpClientData& clientData, CURLcode code,
                                                HttpRequestData& requestData) {
    std::shared_ptr<CurlAnswerEvaluator> holder;
    const HttpClientResult::Result result =
        evaluatorOf(clientData, holder).curlCodeToResult(code, &requestData);
    if (code != CURLE_OK && requestData.wasAbortedForCancel()) {
        // Whichever of our callbacks noticed the cancellation first: not a write error. A failure libcurl
        // met on its own (a time-out, say) stays what it is, cancelled or not.
        return HttpClientResult::REQUEST_CANCELLED;
    }
    RequestWrapper& wrapper = requestData.getWrapper();
    const bool download = wrapper.getOperation() == HTTPFileOperation::DOWNLOAD;
    if (code != CURLE_OK && requestData.isResponseTooLarge()) {
        OXL_LOG_INFO(logger(), "Request " << requestData.formattedRequestID() << " result "
                                          << HttpClientResult::RESPONSE_TOO_LARGE_ERROR);
        if (download) {
            ResponseBody::discardDownload(wrapper);
        }
        return HttpClientResult::RESPONSE_TOO_LARGE_ERROR;
    }
    // A full disk may show only when the last buffered bytes are flushed.
    if (result == HttpClientResult::SUCCESS && download && !wrapper.closeFile()) {
        OXL_LOG_ERROR(logger(), "Failed to write data to file '" << CurlHttpUtils::loggableFilePath(wrapper)
                                                                 << "'. Removing the file.");
        ResponseBody::discardDownload(wrapper);
        return HttpClientResult::FILE_WRITE_ERROR;
    }
    return result;
}

bool CurlTransfer::failOver(const HttpClientData& clientData, CURLcode code, HttpClientResult::Result result,
                            HttpRequestData& requestData, const char* performCall) {
    std::shared_ptr<CurlAnswerEvaluator> holder;
    auto request = requestData.getRequest();
    // Neither a cancelled request nor an oversized answer is the server's failure to reach; and a cancelled
    // request starts no new attempt, whatever ended the last one.
    if (result == HttpClientResult::REQUEST_CANCELLED ||
        result == HttpClientResult::RESPONSE_TOO_LARGE_ERROR || (request && request->isCancelled()) ||
        !evaluatorOf(clientData, holder).representServerFailure(code) || !requestData.hasFailoverUrl()) {
        return false;
    }
    OXL_LOG_WARN(logger(), "There was an issue performing the call to " << performCall << ": " << code
                                                                        << " Failing over to the next URL");
    requestData.switchToNextUrl(result, isTransformed(clientData, requestData));
    // What the failed attempt left must not leak into the answer of the next URL.
    Response& response = requestData.getResponse();
    response.responseCode = 0;
    response.body = Response::makeBody();
    response.headers = std::make_shared<HttpHeaders>();
    requestData.getWrapper().closeFile();
    return true;
}

void CurlTransfer::readBack(const HttpClientData& clientData, HttpRequestData& requestData,
                            HttpClientResult::Result result) {
    const std::string id = requestData.formattedRequestID();
    Response& response = requestData.getResponse();
    if (!CurlHttpUtils::getResponseCode(&requestData)) {
        OXL_LOG_WARN(logger(), "Failed to get the response code for request " << id);
    }
    auto options = requestData.getOptions();
    OXL_LOG_DEBUG(logger(), "HTTP response code " << response.responseCode << " for request " << id << " to "
                                                  << CurlHttpUtils::loggableUrl(options ? options->url : ""));
    CurlHttpUtils::logOperationTiming(requestData);
    readTiming(requestData.getCurlHandle(), response.timing);
    if (result != HttpClientResult::SUCCESS) {
        return;
    }

    if (response.url.empty()) {
        response.url = isTransformed(clientData, requestData) || !options ? requestData.getWrapper().getUrl()
                                                                          : options->url;
    }
    if (!CurlHttpUtils::getIpAddress(requestData)) {
        OXL_LOG_WARN(logger(), "Unable to get the IP addresses for request " << id);
    }
    OXL_LOG_DEBUG(logger(), "Request " << id << ", destination IP address: " << response.destinationAddress
                                       << " -> local IP address: " << response.localAddress);
    if (!CurlHttpUtils::storeCookies(requestData)) {
        OXL_LOG_WARN(logger(), "Failed to store cookies in the response for request " << id);
    }
    curl_off_t received = 0;
    if (CURL* handle = requestData.getCurlHandle()) {
        curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received);
    }
    OXL_LOG_DEBUG(logger(), "For request " << id << ", the size of the response body is: "
                                           << (response.body ? response.body->size() : 0)
                                           << " the total size of the data received is: " << received);
}

void CurlTransfer::finish(const HttpClientData& clientData,
                          const std::shared_ptr<HttpRequestData>& requestData,
                          HttpClientResult::Result result, const char* performCall) {
    if (result != HttpClientResult::SUCCESS) {
        OXL_LOG_ERROR(logger(), "There was an issue performing the call to "
                                    << performCall << " for request " << requestData->formattedRequestID()
                                    << ": " << result);
        requestData->getWrapper().closeFile();
        reportEvent(clientData, result, requestData);
        return;
    }
    Response& response = requestData->getResponse();
    const bool transformed = isTransformed(clientData, *requestData);
    removeTransformedCookies(clientData, *requestData, response.url);
    requestData->getWrapper().closeFile();
    reportEvent(clientData, result, requestData);
    // Only now does the caller get its own URL back: the event needs the edge URL to recognise an edge
    // request and to name the edge server that answered.
    auto options = requestData->getOptions();
    if (transformed && options) {
        options->url = response.url;
    }
}

void CurlTransfer::notifyListener(HttpClientListener& listener, const HttpRequestData& requestData,
                                  const std::function<void(HttpClientListener&)>& notify) {
    try {
        notify(listener);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The listener of request " << requestData.formattedRequestID()
                                                           << " threw: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "The listener of request " << requestData.formattedRequestID() << " threw");
    }
}

}  // namespace oxl::http

// The intake of a request on the enqueue pool and the end of its transfer on the processing thread.
#include <algorithm>
#include <exception>
#include <utility>

#include "http/CurlTransfer.h"
#include "http/RequestProcessing.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpClientListener.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/MultiHttpClientData.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/ProxyBypassReader.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

constexpr const char* PERFORM_CALL = "curl_multi_perform";

using Enforcing = oxl::common::Policy::PolicyEnforcingResult;

bool isCancelled(const HttpRequestData& requestData) {
    auto request = requestData.getRequest();
    return request && request->isCancelled();
}

CURL* handleOf(const MultiHttpClientData& data) {
    const auto& connection = data.getOwnConnection();
    return connection ? connection->getHandle() : nullptr;
}

// A host:port pinned to an address never reaches DNS, so the unresolved-host cache has nothing to say.
bool isPinned(const std::string& url) {
    const std::string host = HttpUtils::extractHostFromHttpUrl(url);
    unsigned int port = HttpUtils::extractPortFromHttpUrl(url);
    if (port == 0) {
        port = HttpUtils::extractProtocolFromHttpUrl(url) == "https" ? 443 : 80;
    }
    const auto pins = NamePinning::instance().entries();
    return std::any_of(pins.begin(), pins.end(),
                       [&](const NamePinning::Entry& e) { return e.port == port && e.host == host; });
}

}  // namespace

EnqueueClientDataTask::EnqueueClientDataTask(std::weak_ptr<RequestProcessing> processing,
                                             std::shared_ptr<MultiHttpClientData> data)
    : processing_(std::move(processing)), data_(std::move(data)) {}

void EnqueueClientDataTask::execute() {
    auto processing = processing_.lock();
    if (!processing || !data_ || !processing->beginTask()) {
        return;
    }
    try {
        processing->enqueueClientData(data_);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The intake of request " << data_->getHttpRequestData()->formattedRequestID()
                                                         << " failed: " << e.what());
        processing->endRequest(data_, HttpClientResult::UNKNOWN_ERROR, false);
    }
    processing->endTask();
}

void RequestProcessing::enqueueClientData(const std::shared_ptr<MultiHttpClientData>& data) {
    const auto& requestData = data->getHttpRequestData();
    for (;;) {
        if (data->isNotificationClaimed()) {
            return;  // cancelled meanwhile, and already reported
        }
        if (isCancelled(*requestData)) {
            endRequest(data, HttpClientResult::REQUEST_CANCELLED, false);
            return;
        }
        auto options = requestData->getOptions();
        OXL_LOG_DEBUG(logger(),
                      "About to enforce Edge policy with Url: " << CurlHttpUtils::loggableUrl(options->url));
        Enforcing::EnforcingResult enforced = Enforcing::ENFORCING_FAILURE;
        HttpClientResult::Result result =
            CurlTransfer::enforceEdgePolicy(data->getEdgePolicy(), data->isEdgeUsagePolicyIgnorable(),
                                            requestData, data->getEdgeTransformer(), &enforced);
        if (enforced == Enforcing::NOT_ENFORCEABLE) {
            OXL_LOG_ERROR(logger(), "Edge policy not enforceable.");
            endRequest(data, HttpClientResult::POLICY_NOT_ENFORCED_ERROR, false);
            return;
        }
        if (result != HttpClientResult::SUCCESS) {
            if (requestData->getTransformResult() ==
                EdgeTransformer::TransformRequestResult::EDGE_AUTHENTICATION_FAILED) {
                OXL_LOG_ERROR(logger(), "Edge policy not enforced because Edge authentication failed");
            } else {
                OXL_LOG_ERROR(logger(), "Edge policy not enforced");
            }
            endRequest(data, result, false);
            return;
        }

        if (!checkHost(*requestData)) {
            OXL_LOG_ERROR(logger(), "Unable to resolve the host");
            // Resolution failures are server failures: the next URL gets its chance.
            if (CurlTransfer::failOver(*data, CURLE_COULDNT_RESOLVE_HOST,
                                       HttpClientResult::UNRESOLVED_HOST_ERROR, *requestData, PERFORM_CALL)) {
                continue;
            }
            endRequest(data, HttpClientResult::UNRESOLVED_HOST_ERROR, true);
            return;
        }

        data->provideEasyCURLConnection();
        result = CurlTransfer::configure(*requestData);
        if (result != HttpClientResult::SUCCESS) {
            endRequest(data, result, false);
            return;
        }
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_ || data->isNotificationClaimed()) {
                return;  // stop reports it, or a cancel already did
            }
            first = pending_.empty();
            pending_.push_back(data);
        }
        // The processing thread takes the whole list at once: one wake-up per batch is enough.
        if (first) {
            wake();
        }
        return;
    }
}

bool RequestProcessing::checkHost(HttpRequestData& requestData) {
    auto request = requestData.getRequest();
    const std::string url = requestData.getOptions()->url;
    if (auto proxy = request->getProxy();
        proxy && !proxy->getProxyServer().empty() &&
        ProxyBypassReader(proxy->getBypassList()).isProxyRequired(HttpUtils::extractHostFromHttpUrl(url))) {
        OXL_LOG_DEBUG(logger(), "A proxy will be used for this request");
        return true;
    }
    return isPinned(url) || hostCache_.hostCanBeResolved(url);
}

void RequestProcessing::addPendingTransfers() {
    std::deque<std::shared_ptr<MultiHttpClientData>> batch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(pending_);
    }
    for (const auto& data : batch) {
        const auto& requestData = data->getHttpRequestData();
        if (isCancelled(*requestData)) {
            endRequest(data, HttpClientResult::REQUEST_CANCELLED, false);
            continue;
        }
        CURL* handle = handleOf(*data);
        const CURLMcode code = handle ? curl_multi_add_handle(multi_.get(), handle) : CURLM_BAD_EASY_HANDLE;
        if (code != CURLM_OK) {
            OXL_LOG_ERROR(logger(), "Unable to add the request to the CURL stack.");
            endRequest(data, HttpClientResult::UNKNOWN_ERROR, false);
            continue;
        }
        OXL_LOG_DEBUG(logger(),
                      "adding request " << requestData->formattedRequestID() << " to active transfers queue");
        std::lock_guard<std::mutex> lock(mutex_);
        active_[handle] = data;
    }
}

void RequestProcessing::cancelHeldRequests() {
    std::vector<std::shared_ptr<MultiHttpClientData>> transferring;
    std::vector<std::shared_ptr<MultiHttpClientData>> waiting;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation = cancelRequested_;
        for (auto it = active_.begin(); it != active_.end();) {
            if (isCancelled(*it->second->getHttpRequestData())) {
                curl_multi_remove_handle(multi_.get(), it->first);
                transferring.push_back(it->second);
                it = active_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (isCancelled(*(*it)->getHttpRequestData())) {
                transferring.push_back(*it);
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = held_.begin(); it != held_.end();) {
            const auto data = it->second;
            if (!isCancelled(*data->getHttpRequestData())) {
                ++it;
                continue;
            }
            it = held_.erase(it);
            if (std::find(transferring.begin(), transferring.end(), data) == transferring.end()) {
                waiting.push_back(data);
            }
        }
    }
    for (const auto& data : transferring) {
        endRequest(data, HttpClientResult::REQUEST_CANCELLED, false);
    }
    // Queued intakes, or intakes running right now: only the listener is told here; the task sees the claim
    // and drops the request without touching it further.
    for (const auto& data : waiting) {
        notifyOnce(data, HttpClientResult::REQUEST_CANCELLED);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelDone_ = generation;
    }
    changed_.notify_all();
}

void RequestProcessing::sweepCancelledTransfers() {
    std::vector<std::shared_ptr<MultiHttpClientData>> cancelled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = active_.begin(); it != active_.end();) {
            if (isCancelled(*it->second->getHttpRequestData())) {
                curl_multi_remove_handle(multi_.get(), it->first);
                cancelled.push_back(it->second);
                it = active_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& data : cancelled) {
        endRequest(data, HttpClientResult::REQUEST_CANCELLED, false);
    }
}

void RequestProcessing::checkTransfersAndNotifyListeners() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
        OXL_LOG_DEBUG(logger(), "Messages left to process: " << left);
        if (message->msg != CURLMSG_DONE) {
            OXL_LOG_WARN(logger(),
                         "Unidentified message type returned from curl_multi_info_read(): " << message->msg);
            continue;
        }
        // The message is gone once its handle leaves the multi handle.
        CURL* handle = message->easy_handle;
        const CURLcode code = message->data.result;
        std::shared_ptr<MultiHttpClientData> data;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (auto it = active_.find(handle); it != active_.end()) {
                data = std::move(it->second);
                active_.erase(it);
            }
        }
        const CURLMcode removed = curl_multi_remove_handle(multi_.get(), handle);
        if (removed != CURLM_OK) {
            OXL_LOG_ERROR(logger(),
                          "Unable to remove the easy handle from the CURL multi-handle: " << removed);
        }
        if (!data) {
            OXL_LOG_ERROR(logger(), "The internal data object was not found on the list.");
            continue;
        }
        finishTransfer(data, code);
    }
}

void RequestProcessing::finishTransfer(const std::shared_ptr<MultiHttpClientData>& data, CURLcode code) {
    const auto& requestData = data->getHttpRequestData();
    const HttpClientResult::Result result = CurlTransfer::evaluate(*data, code, *requestData);
    if (CurlTransfer::failOver(*data, code, result, *requestData, PERFORM_CALL)) {
        OXL_LOG_DEBUG(logger(), "Avoiding listener notification waiting for the failover request result.");
        if (!post(data)) {
            OXL_LOG_DEBUG(logger(), "The client is stopping; request " << requestData->formattedRequestID()
                                                                       << " is not failed over");
        }
        return;
    }
    CurlTransfer::readBack(*data, *requestData, result);
    requestData->returnEasyCURLConnection();
    CurlTransfer::finish(*data, requestData, result, PERFORM_CALL);
    notifyOnce(data, result);
}

void RequestProcessing::endRequest(const std::shared_ptr<MultiHttpClientData>& data,
                                   HttpClientResult::Result result, bool reportNetworkEvent) {
    const auto& requestData = data->getHttpRequestData();
    requestData->returnEasyCURLConnection();
    if (reportNetworkEvent) {
        CurlTransfer::finish(*data, requestData, result, PERFORM_CALL);
    } else {
        requestData->getWrapper().closeFile();
    }
    notifyOnce(data, result);
}

void RequestProcessing::notifyOnce(const std::shared_ptr<MultiHttpClientData>& data,
                                   HttpClientResult::Result result) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.erase(data->getHttpRequestData()->getRequestId());
    }
    if (data->claimNotification()) {
        notify(data, result);
    }
}

void RequestProcessing::notify(const std::shared_ptr<MultiHttpClientData>& data,
                               HttpClientResult::Result result) {
    const auto& requestData = data->getHttpRequestData();
    auto request = requestData->getRequest();
    auto listener = request ? request->getListener() : nullptr;
    if (!listener) {
        OXL_LOG_WARN(logger(), "An appropriate listener for the libCURL result is not available.");
        return;
    }
    const unsigned int id = requestData->getRequestId();
    Response& response = requestData->getResponse();
    if (result == HttpClientResult::SUCCESS) {
        curl_off_t received = 0;
        if (CURL* handle = handleOf(*data)) {
            curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received);
        }
        OXL_LOG_DEBUG(logger(), "Notifying listener of a completed transfer, request "
                                    << requestData->formattedRequestID() << " Http Response Code "
                                    << response.responseCode << ", response body "
                                    << (response.body ? response.body->size() : 0) << " bytes"
                                    << ", data received " << received << " bytes");
        CurlTransfer::notifyListener(*listener, *requestData, [id, &response](HttpClientListener& l) {
            l.onRequestCompleted(id, response);
        });
    } else {
        OXL_LOG_DEBUG(logger(), "Notifying listener of a failure for request "
                                    << requestData->formattedRequestID() << ": " << result);
        CurlTransfer::notifyListener(*listener, *requestData,
                                     [id, result](HttpClientListener& l) { l.onRequestFailed(id, result); });
    }
    response.wipeText();
}

void RequestProcessing::drainAll(HttpClientResult::Result result) {
    std::vector<std::shared_ptr<MultiHttpClientData>> lost;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Only the processing thread, or a caller after it has ended, gets here: the multi handle is free.
        for (const auto& [handle, data] : active_) {
            curl_multi_remove_handle(multi_.get(), handle);
        }
        active_.clear();
        pending_.clear();
        for (auto& [id, data] : held_) {
            lost.push_back(std::move(data));
        }
        held_.clear();
    }
    if (!lost.empty()) {
        OXL_LOG_WARN(logger(), lost.size() << " requests end unfinished: " << result);
    }
    for (const auto& data : lost) {
        endRequest(data, result, false);
    }
}

}  // namespace oxl::http

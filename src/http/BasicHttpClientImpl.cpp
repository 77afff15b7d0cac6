#include "oxl/http/BasicHttpClientImpl.h"

#include <curl/curl.h>

#include <exception>

#include "http/CurlTransfer.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpClientData.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

using Nature = oxl::common::Policy::PolicyNature;
using Enforcing = oxl::common::Policy::PolicyEnforcingResult;

std::string loggableUrlOf(const std::shared_ptr<Request>& request) {
    return request ? CurlHttpUtils::loggableUrl(*request) : std::string();
}

// The client's EDGE_USAGE policy, or null when it has none that this client can enforce.
std::shared_ptr<EdgePolicy> edgePolicyOf(const std::shared_ptr<oxl::common::Policy>& policy) {
    if (!policy || policy->getNature() != Nature::EDGE_USAGE) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<EdgePolicy>(policy);
}

void attachIpFamilyPolicy(const oxl::common::PolicyDriven& client, HttpRequestData& requestData) {
    auto policy = std::dynamic_pointer_cast<oxl::ip::IpFamilyPreferencePolicy>(
        client.getPolicy(Nature::IP_FAMILY_PREFERENCE));
    if (!policy) {
        OXL_LOG_WARN(logger(), "IP family policy not available.");
        return;
    }
    requestData.setIpFamilyPreferencePolicy(policy, client.policyFailureCanBeIgnored(policy));
}

// Returns the borrowed handle when the transfer leaves, whichever way it leaves.
class ConnectionReturn {
  public:
    explicit ConnectionReturn(HttpRequestData& requestData) : requestData_(requestData) {}
    ~ConnectionReturn() { requestData_.returnEasyCURLConnection(); }
    ConnectionReturn(const ConnectionReturn&) = delete;
    ConnectionReturn& operator=(const ConnectionReturn&) = delete;

  private:
    HttpRequestData& requestData_;
};

}  // namespace

BasicHttpClientImpl::BasicHttpClientImpl(std::shared_ptr<EdgeTransformer> edgeTransformer,
                                         std::shared_ptr<CertVerifier> certVerifier,
                                         std::shared_ptr<oxl::ThreadPool> threadPool,
                                         std::shared_ptr<HttpNetworkEventReporter> eventReporter)
    : BasicHttpClient({EdgePolicy::NEVER_USE_EDGE_POLICY,
                       oxl::common::FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY,
                       oxl::ip::IpFamilyPreferencePolicy::DUAL_STACK_POLICY},
                      false),
      clientData_(HttpClientData::build(std::move(eventReporter), std::move(edgeTransformer))),
      certVerifier_(std::move(certVerifier)),
      threadPool_(threadPool ? std::move(threadPool) : makeDefaultThreadPool()) {}

BasicHttpClientImpl::~BasicHttpClientImpl() = default;

std::shared_ptr<BasicHttpClientImpl> BasicHttpClientImpl::buildBasicHttpClientImpl(
    std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<CertVerifier> certVerifier,
    std::shared_ptr<oxl::ThreadPool> threadPool, std::shared_ptr<HttpNetworkEventReporter> eventReporter) {
    return std::shared_ptr<BasicHttpClientImpl>(
        new BasicHttpClientImpl(std::move(edgeTransformer), std::move(certVerifier), std::move(threadPool),
                                std::move(eventReporter)));
}

std::shared_ptr<oxl::ThreadPool> BasicHttpClientImpl::makeDefaultThreadPool() {
    return std::make_shared<oxl::ThreadPool>(THREAD_POOL_MIN_THREADS, THREAD_POOL_MAX_THREADS,
                                             THREAD_POOL_NAME, THREAD_POOL_IDLE_SECONDS);
}

std::shared_ptr<EasyCURLConnection> BasicHttpClientImpl::getEasyCURLConnection() const {
    return clientData_->getEasyCURLConnection();
}

void BasicHttpClientImpl::setCurlAnswerEvaluator(std::shared_ptr<CurlAnswerEvaluator> evaluator) {
    clientData_->setCurlAnswerEvaluator(std::move(evaluator));
}

HttpClientResult::Result BasicHttpClientImpl::execute(std::shared_ptr<Request> request, Response& response) {
    return executeWithFailover(std::move(request), {}, response, nullptr);
}

HttpClientResult::Result BasicHttpClientImpl::executeWithFailover(std::shared_ptr<Request> request,
                                                                  const std::deque<std::string>& failoverUrls,
                                                                  Response& response,
                                                                  std::vector<FailedUrlInfo>* failedUrls) {
    try {
        return executeUnguarded(request, failoverUrls, response, failedUrls);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The transfer to " << loggableUrlOf(request) << " failed: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "The transfer to " << loggableUrlOf(request) << " failed");
    }
    return HttpClientResult::UNKNOWN_ERROR;
}

HttpClientResult::Result BasicHttpClientImpl::executeUnguarded(const std::shared_ptr<Request>& request,
                                                               const std::deque<std::string>& failoverUrls,
                                                               Response& response,
                                                               std::vector<FailedUrlInfo>* failedUrls) {
    if (!request) {
        OXL_LOG_ERROR(logger(), "Request not set.");
        return HttpClientResult::URL_NOT_SET_ERROR;
    }
    auto requestData = std::make_shared<HttpRequestData>(request, certVerifier_);
    if (!failoverUrls.empty()) {
        requestData->setFailoverUrls(failoverUrls);
    }

    auto policy = getPolicy(Nature::EDGE_USAGE);
    if (!edgePolicyOf(policy)) {
        OXL_LOG_ERROR(logger(), "Edge policy not available");
        return HttpClientResult::POLICY_NOT_AVAILABLE_ERROR;
    }
    const bool canBeIgnored = policyFailureCanBeIgnored(policy);
    const auto enforced =
        CurlTransfer::enforceEdgePolicy(policy, canBeIgnored, requestData, clientData_->getEdgeTransformer());
    if (enforced != HttpClientResult::SUCCESS) {
        return enforced;
    }
    clientData_->setEdgePolicy(policy, canBeIgnored);
    attachIpFamilyPolicy(*this, *requestData);

    const auto result = performTransfer(clientData_, requestData);
    if (failedUrls != nullptr) {
        const auto failed = requestData->getFailedUrlInfo();
        failedUrls->insert(failedUrls->end(), failed.begin(), failed.end());
    }
    response = requestData->getResponse();
    requestData->getResponse().wipeText();
    return result;
}

HttpClientError::Error BasicHttpClientImpl::executeAsync(std::shared_ptr<Request> request,
                                                         unsigned int& requestId) {
    return enqueue(std::move(request), HTTPFileOperation::NONE, std::string(), requestId);
}

HttpClientError::Error BasicHttpClientImpl::downloadAsync(std::shared_ptr<Request> request,
                                                          const std::string& filePath,
                                                          unsigned int& requestId) {
    if (request) {
        request->getOptions()->method = HttpMethod::GET;
    }
    return enqueue(std::move(request), HTTPFileOperation::DOWNLOAD, filePath, requestId);
}

HttpClientError::Error BasicHttpClientImpl::uploadAsync(std::shared_ptr<Request> request,
                                                        const std::string& filePath,
                                                        unsigned int& requestId) {
    if (request) {
        request->getOptions()->method = HttpMethod::PUT;
    }
    return enqueue(std::move(request), HTTPFileOperation::UPLOAD, filePath, requestId);
}

HttpClientError::Error BasicHttpClientImpl::enqueue(std::shared_ptr<Request> request,
                                                    HTTPFileOperation::Method operation,
                                                    const std::string& filePath, unsigned int& requestId) {
    try {
        if (!request) {
            OXL_LOG_ERROR(logger(), "Request not set.");
            return HttpClientError::REQUEST_NOT_SET_ERROR;
        }
        if (operation != HTTPFileOperation::NONE && filePath.empty()) {
            OXL_LOG_ERROR(logger(),
                          "No file given for the " << operation << " of " << loggableUrlOf(request));
            return HttpClientError::INVALID_PARAMETER_ERROR;
        }
        if (!request->getListener()) {
            OXL_LOG_WARN(logger(), "Listener is not set for request: " << loggableUrlOf(request));
        }
        auto policy = getPolicy(Nature::EDGE_USAGE);
        if (!edgePolicyOf(policy)) {
            OXL_LOG_ERROR(logger(), "Edge policy not available");
            return HttpClientError::POLICY_NOT_AVAILABLE_ERROR;
        }
        const bool canBeIgnored = policyFailureCanBeIgnored(policy);
        clientData_->setEdgePolicy(policy, canBeIgnored);

        auto requestData =
            operation == HTTPFileOperation::NONE
                ? std::make_shared<HttpRequestData>(request, certVerifier_)
                : std::make_shared<HttpRequestData>(request, certVerifier_, 0.0, operation, filePath);
        requestId = requestData->getRequestId();
        attachIpFamilyPolicy(*this, *requestData);

        OXL_LOG_DEBUG(logger(), "Creating task...");
        auto task = std::make_shared<AsyncTask>(clientData_, requestData, policy, canBeIgnored);
        OXL_LOG_DEBUG(logger(), "Executing task...");
        threadPool_->enqueue(task);
        return HttpClientError::SUCCESS;
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(),
                      "Unable to queue the request to " << loggableUrlOf(request) << ": " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "Unable to queue the request to " << loggableUrlOf(request));
    }
    return HttpClientError::UNABLE_TO_PROCESS_REQUEST_ERROR;
}

HttpClientResult::Result BasicHttpClientImpl::performTransfer(
    const std::shared_ptr<HttpClientData>& clientData, const std::shared_ptr<HttpRequestData>& requestData) {
    if (!clientData || !requestData) {
        OXL_LOG_ERROR(logger(), "Internal object is NULL!");
        return HttpClientResult::UNKNOWN_ERROR;
    }
    auto request = requestData->getRequest();
    if (!request) {
        OXL_LOG_ERROR(logger(), "Request not set.");
        return HttpClientResult::URL_NOT_SET_ERROR;
    }
    auto options = request->getOptions();
    if (!options || options->url.empty()) {
        OXL_LOG_ERROR(logger(), "URL not set");
        return HttpClientResult::URL_NOT_SET_ERROR;
    }

    // A system proxy may need a PAC fetch and evaluation: not while holding the client's only handle.
    request->prepareProxy();
    clientData->provideEasyCURLConnection(*requestData);
    ConnectionReturn giveBack(*requestData);
    auto connection = requestData->getCurlConnection();
    if (!connection || !connection->isValid()) {
        OXL_LOG_ERROR(logger(), "No CURL connection available");
        return HttpClientResult::UNKNOWN_ERROR;
    }

    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    for (;;) {
        result = CurlTransfer::configure(*requestData);
        if (result != HttpClientResult::SUCCESS) {
            return result;
        }
        OXL_LOG_DEBUG(logger(),
                      "About to perform curl connection request " << requestData->formattedRequestID());
        const CURLcode code = curl_easy_perform(connection->getHandle());
        result = CurlTransfer::evaluate(*clientData, code, *requestData);
        if (!CurlTransfer::failOver(*clientData, code, result, *requestData)) {
            break;
        }
    }
    CurlTransfer::readBack(*clientData, *requestData, result);
    requestData->returnEasyCURLConnection();
    CurlTransfer::finish(*clientData, requestData, result);
    return result;
}

BasicHttpClientImpl::AsyncTask::AsyncTask(std::shared_ptr<HttpClientData> clientData,
                                          std::shared_ptr<HttpRequestData> requestData,
                                          std::shared_ptr<oxl::common::Policy> edgePolicy,
                                          bool edgePolicyFailureCanBeIgnored)
    : clientData_(std::move(clientData)),
      requestData_(std::move(requestData)),
      edgePolicy_(std::move(edgePolicy)),
      edgePolicyFailureCanBeIgnored_(edgePolicyFailureCanBeIgnored) {}

BasicHttpClientImpl::AsyncTask::~AsyncTask() {
    if (executed_ || !requestData_) {
        return;
    }
    OXL_LOG_WARN(logger(), "The Async task is going to be destroyed before its execution");
    auto request = requestData_->getRequest();
    auto listener = request ? request->getListener() : nullptr;
    if (!listener) {
        OXL_LOG_WARN(logger(), "Unable to report the task as lost, no listeners registered for this request");
        return;
    }
    const unsigned int id = requestData_->getRequestId();
    CurlTransfer::notifyListener(*listener, *requestData_, [id](HttpClientListener& l) {
        l.onRequestFailed(id, HttpClientResult::REQUEST_LOST);
    });
}

void BasicHttpClientImpl::AsyncTask::execute() {
    executed_ = true;
    if (!requestData_ || !clientData_) {
        OXL_LOG_ERROR(logger(), "Internal object is NULL!");
        return;
    }
    auto request = requestData_->getRequest();
    auto listener = request ? request->getListener() : nullptr;
    const unsigned int id = requestData_->getRequestId();
    auto fail = [&](HttpClientResult::Result result) {
        if (!listener) {
            OXL_LOG_WARN(logger(), "No listener is available to notify the client of the result.");
            return;
        }
        CurlTransfer::notifyListener(*listener, *requestData_,
                                     [id, result](HttpClientListener& l) { l.onRequestFailed(id, result); });
    };

    if (request && request->isCancelled()) {
        OXL_LOG_INFO(logger(), "request has been canceled, return.");
        fail(HttpClientResult::REQUEST_CANCELLED);
        return;
    }
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    try {
        if (request) {
            result = CurlTransfer::enforceEdgePolicy(edgePolicy_, edgePolicyFailureCanBeIgnored_,
                                                     requestData_, clientData_->getEdgeTransformer());
            if (result != HttpClientResult::SUCCESS) {
                fail(result);
                return;
            }
        }
        result = performTransfer(clientData_, requestData_);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The transfer of request " << requestData_->formattedRequestID()
                                                           << " failed: " << e.what());
        result = HttpClientResult::UNKNOWN_ERROR;
    }

    Response& response = requestData_->getResponse();
    if (!listener) {
        OXL_LOG_WARN(logger(),
                     "No listener is available to notify the client of the result. Result was " << result);
    } else if (result == HttpClientResult::SUCCESS) {
        OXL_LOG_DEBUG(logger(), "Notifying listener of a completed transfer for request "
                                    << requestData_->formattedRequestID()
                                    << ", response code: " << response.responseCode);
        CurlTransfer::notifyListener(*listener, *requestData_, [id, &response](HttpClientListener& l) {
            l.onRequestCompleted(id, response);
        });
    } else {
        OXL_LOG_DEBUG(logger(),
                      "Notifying listener of a failure for request " << requestData_->formattedRequestID());
        CurlTransfer::notifyListener(*listener, *requestData_,
                                     [id, result](HttpClientListener& l) { l.onRequestFailed(id, result); });
    }
    response.wipeText();
}

}  // namespace oxl::http

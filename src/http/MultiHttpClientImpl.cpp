#include "oxl/http/MultiHttpClientImpl.h"

#include <atomic>
#include <exception>

#include "http/RequestProcessing.h"
#include "oxl/common/FailureManagementPolicy.h"
#include "oxl/dns/DnsHostResolver.h"
#include "oxl/http/CurlAnswerEvaluator.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/MultiHttpClientData.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

using Nature = oxl::common::Policy::PolicyNature;

// Numbers the clients of the process for their thread names.
uint16_t nextClientNumber() {
    static std::atomic<uint16_t> counter{0};
    return ++counter;
}

std::string loggableUrlOf(const std::shared_ptr<Request>& request) {
    return request ? CurlHttpUtils::loggableUrl(*request) : std::string();
}
}  // namespace

MultiHttpClientImpl::MultiHttpClientImpl(std::shared_ptr<EdgeTransformer> edgeTransformer,
                                         std::shared_ptr<CertVerifier> certVerifier,
                                         std::shared_ptr<HttpNetworkEventReporter> eventReporter,
                                         std::shared_ptr<oxl::dns::DnsHostResolver> hostResolver)
    : MultiHttpClient({EdgePolicy::NEVER_USE_EDGE_POLICY,
                       oxl::common::FailureManagementPolicy::IGNORE_SOFT_FAILURE_POLICY,
                       oxl::ip::IpFamilyPreferencePolicy::DUAL_STACK_POLICY},
                      false),
      clientNumber_(nextClientNumber()),
      edgeTransformer_(std::move(edgeTransformer)),
      certVerifier_(std::move(certVerifier)),
      eventReporter_(std::move(eventReporter)),
      evaluator_(std::make_shared<CurlAnswerEvaluator>()),
      processing_(std::make_shared<RequestProcessing>(clientNumber_, std::move(hostResolver),
                                                      UNRESOLVED_HOST_TIMEOUT_SEC)) {
    OXL_LOG_INFO(logger(), "constructing new instance of MultiHttpClientImpl "
                               << RequestProcessing::threadName(PROCESSING_THREAD_NAME, clientNumber_));
    processing_->start();
}

std::shared_ptr<MultiHttpClientImpl> MultiHttpClientImpl::buildMultiHttpClientImpl(
    std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<CertVerifier> certVerifier,
    std::shared_ptr<HttpNetworkEventReporter> eventReporter) {
    return buildMultiHttpClientImpl(std::move(edgeTransformer), std::move(certVerifier),
                                    std::move(eventReporter), std::make_shared<oxl::dns::DnsHostResolver>());
}

std::shared_ptr<MultiHttpClientImpl> MultiHttpClientImpl::buildMultiHttpClientImpl(
    std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<CertVerifier> certVerifier,
    std::shared_ptr<HttpNetworkEventReporter> eventReporter,
    std::shared_ptr<oxl::dns::DnsHostResolver> hostResolver) {
    return std::shared_ptr<MultiHttpClientImpl>(
        new MultiHttpClientImpl(std::move(edgeTransformer), std::move(certVerifier), std::move(eventReporter),
                                std::move(hostResolver)));
}

MultiHttpClientImpl::~MultiHttpClientImpl() {
    OXL_LOG_DEBUG(logger(), "Destructor called.");
    try {
        processing_->stop();
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Stopping the processing failed: " << e.what());
    }
    OXL_LOG_DEBUG(logger(), "Destructor exit.");
}

void MultiHttpClientImpl::enableHttpPipelining() {
    processing_->setPipelining(true);
}

void MultiHttpClientImpl::disableHttpPipelining() {
    processing_->setPipelining(false);
}

HttpClientError::Error MultiHttpClientImpl::enqueueRequest(std::shared_ptr<Request> request,
                                                           unsigned int& requestId) {
    return enqueue(std::move(request), HTTPFileOperation::NONE, std::string(), {}, requestId);
}

HttpClientError::Error MultiHttpClientImpl::enqueueRequest(std::shared_ptr<Request> request,
                                                           const std::deque<std::string>& failoverUrls,
                                                           unsigned int& requestId) {
    return enqueue(std::move(request), HTTPFileOperation::NONE, std::string(), failoverUrls, requestId);
}

HttpClientError::Error MultiHttpClientImpl::enqueueDownloadRequest(std::shared_ptr<Request> request,
                                                                   const std::string& filePath,
                                                                   unsigned int& requestId) {
    return enqueue(std::move(request), HTTPFileOperation::DOWNLOAD, filePath, {}, requestId);
}

void MultiHttpClientImpl::cancelAllRequests() {
    OXL_LOG_INFO(logger(), "Canceling all requests.");
    processing_->cancelAll();
}

void MultiHttpClientImpl::setCurlAnswerEvaluator(std::shared_ptr<CurlAnswerEvaluator> evaluator) {
    std::lock_guard<std::mutex> lock(evaluatorMutex_);
    evaluator_ = evaluator ? std::move(evaluator) : std::make_shared<CurlAnswerEvaluator>();
}

std::size_t MultiHttpClientImpl::getHeldRequestCount() const {
    return processing_->heldCount();
}

std::size_t MultiHttpClientImpl::getActiveTransferCount() const {
    return processing_->activeCount();
}

HttpClientError::Error MultiHttpClientImpl::enqueue(std::shared_ptr<Request> request,
                                                    HTTPFileOperation::Method operation,
                                                    const std::string& filePath,
                                                    const std::deque<std::string>& failoverUrls,
                                                    unsigned int& requestId) {
    try {
        if (!processing_->isAvailable()) {
            OXL_LOG_ERROR(logger(), "Unable to process the enqueue request as the class is not available.");
            return HttpClientError::UNABLE_TO_PROCESS_REQUEST_ERROR;
        }
        if (!request) {
            OXL_LOG_ERROR(logger(), "Request not set.");
            return HttpClientError::REQUEST_NOT_SET_ERROR;
        }
        auto options = request->getOptions();
        if (!options || options->url.empty()) {
            OXL_LOG_ERROR(logger(), "URL not set");
            return HttpClientError::URL_NOT_SET_ERROR;
        }
        if (operation == HTTPFileOperation::DOWNLOAD) {
            if (filePath.empty()) {
                OXL_LOG_ERROR(logger(), "No file given for the download of " << loggableUrlOf(request));
                return HttpClientError::INVALID_PARAMETER_ERROR;
            }
            options->method = HttpMethod::GET;
        }
        OXL_LOG_DEBUG(logger(), "New request: " << loggableUrlOf(request));
        if (!request->getListener()) {
            OXL_LOG_WARN(logger(), "Listener is not set for request: " << loggableUrlOf(request));
        }

        auto policy = getPolicy(Nature::EDGE_USAGE);
        if (!std::dynamic_pointer_cast<EdgePolicy>(policy)) {
            OXL_LOG_ERROR(logger(), "Edge policy not available");
            return HttpClientError::POLICY_NOT_AVAILABLE_ERROR;
        }

        auto requestData =
            operation == HTTPFileOperation::NONE
                ? std::make_shared<HttpRequestData>(request, certVerifier_)
                : std::make_shared<HttpRequestData>(request, certVerifier_, 0.0, operation, filePath);
        if (!failoverUrls.empty()) {
            requestData->setFailoverUrls(failoverUrls);
        }
        std::shared_ptr<CurlAnswerEvaluator> evaluator;
        {
            std::lock_guard<std::mutex> lock(evaluatorMutex_);
            evaluator = evaluator_;
        }
        auto data = MultiHttpClientData::build(eventReporter_, edgeTransformer_, requestData, evaluator);
        data->shareMissingReporterFlag(missingReporterSeen_);
        data->setEdgePolicy(policy, policyFailureCanBeIgnored(policy));
        auto ipFamily = std::dynamic_pointer_cast<oxl::ip::IpFamilyPreferencePolicy>(
            getPolicy(Nature::IP_FAMILY_PREFERENCE));
        if (ipFamily) {
            requestData->setIpFamilyPreferencePolicy(ipFamily, policyFailureCanBeIgnored(ipFamily));
        } else {
            OXL_LOG_WARN(logger(), "IP family policy not available.");
        }

        requestId = requestData->getRequestId();
        OXL_LOG_DEBUG(logger(), "Adding data to the queue for request " << requestData->formattedRequestID());
        if (!processing_->submit(data)) {
            OXL_LOG_ERROR(logger(), "Unable to process the enqueue request as the class is not available.");
            return HttpClientError::UNABLE_TO_PROCESS_REQUEST_ERROR;
        }
        return HttpClientError::SUCCESS;
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(),
                      "Unable to queue the request to " << loggableUrlOf(request) << ": " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "Unable to queue the request to " << loggableUrlOf(request));
    }
    return HttpClientError::UNABLE_TO_PROCESS_REQUEST_ERROR;
}

}  // namespace oxl::http

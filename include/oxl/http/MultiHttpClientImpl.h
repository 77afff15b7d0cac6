// The multi client: requests are policed and configured on the enqueue pool ("MHttp-Q-xxxx"), then run
// together over one libcurl multi handle on the processing thread ("MHttp-P-xxxx"), which reads the results,
// fails over to the next URL after a server failure and tells the listeners.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "oxl/http/HTTPFileOperation.h"
#include "oxl/http/MultiHttpClient.h"

namespace oxl::dns {
class DnsHostResolver;
}

namespace oxl::http {

class CertVerifier;
class CurlAnswerEvaluator;
class EdgeTransformer;
class HttpNetworkEventReporter;
class RequestProcessing;

class MultiHttpClientImpl : public MultiHttpClient {
  public:
    static constexpr const char* PROCESSING_THREAD_NAME = "MHttp-P";
    static constexpr const char* ENQUEUE_POOL_NAME = "MHttp-Q";
    static constexpr unsigned int ENQUEUE_POOL_MIN_THREADS = 1;
    static constexpr unsigned int ENQUEUE_POOL_MAX_THREADS = 5;
    static constexpr unsigned int ENQUEUE_POOL_IDLE_SECONDS = 60;
    static constexpr unsigned int UNRESOLVED_HOST_TIMEOUT_SEC = 120;

    // Starts with NEVER_USE_EDGE_POLICY, IGNORE_SOFT_FAILURE_POLICY and DUAL_STACK_POLICY, then the process
    // defaults of that moment. Host names are checked with a new default resolver. Any argument may be
    // null, as for the basic client.
    static std::shared_ptr<MultiHttpClientImpl> buildMultiHttpClientImpl(
        std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<CertVerifier> certVerifier,
        std::shared_ptr<HttpNetworkEventReporter> eventReporter);
    // With the resolver the unresolved-host cache asks (a null one treats every host name as unresolvable).
    static std::shared_ptr<MultiHttpClientImpl> buildMultiHttpClientImpl(
        std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<CertVerifier> certVerifier,
        std::shared_ptr<HttpNetworkEventReporter> eventReporter,
        std::shared_ptr<oxl::dns::DnsHostResolver> hostResolver);

    // Stops the processing thread and the enqueue pool and waits for both; requests still held are
    // reported REQUEST_LOST before it returns.
    ~MultiHttpClientImpl() override;

    void enableHttpPipelining() override;
    void disableHttpPipelining() override;
    HttpClientError::Error enqueueRequest(std::shared_ptr<Request> request, unsigned int& requestId) override;
    HttpClientError::Error enqueueDownloadRequest(std::shared_ptr<Request> request,
                                                  const std::string& filePath,
                                                  unsigned int& requestId) override;
    void cancelAllRequests() override;

    // enqueueRequest, trying the failover URLs in order after a server failure (see CurlAnswerEvaluator).
    HttpClientError::Error enqueueRequest(std::shared_ptr<Request> request,
                                          const std::deque<std::string>& failoverUrls,
                                          unsigned int& requestId);

    // Used for requests queued from now on.
    void setCurlAnswerEvaluator(std::shared_ptr<CurlAnswerEvaluator> evaluator);

    // The number in the thread names ("MHttp-P-" followed by it in four hexadecimal digits).
    uint16_t getClientNumber() const { return clientNumber_; }
    // Requests accepted and not yet reported to their listener.
    std::size_t getHeldRequestCount() const;
    // Transfers currently added to the multi handle.
    std::size_t getActiveTransferCount() const;

  private:
    MultiHttpClientImpl(std::shared_ptr<EdgeTransformer> edgeTransformer,
                        std::shared_ptr<CertVerifier> certVerifier,
                        std::shared_ptr<HttpNetworkEventReporter> eventReporter,
                        std::shared_ptr<oxl::dns::DnsHostResolver> hostResolver);

    HttpClientError::Error enqueue(std::shared_ptr<Request> request, HTTPFileOperation::Method operation,
                                   const std::string& filePath, const std::deque<std::string>& failoverUrls,
                                   unsigned int& requestId);

    const uint16_t clientNumber_;
    std::shared_ptr<EdgeTransformer> edgeTransformer_;
    std::shared_ptr<CertVerifier> certVerifier_;
    std::shared_ptr<HttpNetworkEventReporter> eventReporter_;
    // Set by the first transfer that found no reporter: the client says so loudly once.
    std::shared_ptr<std::atomic<bool>> missingReporterSeen_ = std::make_shared<std::atomic<bool>>(false);
    mutable std::mutex evaluatorMutex_;
    std::shared_ptr<CurlAnswerEvaluator> evaluator_;
    std::shared_ptr<RequestProcessing> processing_;
};

}  // namespace oxl::http

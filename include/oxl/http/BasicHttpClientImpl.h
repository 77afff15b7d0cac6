// The basic client: edge policy, transfer configuration, libcurl perform, failover over the request's
// failover URLs, response read-back and network events.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "oxl/http/BasicHttpClient.h"
#include "oxl/http/FailedUrlInfo.h"
#include "oxl/http/HTTPFileOperation.h"
#include "oxl/runtime/Task.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::http {

class CertVerifier;
class CurlAnswerEvaluator;
class EasyCURLConnection;
class EdgeTransformer;
class HttpClientData;
class HttpNetworkEventReporter;
class HttpRequestData;

class BasicHttpClientImpl : public BasicHttpClient {
  public:
    static constexpr const char* THREAD_POOL_NAME = "AsyncHttpReq";
    static constexpr unsigned int THREAD_POOL_MIN_THREADS = 0;
    static constexpr unsigned int THREAD_POOL_MAX_THREADS = 10;
    static constexpr unsigned int THREAD_POOL_IDLE_SECONDS = 60;

    // Starts with NEVER_USE_EDGE_POLICY, IGNORE_SOFT_FAILURE_POLICY and DUAL_STACK_POLICY, then the process
    // defaults of that moment; later default changes do not reach the client. Any argument may be null: a
    // null pool is replaced by a new "AsyncHttpReq" pool (0 to 10 threads, 60 s idle); without a verifier
    // every TLS handshake fails; without a transformer no request can be rewritten for the edge; without a
    // reporter no network event is sent.
    static std::shared_ptr<BasicHttpClientImpl> buildBasicHttpClientImpl(
        std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<CertVerifier> certVerifier,
        std::shared_ptr<oxl::ThreadPool> threadPool, std::shared_ptr<HttpNetworkEventReporter> eventReporter);
    // A pool as the client makes it for itself.
    static std::shared_ptr<oxl::ThreadPool> makeDefaultThreadPool();

    ~BasicHttpClientImpl() override;

    HttpClientResult::Result execute(std::shared_ptr<Request> request, Response& response) override;
    HttpClientError::Error executeAsync(std::shared_ptr<Request> request, unsigned int& requestId) override;
    HttpClientError::Error downloadAsync(std::shared_ptr<Request> request, const std::string& filePath,
                                         unsigned int& requestId) override;
    HttpClientError::Error uploadAsync(std::shared_ptr<Request> request, const std::string& filePath,
                                       unsigned int& requestId) override;

    // execute, trying the failover URLs in order after a server failure (see CurlAnswerEvaluator). The
    // URLs that failed, with their results, are appended to `failedUrls` when it is given.
    HttpClientResult::Result executeWithFailover(std::shared_ptr<Request> request,
                                                 const std::deque<std::string>& failoverUrls,
                                                 Response& response,
                                                 std::vector<FailedUrlInfo>* failedUrls = nullptr);

    std::shared_ptr<EasyCURLConnection> getEasyCURLConnection() const;
    void setCurlAnswerEvaluator(std::shared_ptr<CurlAnswerEvaluator> evaluator);
    std::shared_ptr<oxl::ThreadPool> getThreadPool() const { return threadPool_; }
    std::shared_ptr<HttpClientData> getClientData() const { return clientData_; }

    // One transfer of an already policed request over the client data's easy handle (borrowed and always
    // returned), with failover, read-back and the network event. Also used for the multi client's single
    // transfers.
    static HttpClientResult::Result performTransfer(const std::shared_ptr<HttpClientData>& clientData,
                                                    const std::shared_ptr<HttpRequestData>& requestData);

    // Runs one queued transfer on a pool thread and tells the request's listener how it ended.
    class AsyncTask : public oxl::Task {
      public:
        AsyncTask(std::shared_ptr<HttpClientData> clientData, std::shared_ptr<HttpRequestData> requestData,
                  std::shared_ptr<oxl::common::Policy> edgePolicy, bool edgePolicyFailureCanBeIgnored);
        // A task dropped before it ran reports REQUEST_LOST.
        ~AsyncTask() override;
        void execute() override;
        bool wasExecuted() const { return executed_; }

      private:
        std::shared_ptr<HttpClientData> clientData_;
        std::shared_ptr<HttpRequestData> requestData_;
        std::shared_ptr<oxl::common::Policy> edgePolicy_;
        bool edgePolicyFailureCanBeIgnored_;
        bool executed_ = false;
    };

  private:
    BasicHttpClientImpl(std::shared_ptr<EdgeTransformer> edgeTransformer,
                        std::shared_ptr<CertVerifier> certVerifier,
                        std::shared_ptr<oxl::ThreadPool> threadPool,
                        std::shared_ptr<HttpNetworkEventReporter> eventReporter);

    HttpClientError::Error enqueue(std::shared_ptr<Request> request, HTTPFileOperation::Method operation,
                                   const std::string& filePath, unsigned int& requestId);
    HttpClientResult::Result executeUnguarded(const std::shared_ptr<Request>& request,
                                              const std::deque<std::string>& failoverUrls, Response& response,
                                              std::vector<FailedUrlInfo>* failedUrls);

    std::shared_ptr<HttpClientData> clientData_;
    std::shared_ptr<CertVerifier> certVerifier_;
    std::shared_ptr<oxl::ThreadPool> threadPool_;
};

}  // namespace oxl::http

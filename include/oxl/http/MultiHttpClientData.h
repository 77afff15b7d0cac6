// The state of one request of the multi client: its request data and its own easy handle, with the edge
// hooks, the edge policy in force and the answer evaluator of the client that queued it. The handle is made
// when the request is first configured (on the enqueue pool), not when the caller queues it.
#pragma once

#include <atomic>
#include <memory>

#include "oxl/http/HttpClientData.h"

namespace oxl::http {

class MultiHttpClientData : public HttpClientData {
  public:
    // A new easy handle for the request; a null evaluator means the default one.
    static std::shared_ptr<MultiHttpClientData> build(
        std::shared_ptr<HttpNetworkEventReporter> eventReporter,
        std::shared_ptr<EdgeTransformer> edgeTransformer, std::shared_ptr<HttpRequestData> requestData,
        std::shared_ptr<CurlAnswerEvaluator> evaluator = nullptr);
    ~MultiHttpClientData() override;

    const std::shared_ptr<HttpRequestData>& getHttpRequestData() const { return requestData_; }

    // Lends the request's own handle to its request data, making it first if needed (never waits: no
    // other transfer uses it).
    void provideEasyCURLConnection();
    void provideEasyCURLConnection(HttpRequestData& requestData) override;
    // The request's own handle; null before the first provideEasyCURLConnection. Only the thread that
    // configures or runs the request reads it.
    const std::shared_ptr<EasyCURLConnection>& getOwnConnection() const { return ownConnection_; }

    // True for the first caller only: whoever gets true tells the listener how the request ended, so that
    // each request is reported exactly once whichever thread finishes it.
    bool claimNotification() { return !notified_.exchange(true); }
    bool isNotificationClaimed() const { return notified_.load(); }

  private:
    MultiHttpClientData(std::shared_ptr<HttpNetworkEventReporter> eventReporter,
                        std::shared_ptr<EdgeTransformer> edgeTransformer,
                        std::shared_ptr<HttpRequestData> requestData,
                        std::shared_ptr<CurlAnswerEvaluator> evaluator);

    std::shared_ptr<HttpRequestData> requestData_;
    // Declared after the request data so that it is cleaned up first: the handle's callbacks point into
    // the request data.
    std::shared_ptr<EasyCURLConnection> ownConnection_;
    std::atomic<bool> notified_{false};
};

}  // namespace oxl::http

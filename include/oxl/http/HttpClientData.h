// Per-client state shared by the client and its transfers: the client's single easy handle (lent to one
// transfer at a time), the edge hooks, the edge policy in force and the answer evaluator.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "oxl/common/Policy.h"
#include "oxl/runtime/Event.h"

namespace oxl::http {

class CurlAnswerEvaluator;
class EasyCURLConnection;
class EdgeTransformer;
class HttpNetworkEventReporter;
class HttpRequestData;

class HttpClientData : public std::enable_shared_from_this<HttpClientData> {
  public:
    // With a new easy handle and the default answer evaluator.
    static std::shared_ptr<HttpClientData> build(std::shared_ptr<HttpNetworkEventReporter> reporter,
                                                 std::shared_ptr<EdgeTransformer> transformer);
    virtual ~HttpClientData();
    HttpClientData(const HttpClientData&) = delete;
    HttpClientData& operator=(const HttpClientData&) = delete;

    std::shared_ptr<HttpNetworkEventReporter> getEventReporter() const { return reporter_; }
    std::shared_ptr<EdgeTransformer> getEdgeTransformer() const { return transformer_; }

    void setEdgePolicy(std::shared_ptr<oxl::common::Policy> policy, bool canBeIgnored);
    std::shared_ptr<oxl::common::Policy> getEdgePolicy() const;
    bool isEdgeUsagePolicyIgnorable() const;

    std::shared_ptr<CurlAnswerEvaluator> getCurlAnswerEvaluator() const;
    void setCurlAnswerEvaluator(std::shared_ptr<CurlAnswerEvaluator> evaluator);

    std::shared_ptr<EasyCURLConnection> getEasyCURLConnection() const { return connection_; }

    // True the first time it is asked, false ever after: a client without an event reporter says so
    // loudly once, not on every transfer.
    bool firstTransferWithoutReporter() const { return !missingReporterSeen_->exchange(true); }
    // For data built per transfer (the multi client): the flag of the client that builds it.
    void shareMissingReporterFlag(std::shared_ptr<std::atomic<bool>> flag) {
        if (flag) {
            missingReporterSeen_ = std::move(flag);
        }
    }

    // Lends the handle to the request, waiting while another transfer holds it. Nothing happens when the
    // request already holds one.
    virtual void provideEasyCURLConnection(HttpRequestData& requestData);
    // The borrowed handle came back.
    virtual void onEasyCURLConnectionReturned();

  protected:
    HttpClientData(std::shared_ptr<HttpNetworkEventReporter> reporter,
                   std::shared_ptr<EdgeTransformer> transformer,
                   std::shared_ptr<EasyCURLConnection> connection,
                   std::shared_ptr<CurlAnswerEvaluator> evaluator);

  private:
    std::shared_ptr<HttpNetworkEventReporter> reporter_;
    std::shared_ptr<EdgeTransformer> transformer_;
    mutable std::mutex mutex_;
    std::shared_ptr<oxl::common::Policy> edgePolicy_;
    bool edgePolicyCanBeIgnored_ = false;
    std::shared_ptr<CurlAnswerEvaluator> evaluator_;
    std::shared_ptr<EasyCURLConnection> connection_;
    // Signalled while the connection is free.
    oxl::Event connectionFree_{true};
    std::shared_ptr<std::atomic<bool>> missingReporterSeen_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace oxl::http

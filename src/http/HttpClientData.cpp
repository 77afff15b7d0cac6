#include "oxl/http/HttpClientData.h"

#include "oxl/http/CurlAnswerEvaluator.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

std::shared_ptr<HttpClientData> HttpClientData::build(std::shared_ptr<HttpNetworkEventReporter> reporter,
                                                      std::shared_ptr<EdgeTransformer> transformer) {
    return std::shared_ptr<HttpClientData>(new HttpClientData(std::move(reporter), std::move(transformer),
                                                              std::make_shared<EasyCURLConnection>(),
                                                              std::make_shared<CurlAnswerEvaluator>()));
}

HttpClientData::HttpClientData(std::shared_ptr<HttpNetworkEventReporter> reporter,
                               std::shared_ptr<EdgeTransformer> transformer,
                               std::shared_ptr<EasyCURLConnection> connection,
                               std::shared_ptr<CurlAnswerEvaluator> evaluator)
    : reporter_(std::move(reporter)),
      transformer_(std::move(transformer)),
      evaluator_(std::move(evaluator)),
      connection_(std::move(connection)) {
    // Free until the first transfer borrows it.
    connectionFree_.set();
}

HttpClientData::~HttpClientData() = default;

void HttpClientData::setEdgePolicy(std::shared_ptr<oxl::common::Policy> policy, bool canBeIgnored) {
    std::lock_guard<std::mutex> lock(mutex_);
    edgePolicy_ = std::move(policy);
    edgePolicyCanBeIgnored_ = canBeIgnored;
}

std::shared_ptr<oxl::common::Policy> HttpClientData::getEdgePolicy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return edgePolicy_;
}

bool HttpClientData::isEdgeUsagePolicyIgnorable() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return edgePolicyCanBeIgnored_;
}

std::shared_ptr<CurlAnswerEvaluator> HttpClientData::getCurlAnswerEvaluator() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return evaluator_;
}

void HttpClientData::setCurlAnswerEvaluator(std::shared_ptr<CurlAnswerEvaluator> evaluator) {
    std::lock_guard<std::mutex> lock(mutex_);
    evaluator_ = std::move(evaluator);
}

void HttpClientData::provideEasyCURLConnection(HttpRequestData& requestData) {
    if (requestData.getCurlConnection()) {
        OXL_LOG_DEBUG(logger(), "The provided consumer already owns a curl connection");
        return;
    }
    connectionFree_.wait();
    requestData.consumeEasyCURLConnection(connection_, shared_from_this());
}

void HttpClientData::onEasyCURLConnectionReturned() {
    connectionFree_.set();
}

}  // namespace oxl::http

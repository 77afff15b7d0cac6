#include "oxl/http/MultiHttpClientData.h"

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

std::shared_ptr<MultiHttpClientData> MultiHttpClientData::build(
    std::shared_ptr<HttpNetworkEventReporter> eventReporter, std::shared_ptr<EdgeTransformer> edgeTransformer,
    std::shared_ptr<HttpRequestData> requestData, std::shared_ptr<CurlAnswerEvaluator> evaluator) {
    return std::shared_ptr<MultiHttpClientData>(
        new MultiHttpClientData(std::move(eventReporter), std::move(edgeTransformer), std::move(requestData),
                                evaluator ? std::move(evaluator) : std::make_shared<CurlAnswerEvaluator>()));
}

MultiHttpClientData::MultiHttpClientData(std::shared_ptr<HttpNetworkEventReporter> eventReporter,
                                         std::shared_ptr<EdgeTransformer> edgeTransformer,
                                         std::shared_ptr<HttpRequestData> requestData,
                                         std::shared_ptr<CurlAnswerEvaluator> evaluator)
    : HttpClientData(std::move(eventReporter), std::move(edgeTransformer), nullptr, std::move(evaluator)),
      requestData_(std::move(requestData)) {}

MultiHttpClientData::~MultiHttpClientData() {
    if (requestData_) {
        requestData_->returnEasyCURLConnection();
    }
}

void MultiHttpClientData::provideEasyCURLConnection() {
    if (requestData_) {
        provideEasyCURLConnection(*requestData_);
    }
}

void MultiHttpClientData::provideEasyCURLConnection(HttpRequestData& requestData) {
    if (requestData.getCurlConnection()) {
        OXL_LOG_DEBUG(logger(), "The provided consumer already owns a curl connection");
        return;
    }
    if (!ownConnection_) {
        ownConnection_ = std::make_shared<EasyCURLConnection>();
    }
    requestData.consumeEasyCURLConnection(ownConnection_, shared_from_this());
}

}  // namespace oxl::http

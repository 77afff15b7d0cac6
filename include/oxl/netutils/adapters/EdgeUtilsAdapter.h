// Lets the HTTP client rewrite requests through the edge utilities: an internal URL becomes one URL per
// HTTP edge server (the first tried first, the others as failover URLs), with the edge session's cookies
// and the request's own cookies rewritten for the edge host.
#pragma once

#include <memory>
#include <string>

#include "oxl/edge/EdgeUtils.h"
#include "oxl/http/EdgeTransformer.h"

namespace oxl::netutils::adapters {

class EdgeUtilsAdapter : public oxl::http::EdgeTransformer {
  public:
    // Over the process-wide EdgeUtils instance.
    EdgeUtilsAdapter();
    explicit EdgeUtilsAdapter(std::shared_ptr<oxl::edge::EdgeUtils> edgeUtils);

    TransformRequestResult::Result transformRequest(oxl::http::HttpRequestData& requestData) override;
    TransformRequestResult::Result transformRequestUsingRequestOAuthToken(
        oxl::http::HttpRequestData& requestData) override;
    TransformRequestResult::Result transformRequestUsingXEdgeAuth(
        oxl::http::HttpRequestData& requestData) override;
    TransformRequestResult::Result removeTransformedCookies(oxl::http::Response& response,
                                                            const std::string& url) override;
    // True when the path of the request's URL differs from the one it was made with.
    bool isRequestTransformed(const oxl::http::RequestWrapper& wrapper) override;

    static TransformRequestResult::Result mapUrlResult(oxl::edge::EdgeUtils::Result result);
    static TransformRequestResult::Result mapCookieResult(oxl::edge::EdgeUtils::Result result);

  private:
    TransformRequestResult::Result transform(oxl::http::HttpRequestData& requestData);

    std::shared_ptr<oxl::edge::EdgeUtils> edgeUtils_;
};

}  // namespace oxl::netutils::adapters

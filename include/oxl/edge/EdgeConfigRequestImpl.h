// The edge-configuration request over an EdgeConfigHttpClient: validates the parameters, builds the URL,
// maps the transfer's outcome and parses the answer. Re-entrant.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "oxl/edge/EdgeConfigHttpClient.h"
#include "oxl/edge/EdgeConfigRequest.h"
#include "oxl/edge/EdgeConfigResponse.h"

namespace oxl::edge {

class EdgeConfigRequestImpl : public EdgeConfigRequest {
  public:
    explicit EdgeConfigRequestImpl(std::shared_ptr<EdgeConfigHttpClient> httpClient);

    Result execute(const EdgeConfigParams& params, EdgeConfig& config) override;

    // "https://HOST:PORT/<Base64url domain>/get_edge_config?service_name=A&service_name=B", or
    // ".../get_edge_refresh[?ttl=0]" for a refresh. Service names go in as they are. Also recorded with
    // the diagnostics library.
    static std::string createRequestUrl(const EdgeConfigParams& params);

    // How much of an answer is parsed at most (EdgeConfigResponse::Limits' defaults unless set); applies to
    // requests started afterwards.
    void setResponseLimits(const EdgeConfigResponse::Limits& limits);
    EdgeConfigResponse::Limits getResponseLimits() const;

  private:
    static bool validate(const EdgeConfigParams& params);
    Result run(const EdgeConfigParams& params, EdgeConfig& config);

    std::shared_ptr<EdgeConfigHttpClient> httpClient_;
    mutable std::mutex limitsMutex_;
    EdgeConfigResponse::Limits limits_;
};

}  // namespace oxl::edge

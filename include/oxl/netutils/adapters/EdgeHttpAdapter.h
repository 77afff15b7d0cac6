// Runs the edge-configuration request's transfers on the library's basic HTTP client.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "oxl/edge/EdgeConfigHttpClient.h"
#include "oxl/http/HttpClientResult.h"

namespace oxl::http {
class BasicHttpClient;
}

namespace oxl::netutils::adapters {

// EdgeConfigHttpClient::Result prints here as in oxl::edge.
using oxl::edge::operator<<;

class EdgeHttpAdapter : public oxl::edge::EdgeConfigHttpClient {
  public:
    // The "User-Agent" the edge sees.
    static constexpr const char* CLIENT_IDENTIFIER = "Quillo-Win";
    // Limits of one configuration transfer, in milliseconds.
    static constexpr long CONNECTION_TIMEOUT_MS = 30000;
    static constexpr long TRANSFER_TIMEOUT_MS = 60000;

    EdgeHttpAdapter();
    ~EdgeHttpAdapter() override;

    // One HTTPS GET of request.url: bearer authorization with the OAuth token when there is one, else basic
    // authorization; the "X-Auth" cookie when set. The response carries one cookie for each Set-Cookie
    // header of the answer, in header order: also a cookie set again unchanged, and a cookie the edge
    // cleared (with an expiry in the past); never the cookie sent along unless the edge set it again.
    Result execute(const oxl::edge::HttpClientRequest& request,
                   oxl::edge::HttpClientResponse& response) override;

    // Replaces the basic client made on first use.
    void setCustomHttpClientForTesting(std::shared_ptr<oxl::http::BasicHttpClient> client);

    static Result mapResult(oxl::http::HttpClientResult::Result result);

  private:
    std::shared_ptr<oxl::http::BasicHttpClient> client();

    std::mutex mutex_;
    std::shared_ptr<oxl::http::BasicHttpClient> client_;
};

}  // namespace oxl::netutils::adapters

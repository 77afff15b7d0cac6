// Runs the edge-configuration request's transfers on the library's basic HTTP client.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "oxl/edge/EdgeConfigHttpClient.h"
#include "oxl/http/HttpClientResult.h"
#include "oxl/runtime/TestHook.h"

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
    // Largest answer body accepted, in bytes. A real configuration is a few kilobytes; a longer body ends
    // the transfer with RESPONSE_TOO_LARGE instead of being read into memory and parsed.
    static constexpr std::size_t DEFAULT_MAX_RESPONSE_BODY_SIZE = 4 * 1024 * 1024;

    EdgeHttpAdapter();
    ~EdgeHttpAdapter() override;

    // One HTTPS GET of request.url: bearer authorization with the OAuth token when there is one, else basic
    // authorization; the "X-Auth" cookie when set. The response carries one cookie for each Set-Cookie
    // header of the answer, in header order: also a cookie set again unchanged, and a cookie the edge
    // cleared (with an expiry in the past); never the cookie sent along unless the edge set it again.
    Result execute(const oxl::edge::HttpClientRequest& request,
                   oxl::edge::HttpClientResponse& response) override;

    // 0 lifts the limit. Applies to transfers started afterwards.
    void setMaxResponseBodySize(std::size_t bytes) { maxResponseBodySize_ = bytes; }
    std::size_t getMaxResponseBodySize() const { return maxResponseBodySize_; }

    // Replaces the basic client made on first use.
    OXL_TEST_HOOK void setCustomHttpClientForTesting(std::shared_ptr<oxl::http::BasicHttpClient> client);

    static Result mapResult(oxl::http::HttpClientResult::Result result);

  private:
    std::shared_ptr<oxl::http::BasicHttpClient> client();

    std::mutex mutex_;
    std::shared_ptr<oxl::http::BasicHttpClient> client_;
    std::atomic<std::size_t> maxResponseBodySize_{DEFAULT_MAX_RESPONSE_BODY_SIZE};
};

}  // namespace oxl::netutils::adapters

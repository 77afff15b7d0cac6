// Pieces shared by the edge commands of the oxlnet tool: option values, secrets from standard input, and
// the printing of a configuration (cookies by name, domain, path and expiry, never their values).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>

#include "oxl/edge/EdgeConfig.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/runtime/SecureString.h"

namespace oxlnet {

// Longest secret accepted on standard input.
constexpr std::size_t MAX_SECRET_BYTES = 4096;

// 1 to 65535, digits only.
bool parsePort(const std::string& text, unsigned int& port);
// "HOST:PORT:ADDR" pinned for every transfer of the process; ADDR may be an IPv6 literal, bracketed or not.
bool pinResolve(const std::string& entry);
// One line of standard input without its line ending, at most MAX_SECRET_BYTES; every clear copy is wiped.
// False (with the reason in `problem`) for nothing, an empty line or a longer one.
bool readSecret(oxl::SecureString& secret, std::string& problem);
// "2024-01-31T12:00:00Z".
std::string utc(long seconds);
void printConfig(std::ostream& out, const oxl::edge::EdgeConfig& config);
// Asks for the edge configuration the way a host does (getEdgeConfigurationAsync) and waits for the
// listener's answer. `first` is the immediate answer and `requestId` the id of the queued request (0 when
// answered at once). INTERNAL_ERROR when no answer came in time.
oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult fetchConfiguration(
    oxl::edge::GlobalEdgeState& state, std::chrono::seconds timeout,
    oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult::Result& first,
    oxl::edge::GlobalEdgeState::RequestId& requestId);
// The configuration's "X-Auth" cookie, or an empty one.
oxl::common::Cookie xAuthCookie(const oxl::edge::EdgeConfig& config);

// Passes everything to another transformer (the edge adapter) and remembers where the last rewritten
// request was sent first, so that a command can show it.
class ReportingTransformer : public oxl::http::EdgeTransformer {
  public:
    explicit ReportingTransformer(std::shared_ptr<oxl::http::EdgeTransformer> inner)
        : inner_(std::move(inner)) {}
    TransformRequestResult::Result transformRequest(oxl::http::HttpRequestData& data) override {
        return note(data, inner_->transformRequest(data));
    }
    TransformRequestResult::Result transformRequestUsingRequestOAuthToken(
        oxl::http::HttpRequestData& data) override {
        return note(data, inner_->transformRequestUsingRequestOAuthToken(data));
    }
    TransformRequestResult::Result transformRequestUsingXEdgeAuth(oxl::http::HttpRequestData& data) override {
        return note(data, inner_->transformRequestUsingXEdgeAuth(data));
    }
    TransformRequestResult::Result removeTransformedCookies(oxl::http::Response& response,
                                                            const std::string& url) override {
        return inner_->removeTransformedCookies(response, url);
    }
    bool isRequestTransformed(const oxl::http::RequestWrapper& wrapper) override {
        return inner_->isRequestTransformed(wrapper);
    }
    std::string take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(last_, {});
    }

  private:
    TransformRequestResult::Result note(oxl::http::HttpRequestData& data,
                                        TransformRequestResult::Result result) {
        if (result == TransformRequestResult::SUCCESS && data.getOptions()) {
            const std::lock_guard<std::mutex> lock(mutex_);
            last_ = data.getOptions()->url;
        }
        return result;
    }
    std::shared_ptr<oxl::http::EdgeTransformer> inner_;
    std::mutex mutex_;
    std::string last_;
};

}  // namespace oxlnet

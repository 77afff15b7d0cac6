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
#include "oxl/http/CurlAnswerEvaluator.h"
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

// The client's answer evaluator, which also remembers the URL a request was first sent to (after any edge
// rewriting), so that a command can show where a request from the factory's client went.
class UrlNotingEvaluator : public oxl::http::CurlAnswerEvaluator {
  public:
    oxl::http::HttpClientResult::Result curlCodeToResult(
        int curlCode, const oxl::http::HttpRequestData* data) const override {
        if (data != nullptr && data->getOptions()) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (first_.empty()) {
                first_ = data->getOptions()->url;
            }
        }
        return CurlAnswerEvaluator::curlCodeToResult(curlCode, data);
    }
    // The first URL used since the last call; empty when nothing was sent.
    std::string take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(first_, {});
    }

  private:
    mutable std::mutex mutex_;
    mutable std::string first_;
};

}  // namespace oxlnet

// Seams shared by the edge hook tests: a host resolver that answers from a set, the edge session tests'
// clock and global edge state, and a transformer that records its calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "oxl/dns/DnsHostResolver.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/EdgeTransformer.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/Request.h"
#include "oxl/http/Response.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "unit/edgestate/EdgeStateTestSupport.h"

namespace oxl::test {

class SetResolver : public oxl::dns::DnsHostResolver {
  public:
    explicit SetResolver(std::set<std::string> resolvable) : resolvable_(std::move(resolvable)) {}
    bool isResolvable(const std::string& host) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++calls_[host];
        return resolvable_.count(host) > 0;
    }
    int calls(const std::string& host) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = calls_.find(host);
        return it == calls_.end() ? 0 : it->second;
    }
    int totalCalls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        int total = 0;
        for (const auto& [host, n] : calls_) {
            total += n;
        }
        return total;
    }

  private:
    std::set<std::string> resolvable_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, int> calls_;
};

using oxl::edge::test::ManualClock;
using oxl::edge::test::RecordingEdgeState;

// Publishes a state for one test and drops it afterwards.
struct ScopedEdgeState {
    std::shared_ptr<RecordingEdgeState> state = std::make_shared<RecordingEdgeState>();
    ScopedEdgeState() { oxl::netutils::GlobalEdgeStateController::setInstanceForTesting(state); }
    ~ScopedEdgeState() { oxl::netutils::GlobalEdgeStateController::resetForTesting(); }
    ScopedEdgeState(const ScopedEdgeState&) = delete;
    ScopedEdgeState& operator=(const ScopedEdgeState&) = delete;
};

// Rewrites like the edge adapter does (the URL's path changes, so the request counts as rewritten) and
// records every call in order.
class RecordingTransformer : public oxl::http::EdgeTransformer {
  public:
    using Result = TransformRequestResult::Result;

    Result answer = TransformRequestResult::SUCCESS;
    Result cookieAnswer = TransformRequestResult::SUCCESS;
    std::string edgeUrl = "https://edge1.ext.test/tok/svc";
    std::vector<std::string> calls;
    std::string cookieUrl;

    Result transformRequest(oxl::http::HttpRequestData& data) override {
        return rewrite("transformRequest", data);
    }
    Result transformRequestUsingRequestOAuthToken(oxl::http::HttpRequestData& data) override {
        return rewrite("transformRequestUsingRequestOAuthToken", data);
    }
    Result transformRequestUsingXEdgeAuth(oxl::http::HttpRequestData& data) override {
        return rewrite("transformRequestUsingXEdgeAuth", data);
    }
    Result removeTransformedCookies(oxl::http::Response&, const std::string& url) override {
        calls.emplace_back("removeTransformedCookies");
        cookieUrl = url;
        return cookieAnswer;
    }
    bool isRequestTransformed(const oxl::http::RequestWrapper& wrapper) override {
        const auto options = wrapper.getOptions();
        return options && options->url != wrapper.getUrl();
    }
    // Calls other than isRequestTransformed, which is a question, not a use of the request.
    size_t transformCalls() const { return calls.size(); }

  private:
    Result rewrite(const char* name, oxl::http::HttpRequestData& data) {
        calls.emplace_back(name);
        if (answer == TransformRequestResult::SUCCESS) {
            data.getOptions()->url = edgeUrl;
        }
        return answer;
    }
};

inline std::shared_ptr<oxl::http::HttpRequestData> makeRequestData(
    const std::string& url = "https://internal.corp.test/svc") {
    return std::make_shared<oxl::http::HttpRequestData>(std::make_shared<oxl::http::Request>(url), nullptr);
}

}  // namespace oxl::test

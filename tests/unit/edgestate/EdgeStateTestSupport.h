// Seams shared by the edge session and edge hook unit tests: a clock moved by hand, a global edge state that
// answers from its members and records what is asked of it, a detection controller whose answers tests set,
// and a configuration request that answers from a script per edge server.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeConfigRequest.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "support/WaitFor.h"

namespace oxl::edge::test {

using ::oxl::test::waitFor;

struct ManualClock {
    std::atomic<std::int64_t> now{1'700'000'000};
    std::function<std::int64_t()> fn() {
        return [this] { return now.load(); };
    }
};

// Answers from its public members and records the calls made to it, in order.
class RecordingEdgeState : public GlobalEdgeState {
  public:
    std::shared_ptr<Credentials> credentials;
    std::shared_ptr<CredentialsManager> manager;
    std::string domain = "corp.test";
    GetEdgeConfigurationResult configuration{GetEdgeConfigurationResult::SUCCESS};
    // What the asynchronous variant answers; REQUEST_SUBMITTED comes with request id 42.
    GetEdgeConfigurationResult asyncAnswer{GetEdgeConfigurationResult::SUCCESS};

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void clearCalls() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    // Outside with the edge in view unless a test says otherwise; the queries are counted.
    std::atomic<bool> internal{false};
    std::atomic<bool> edge{true};
    std::atomic<int> internalQueries{0};
    std::atomic<int> edgeQueries{0};

    void onVisibilityChange() override {}
    bool isEdgeConnectivityAvailable() override {
        ++edgeQueries;
        return edge;
    }
    bool isInternalConnectivityAvailable() override {
        ++internalQueries;
        return internal;
    }
    void addObserver(const std::shared_ptr<GlobalEdgeStateObserver>&) override {}
    void removeObserver(const std::shared_ptr<GlobalEdgeStateObserver>&) override {}
    std::shared_ptr<Credentials> getEdgeCredentials() override { return credentials; }
    GetEdgeConfigurationResult getEdgeConfiguration(const std::vector<std::string>&) override {
        record("getEdgeConfiguration");
        return configuration;
    }
    GetEdgeConfigurationResult getEdgeConfiguration() override { return getEdgeConfiguration({}); }
    GetEdgeConfigurationResult getEdgeConfigurationAsync(const std::vector<std::string>&,
                                                         const std::shared_ptr<GetEdgeConfigurationListener>&,
                                                         RequestId& requestId) override {
        record("getEdgeConfigurationAsync");
        requestId = asyncAnswer.result == GetEdgeConfigurationResult::REQUEST_SUBMITTED ? 42 : 0;
        return asyncAnswer;
    }
    GetEdgeConfigurationResult getEdgeConfigurationAsync(
        const std::shared_ptr<GetEdgeConfigurationListener>& l, RequestId& requestId) override {
        return getEdgeConfigurationAsync({}, l, requestId);
    }
    std::string getEdgeDomain() override { return domain; }
    void setEdgeDomain(const std::string&) override {}
    void removeEdgeConfig() override { record("removeEdgeConfig"); }
    TerminateEdgeSessionResult::Result terminateEdgeSession() override {
        return TerminateEdgeSessionResult::SUCCESS;
    }
    std::shared_ptr<CredentialsManager> getCredentialsManager() override { return manager; }
    void setCredentialsManager(std::shared_ptr<CredentialsManager> m) override { manager = std::move(m); }
    void setEdgeInfrastructureEventController(std::shared_ptr<EdgeInfrastructureEventController>) override {}
    void setEdgeConfigRequest(std::shared_ptr<EdgeConfigRequest>) override {}
    bool addRecentlyFailedServer(const std::string& server, unsigned int errorCode) override {
        record("failed " + server + " " + std::to_string(errorCode));
        return true;
    }
    bool isOnHold() override { return false; }
    std::shared_ptr<EdgeDetectionController> getEdgeDetectionController() override { return nullptr; }

  private:
    void record(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

}  // namespace oxl::edge::test

namespace oxl::edge::test {

// Visibility and edge records set by the test; visibility observers are kept so that the test can play the
// detection controller's notice.
class FakeDetection : public EdgeDetectionController {
  public:
    std::atomic<bool> internal{false};
    std::atomic<bool> edge{true};
    std::atomic<int> queries{0};

    void setEdgeRecords(std::vector<EdgeServiceRecordData> records) {
        std::lock_guard<std::mutex> lock(mutex_);
        records_ = std::move(records);
    }
    // What the real controller does on its "EdgeVisiChange" thread.
    void announce(bool internalVisible, bool edgeVisible) {
        internal = internalVisible;
        edge = edgeVisible;
        std::set<std::shared_ptr<VisibilityChangeObserver>> observers;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            observers = observers_;
        }
        for (const auto& o : observers) {
            o->onVisibilityChange();
        }
    }
    size_t observerCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return observers_.size();
    }

    bool isEdgeAvailable() override {
        ++queries;
        return edge;
    }
    bool isOnPremServerAvailable() override {
        ++queries;
        return internal;
    }
    std::vector<EdgeServiceRecordData> getEdgeServiceRecordData() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    std::vector<ServiceRecord> getInternalServiceRecords(bool) override { return {}; }
    void enqueueProperEdgeTransitionEvent() override {}
    void registerVisibilityChangeObserver(const std::shared_ptr<VisibilityChangeObserver>& o) override {
        std::lock_guard<std::mutex> lock(mutex_);
        observers_.insert(o);
    }
    void unregisterVisibilityChangeObserver(const std::shared_ptr<VisibilityChangeObserver>& o) override {
        std::lock_guard<std::mutex> lock(mutex_);
        observers_.erase(o);
    }
    void registerNetworkSensingObserver(const std::shared_ptr<NetworkSensingObserver>&) override {}
    void unregisterNetworkSensingObserver(const std::shared_ptr<NetworkSensingObserver>&) override {}
    void setDomains(const std::string&, const std::string&) override {}
    void setEdgeTransitionDetectionController(std::shared_ptr<EdgeTransitionDetectionController>) override {}
    std::shared_ptr<EdgeTransitionDetectionController> getEdgeTransitionDetectionController() override {
        return nullptr;
    }
    void stop() override {}
    std::shared_ptr<NetworkSensingHints> getNetworkSensingHints() override { return nullptr; }

  private:
    mutable std::mutex mutex_;
    std::vector<EdgeServiceRecordData> records_;
    std::set<std::shared_ptr<VisibilityChangeObserver>> observers_;
};

// The configuration an edge server would hand out: its HTTP edge servers and an "X-Auth" cookie expiring at
// `expiry` (0: a session cookie; negative: no cookie at all).
inline EdgeConfig edgeConfigWith(const std::vector<EdgeServiceLocation>& httpServers, long expiry,
                                 const std::string& cookieValue = "session1",
                                 const std::vector<std::string>& services = {}) {
    EdgeConfig config;
    EdgeService http;
    http.serverLocations = httpServers;
    config.setHttpEdgeService(http);
    for (const auto& name : services) {
        OnPremService service;
        service.name = name;
        service.error = 0;
        config.addOnPremService(service);
    }
    if (expiry >= 0) {
        config.addCookie(oxl::common::Cookie("edge.ext.test\tFALSE\t/\tTRUE\t" + std::to_string(expiry) +
                                             "\tX-Auth\t" + cookieValue));
    }
    return config;
}

// An edge configuration request that answers per edge server from a script and records every call.
class ScriptedRequest : public EdgeConfigRequest {
  public:
    struct Answer {
        Result result = SUCCESS;
        EdgeConfig config;  // merged into the caller's configuration on SUCCESS (cookies added for a refresh)
    };
    struct Call {
        std::string host;
        std::string username;
        bool token = false;
        bool isRefresh = false;
        bool zeroTtl = false;
        bool isFullUsername = false;
        std::vector<std::string> services;
        std::string xAuthValue;
        std::string domain;
    };

    // Answers for `host`, in order; the last one repeats.
    void script(const std::string& host, std::deque<Answer> answers) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[host] = std::move(answers);
    }
    // While closed, execute waits (the call is recorded first).
    void closeGate() {
        std::lock_guard<std::mutex> lock(mutex_);
        gateOpen_ = false;
    }
    void openGate() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gateOpen_ = true;
        }
        cv_.notify_all();
    }
    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<std::string> hosts() const {
        std::vector<std::string> out;
        for (const auto& c : calls()) {
            out.push_back(c.host + (c.isRefresh ? (c.zeroTtl ? " end" : " refresh") : ""));
        }
        return out;
    }
    void clearCalls() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    Result execute(const EdgeConfigParams& params, EdgeConfig& config) override {
        std::unique_lock<std::mutex> lock(mutex_);
        Call call{params.host,    params.username,       !params.oauthToken.empty(), params.isRefresh,
                  params.zeroTtl, params.isFullUsername, params.serviceNames,        ""};
        if (!params.xAuthCookie.isEmpty()) {
            call.xAuthValue = params.xAuthCookie.getValue();
        }
        call.domain = params.domain;
        calls_.push_back(call);
        cv_.wait(lock, [this] { return gateOpen_; });
        auto it = answers_.find(params.host);
        if (it == answers_.end() || it->second.empty()) {
            return CONNECTION_FAILED;
        }
        const Answer answer = it->second.front();
        if (it->second.size() > 1) {
            it->second.pop_front();
        }
        if (answer.result == SUCCESS) {
            if (params.isRefresh) {
                for (const auto& cookie : answer.config.cookies) {
                    config.addCookie(cookie);
                }
            } else {
                config = answer.config;
            }
        }
        return answer.result;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool gateOpen_ = true;
    std::map<std::string, std::deque<Answer>> answers_;
    std::vector<Call> calls_;
};

}  // namespace oxl::edge::test

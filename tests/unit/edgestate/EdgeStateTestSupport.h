// Seams shared by the edge session unit tests: a clock moved by hand, a global edge state that records what
// the infrastructure controller asks of it, a detection controller whose answers tests set, and a
// configuration request that answers from a script per edge server.
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
#include <string>
#include <thread>
#include <vector>

#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeConfigRequest.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/GlobalEdgeState.h"

namespace oxl::edge::test {

inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

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

    void onVisibilityChange() override {}
    bool isEdgeConnectivityAvailable() override { return true; }
    bool isInternalConnectivityAvailable() override { return false; }
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

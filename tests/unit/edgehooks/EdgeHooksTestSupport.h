// Seams shared by the edge hook tests: a host resolver that answers from a set, a clock that tests move,
// and a global edge state whose visibility tests set.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "oxl/dns/DnsHostResolver.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/netutils/GlobalEdgeStateController.h"

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

struct ManualClock {
    std::atomic<std::int64_t> now{1'700'000'000};
    std::function<std::int64_t()> fn() {
        return [this] { return now.load(); };
    }
};

class TestEdgeState : public oxl::edge::GlobalEdgeState {
  public:
    std::atomic<bool> internal{false};
    std::atomic<bool> edge{false};
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
    std::string getEdgeDomain() override { return "edge.test"; }
    void setEdgeDomain(const std::string&) override {}
    void removeEdgeConfig() override {}
    TerminateEdgeSessionResult::Result terminateEdgeSession() override {
        return TerminateEdgeSessionResult::SUCCESS;
    }
    std::shared_ptr<oxl::edge::EdgeDetectionController> getEdgeDetectionController() override {
        return nullptr;
    }
};

// Publishes a state for one test and drops it afterwards.
struct ScopedEdgeState {
    std::shared_ptr<TestEdgeState> state = std::make_shared<TestEdgeState>();
    ScopedEdgeState() { oxl::netutils::GlobalEdgeStateController::setInstanceForTesting(state); }
    ~ScopedEdgeState() { oxl::netutils::GlobalEdgeStateController::resetForTesting(); }
    ScopedEdgeState(const ScopedEdgeState&) = delete;
    ScopedEdgeState& operator=(const ScopedEdgeState&) = delete;
};

}  // namespace oxl::test

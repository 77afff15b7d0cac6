// Shared pieces of the edge detection unit tests: a scripted SRV resolver and recording observers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsRecords.h"
#include "oxl/edge/EdgeDetectionDnsRecordReader.h"
#include "oxl/edge/EdgeTransitionDetectionController.h"
#include "oxl/edge/InternalConnectivityObserver.h"
#include "oxl/edge/NetworkSensingObserver.h"
#include "oxl/edge/VisibilityChangeObserver.h"
#include "support/WaitFor.h"

namespace oxl::edge::test {

// Answers SRV queries from a table (names not in it: DOMAIN_DOES_NOT_EXIST) and remembers every name asked.
class ScriptedSrv {
  public:
    struct Answer {
        oxl::dns::DnsQueryResult::Result result = oxl::dns::DnsQueryResult::SUCCESS;
        std::vector<oxl::dns::ServiceResourceRecord> records;
    };

    void set(const std::string& name, Answer answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[name] = std::move(answer);
    }
    void setTargets(const std::string& name, const std::vector<std::pair<std::string, uint32_t>>& targets) {
        Answer answer;
        uint32_t priority = 0;
        for (const auto& [host, port] : targets) {
            // Distinct priorities keep the sorted order equal to the given order.
            answer.records.emplace_back(priority++, 0, port, host);
        }
        set(name, answer);
    }
    void erase(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.erase(name);
    }
    std::vector<std::string> asked() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }
    size_t countAsked(const std::string& name) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const auto& a : asked_) {
            n += a == name ? 1 : 0;
        }
        return n;
    }
    void clearAsked() {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.clear();
    }

    EdgeDetectionDnsRecordReader::SrvQueryFunction function() {
        return [this](const std::string& name, std::vector<oxl::dns::ServiceResourceRecord>& records) {
            std::lock_guard<std::mutex> lock(mutex_);
            asked_.push_back(name);
            auto it = answers_.find(name);
            if (it == answers_.end()) {
                return oxl::dns::DnsQueryResult::DOMAIN_DOES_NOT_EXIST;
            }
            records = it->second.records;
            return it->second.result;
        };
    }

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::vector<std::string> asked_;
};

using ::oxl::test::waitFor;

class RecordingVisibilityObserver : public VisibilityChangeObserver {
  public:
    void onVisibilityChange() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
    }
    int count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }

  private:
    mutable std::mutex mutex_;
    int count_ = 0;
};

class RecordingSensingObserver : public NetworkSensingObserver {
  public:
    void onNetworkSensingEvent(const NetworkSensingEvent& event) override {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    std::vector<NetworkSensingEvent> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }
    bool sawInternal(bool visible) const {
        return sawIf([&](const NetworkSensingEvent& e) {
            return e.internalVisibilityChanged && e.internalVisibility == visible;
        });
    }
    bool sawEvent(const std::string& name) const {
        return sawIf([&](const NetworkSensingEvent& e) { return e.eventName == name; });
    }

  private:
    bool sawIf(const std::function<bool(const NetworkSensingEvent&)>& match) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : events_) {
            if (match(e)) {
                return true;
            }
        }
        return false;
    }
    mutable std::mutex mutex_;
    std::vector<NetworkSensingEvent> events_;
};

// Records every InternalConnectivityObserver call as "name(seq,eventName)".
class RecordingConnectivityObserver : public InternalConnectivityObserver {
  public:
    struct Call {
        std::string operation;
        uint32_t seq = 0;
        std::string eventName;
        ServiceRecord record;
        std::vector<EdgeServiceRecordData> edgeRecords;
    };

    void onInternalConnectivityAvailable(uint32_t seq, const ServiceRecord& record,
                                         const std::string& name) override {
        add({"InternalAvailable", seq, name, record, {}});
    }
    void onInternalConnectivityUnavailable(uint32_t seq, const std::string& name) override {
        add({"InternalUnavailable", seq, name, {}, {}});
    }
    void onEdgeConnectivityAvailable(uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
                                     const std::string& name) override {
        add({"EdgeAvailable", seq, name, {}, records});
    }
    void onEdgeConnectivityUnavailable(uint32_t seq, const std::string& name) override {
        add({"EdgeUnavailable", seq, name, {}, {}});
    }
    void onInternalAndEdgeConnectivityUnavailable(uint32_t seq, const std::string& name) override {
        add({"BothUnavailable", seq, name, {}, {}});
    }
    void onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(
        uint32_t seq, const std::vector<EdgeServiceRecordData>& records, const std::string& name) override {
        add({"InternalUnavailableEdgeAvailable", seq, name, {}, records});
    }
    void onConfirmingDirectConnectivity(uint32_t seq, const std::string& name) override {
        add({"Confirming", seq, name, {}, {}});
    }

    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    size_t count(const std::string& operation) const {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t n = 0;
        for (const auto& c : calls_) {
            n += c.operation == operation ? 1 : 0;
        }
        return n;
    }
    std::vector<std::string> operations() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> ops;
        for (const auto& c : calls_) {
            ops.push_back(c.operation);
        }
        return ops;
    }

  private:
    void add(Call call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Remembers what is queued for the transition controller; its own behaviour is tested elsewhere.
class CapturingTransitionController : public EdgeTransitionDetectionController {
  public:
    void start() override {}
    void stop() override {}
    void reset() override { ++resets; }
    void enqueueEvent(std::unique_ptr<ControllerEvent> event) override {
        std::unique_lock<std::mutex> lock(mutex);
        events.push_back(std::move(event));
        // Callers queue on their own thread: holding them here stops them for the test.
        if (hold_) {
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !hold_; });
            held_ = false;
        }
    }
    void registerInternalConnectivityObserver(
        const std::shared_ptr<InternalConnectivityObserver>& o) override {
        observer = o;
    }
    void notifyDirectConnectAvailable(uint32_t, const ServiceRecord&, const std::string&) override {}
    void notifyDirectConnectUnavailable(uint32_t, const std::string&) override {}
    void notifyEdgeConnectAvailable(uint32_t, const std::vector<EdgeServiceRecordData>&,
                                    const std::string&) override {}
    void notifyEdgeConnectUnavailable(uint32_t, const std::string&) override {}
    void notifyDirectAndEdgeConnectUnavailable(uint32_t, const std::string&) override {}
    void notifyDirectConnectUnavailableAndEdgeConnectAvailable(uint32_t,
                                                               const std::vector<EdgeServiceRecordData>&,
                                                               const std::string&) override {}
    void notifyConfirmingDirectConnectivity(uint32_t, const std::string&) override {}

    // The next enqueueEvent() blocks its caller until release().
    void hold() {
        std::lock_guard<std::mutex> lock(mutex);
        hold_ = true;
    }
    bool waitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        hold_ = false;
        changed_.notify_all();
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return events.size();
    }
    std::vector<std::string> labels() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> result;
        for (const auto& e : events) {
            result.push_back(e->getLabel());
        }
        return result;
    }
    std::vector<std::string> descriptions() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> result;
        for (const auto& e : events) {
            result.push_back(e->toString());
        }
        return result;
    }

    std::mutex mutex;
    std::vector<std::unique_ptr<ControllerEvent>> events;
    std::weak_ptr<InternalConnectivityObserver> observer;
    int resets = 0;

  private:
    std::condition_variable changed_;
    bool hold_ = false;
    bool held_ = false;
};

}  // namespace oxl::edge::test

// A network event reporter that records every event as a line, in order: "dropped LABEL",
// "notReady LABEL", "inUse LABEL" or "edge LABEL @SERVER". Safe to call from transfer threads.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "oxl/http/HttpNetworkEventReporter.h"

namespace oxl::test {

class RecordingReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override { add("dropped " + label); }
    void hintNetworkStackNotReady(const std::string& label) override { add("notReady " + label); }
    void hintNetworkIsInUse(const std::string& label) override { add("inUse " + label); }
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override {
        add("edge " + label + " @" + server);
    }
    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // The events so far, which are forgotten.
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(events_, {});
    }
    // How many events carried `label`, whatever their kind.
    size_t count(const std::string& label) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), [&](const std::string& e) {
            const size_t start = e.find(' ') + 1;
            const size_t end = e.find(' ', start);
            return e.compare(start, end == std::string::npos ? std::string::npos : end - start, label) == 0;
        }));
    }
    size_t total() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }

  private:
    void add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace oxl::test

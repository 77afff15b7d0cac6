#include "oxl/edge/RecentlyUsedServers.h"

#include <ctime>
#include <utility>

#include "common/SystemClock.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

}  // namespace

RecentlyUsedServers::RecentlyUsedServers() : RecentlyUsedServers(Clock()) {}

RecentlyUsedServers::RecentlyUsedServers(Clock clock)
    : clock_(clock ? std::move(clock) : Clock(oxl::common::systemSeconds)) {}

RecentlyUsedServers::~RecentlyUsedServers() = default;

bool RecentlyUsedServers::addFailedServer(const std::string& server, unsigned int errorCode) {
    if (server.empty()) {
        OXL_LOG_WARN(logger(), "server address is empty, will not be added");
        return false;
    }
    if (errorCode == 0) {
        OXL_LOG_WARN(logger(), "error code is not a failure, will not be added");
        return false;
    }
    const std::int64_t now = clock_();
    const std::lock_guard<std::mutex> lock(mutex_);
    servers_[server] = Entry{now, errorCode, EdgeConfig()};
    OXL_LOG_INFO(logger(), "adding server [" << server << "] with timestamp [" << now << "] errorcode ["
                                             << errorCode << "] for " << timeoutSec_ << " seconds");
    return true;
}

bool RecentlyUsedServers::addSuccessfulServer(const std::string& server, const EdgeConfig& edgeConfig) {
    if (server.empty()) {
        OXL_LOG_WARN(logger(), "server address is empty, will not be added");
        return false;
    }
    if (edgeConfig == EdgeConfig()) {
        OXL_LOG_WARN(logger(), "Edge Config is empty, will not be added");
        return false;
    }
    const std::int64_t now = clock_();
    const std::lock_guard<std::mutex> lock(mutex_);
    servers_[server] = Entry{now, 0, edgeConfig};
    OXL_LOG_INFO(logger(), "adding server [" << server << "] with timestamp [" << now
                                             << "] errorcode [0] for " << timeoutSec_ << " seconds");
    return true;
}

bool RecentlyUsedServers::isRecent(const std::string& server, bool failed) {
    const std::int64_t now = clock_();
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = servers_.find(server);
    if (it == servers_.end() || (it->second.errorCode != 0) != failed) {
        return false;
    }
    const std::int64_t age = now - it->second.timestamp;
    if (age >= static_cast<std::int64_t>(timeoutSec_)) {
        OXL_LOG_INFO(logger(), (failed ? "previous server failure for [" : "previous successful result for [")
                                   << server << "] expired " << age << " seconds ago, removing from list");
        servers_.erase(it);
        return false;
    }
    if (failed) {
        OXL_LOG_INFO(logger(), "server [" << server << "] recently failed at timestamp ["
                                          << it->second.timestamp << "] (" << age
                                          << " seconds ago ) with errorcode [" << it->second.errorCode
                                          << "]");
    } else {
        OXL_LOG_INFO(logger(), "server [" << server << "] recently succeeded at timestamp ["
                                          << it->second.timestamp << "] (" << age << " seconds ago )");
    }
    return true;
}

bool RecentlyUsedServers::isRecentlyFailed(const std::string& server) {
    return isRecent(server, true);
}

bool RecentlyUsedServers::isRecentlySucceeded(const std::string& server) {
    return isRecent(server, false);
}

unsigned int RecentlyUsedServers::getErrorCode(const std::string& server) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = servers_.find(server);
    return it == servers_.end() ? 0 : it->second.errorCode;
}

EdgeConfig RecentlyUsedServers::getEdgeConfig(const std::string& server) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = servers_.find(server);
    return it == servers_.end() ? EdgeConfig() : it->second.edgeConfig;
}

bool RecentlyUsedServers::isEmpty() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return servers_.empty();
}

void RecentlyUsedServers::clearAll() {
    OXL_LOG_INFO(logger(), "clearing recently used servers");
    const std::lock_guard<std::mutex> lock(mutex_);
    servers_.clear();
}

void RecentlyUsedServers::clearSuccessfulServers() {
    OXL_LOG_DEBUG(logger(), "clearing recently successful servers");
    const std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(servers_, [](const auto& item) { return item.second.errorCode == 0; });
}

void RecentlyUsedServers::setTimeoutInSec(unsigned int seconds) {
    if (seconds == 0) {
        OXL_LOG_ERROR(logger(), "cannot set timeout to zero");
        return;
    }
    OXL_LOG_INFO(logger(), "setting failed server timeout to " << seconds << " seconds");
    const std::lock_guard<std::mutex> lock(mutex_);
    timeoutSec_ = seconds;
}

unsigned int RecentlyUsedServers::getTimeoutInSec() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return timeoutSec_;
}

}  // namespace oxl::edge

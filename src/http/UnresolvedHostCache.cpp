#include "oxl/http/UnresolvedHostCache.h"

#include <ctime>

#include "common/SystemClock.h"
#include "oxl/dns/DnsHostResolver.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

}  // namespace

UnresolvedHostCache::UnresolvedHostCache(std::shared_ptr<oxl::dns::DnsHostResolver> resolver, Clock clock)
    : resolver_(std::move(resolver)), clock_(clock ? std::move(clock) : Clock(oxl::common::systemSeconds)) {}

UnresolvedHostCache::~UnresolvedHostCache() = default;

bool UnresolvedHostCache::hostCanBeResolved(const std::string& url) {
    const std::string host = HttpUtils::extractHostFromHttpUrl(url);
    if (host.empty()) {
        OXL_LOG_ERROR(logger(),
                      "Unable to extract the host from URL '" << url << "'. Method hostCanBeResolved failed");
        return false;
    }
    if (oxl::ip::IpUtils::isIpAddress(host)) {
        return true;
    }
    if (isRecentlyUnresolved(host)) {
        OXL_LOG_DEBUG(logger(), "Host '" << host << "' from URL '" << url << "' is marked as unresolvable");
        return false;
    }
    OXL_LOG_DEBUG(logger(), "Checking if host '" << host << "' from URL '" << url << "' is resolvable");
    // The look-up runs without the lock: it blocks for as long as DNS takes.
    if (resolver_ && resolver_->isResolvable(host)) {
        return true;
    }
    if (!resolver_) {
        OXL_LOG_ERROR(logger(), "No host resolver, treating host '" << host << "' as unresolvable");
    }
    addToList(host);
    return false;
}

bool UnresolvedHostCache::isRecentlyUnresolved(const std::string& host) {
    if (host.empty()) {
        OXL_LOG_ERROR(logger(), "Host is empty. Method isRecentlyUnresolved failed");
        return false;
    }
    const std::int64_t now = clock_();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(host);
    if (it == entries_.end()) {
        return false;
    }
    const std::int64_t age = now - it->second;
    if (age < static_cast<std::int64_t>(timeout_)) {
        OXL_LOG_DEBUG(logger(), "Host [" << host << "] recently unresolved at timestamp [" << it->second
                                         << "] (" << age << " seconds ago )");
        return true;
    }
    OXL_LOG_DEBUG(logger(), "Previous unresolved result for [" << host << "] expired"
                                                               << " (" << age
                                                               << " seconds ago, removing from list");
    entries_.erase(it);
    return false;
}

bool UnresolvedHostCache::isEmpty() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool empty = entries_.empty();
    OXL_LOG_DEBUG(logger(), "result :" << std::boolalpha << empty);
    return empty;
}

void UnresolvedHostCache::setTimeoutInSec(unsigned int seconds) {
    if (seconds == 0) {
        OXL_LOG_ERROR(logger(), "cannot set timeout to zero");
        return;
    }
    OXL_LOG_DEBUG(logger(), "setting unresolved host timeout to" << seconds << " seconds");
    std::lock_guard<std::mutex> lock(mutex_);
    timeout_ = seconds;
}

void UnresolvedHostCache::addToList(const std::string& host) {
    if (host.empty()) {
        OXL_LOG_ERROR(logger(), "Host '" << host << "' is empty. Method addToList failed");
        return;
    }
    const std::int64_t now = clock_();
    OXL_LOG_DEBUG(logger(), "Adding host '" << host << "' to the list of unresolvable hosts at timestamp ["
                                            << now << "]");
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[host] = now;
}

}  // namespace oxl::http

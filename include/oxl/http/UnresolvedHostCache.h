// Remembers for a while the host names that failed to resolve, so that the parallel client does not look
// them up again and again. In memory only; safe to share between threads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace oxl::dns {
class DnsHostResolver;
}

namespace oxl::http {

class UnresolvedHostCache {
  public:
    // Seconds since 1970.
    using Clock = std::function<std::int64_t()>;

    static constexpr unsigned int DEFAULT_TIMEOUT_SEC = 120;

    // A null resolver treats every name host as unresolvable; an empty clock uses the system time.
    explicit UnresolvedHostCache(std::shared_ptr<oxl::dns::DnsHostResolver> resolver, Clock clock = {});
    virtual ~UnresolvedHostCache();
    UnresolvedHostCache(const UnresolvedHostCache&) = delete;
    UnresolvedHostCache& operator=(const UnresolvedHostCache&) = delete;

    // False when the URL has no host, when the host failed recently, or when it fails to resolve now (it
    // is then remembered). An IP literal is always resolvable and never looked up.
    bool hostCanBeResolved(const std::string& url);
    // True while the host's failure is younger than the timeout; an expired entry is dropped.
    bool isRecentlyUnresolved(const std::string& host);
    bool isEmpty();
    // Zero is refused and leaves the timeout unchanged.
    void setTimeoutInSec(unsigned int seconds);

  private:
    void addToList(const std::string& host);

    std::shared_ptr<oxl::dns::DnsHostResolver> resolver_;
    Clock clock_;
    std::mutex mutex_;
    std::map<std::string, std::int64_t> entries_;
    unsigned int timeout_ = DEFAULT_TIMEOUT_SEC;
};

}  // namespace oxl::http

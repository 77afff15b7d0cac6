// Choosing among the entries of a PAC answer ("PROXY a:3128; PROXY b:3128; DIRECT"): a proxy that cannot be
// reached is passed over for a while, as browsers keep a proxy retry list, and the next entry is used.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace oxl::http::detail {

// Proxies found unreachable, each until its retry time. Safe from several threads.
class ProxyRetryList {
  public:
    using Clock = std::chrono::steady_clock;

    bool isMarked(const std::string& proxy, Clock::time_point now);
    void mark(const std::string& proxy, Clock::time_point until);
    void clear();

  private:
    // A PAC script names a handful of proxies; this only keeps a hostile one from growing the list.
    static constexpr std::size_t MAX_ENTRIES = 256;

    std::mutex mutex_;
    std::map<std::string, Clock::time_point> until_;
};

// True when a TCP connection to the proxy opens within `timeout` (name look-up included, as far as the
// system resolver allows). Entries are "host:port", "[v6]:port" or "https://host:port"; without a port a
// plain proxy is on 80 and an HTTPS proxy on 443. Pinned names (NamePinning) are honoured.
bool canConnect(const std::string& proxyEntry, std::chrono::milliseconds timeout);

using ReachabilityCheck = std::function<bool(const std::string& proxyEntry)>;

// The entry to use, "" meaning DIRECT. In order: DIRECT is taken; a proxy on the retry list is passed over;
// the last entry is taken unchecked, as nothing is left to fall back to; any other proxy is checked and,
// when it cannot be reached, marked for `retryDelay` and passed over. When every proxy is passed over the
// first is used all the same: a known-bad proxy beats none.
std::string chooseEntry(const std::vector<std::string>& entries, ProxyRetryList& retryList,
                        std::chrono::milliseconds retryDelay, const ReachabilityCheck& reachable);

}  // namespace oxl::http::detail

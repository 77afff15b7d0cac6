// The proxy the user's settings choose for a URL, as the HTTP request asks for it, subject to the
// SYSTEM_PROXY_USAGE policy.
//
// The last answer is kept for its URL (one URL at a time) for at most the answer lifetime
// (DEFAULT_ANSWER_LIFETIME unless set), so that repeated requests neither read the settings again nor fetch
// and run a PAC script again, while a change of the settings is still seen within that time. Callers asking
// for the same URL at the same time share one resolution; the lock is not held while it runs.
//
// Requests that were not given a resolver share the process-wide one (getDefault), so its caches serve
// every client.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "oxl/common/PolicyDriven.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/Proxy.h"

namespace oxl::http {

class SystemProxyResolver : public oxl::common::PolicyDriven {
  public:
    static const std::chrono::milliseconds DEFAULT_ANSWER_LIFETIME;

    // Takes the default policies; uses a reader over the default settings source.
    SystemProxyResolver();
    explicit SystemProxyResolver(const std::set<std::shared_ptr<oxl::common::Policy>>& policies);
    ~SystemProxyResolver() override;

    // The resolver of every request that was not given one. It reads the SYSTEM_PROXY_USAGE policy from
    // the default policies store at each resolution (its own policy applies when the store has none).
    static std::shared_ptr<SystemProxyResolver> getDefault();

    // Null when no proxy applies or the policy forbids the system proxy. Each call returns its own copy,
    // so a caller may change it (credentials, say) without touching other requests. May block for the PAC
    // fetch, evaluation and proxy checks of the reader.
    virtual std::shared_ptr<Proxy> resolveSystemProxy(const std::string& url);

    // Replaces the reader and forgets the cached answer.
    void setHttpProxyConfigurationReader(std::shared_ptr<HttpProxyConfigurationReader> reader);
    std::shared_ptr<HttpProxyConfigurationReader> getHttpProxyConfigurationReader() const;
    // Zero: every call asks the reader.
    void setAnswerLifetime(std::chrono::milliseconds lifetime);
    // Forgets the cached answer and the reader's cached script and unreachable proxies.
    void clearCache();

  private:
    struct SharedDefaultTag {};
    explicit SystemProxyResolver(SharedDefaultTag);

    std::shared_ptr<Proxy> resolve(const std::string& url);
    std::shared_ptr<Proxy> cachedOrResolved(const std::string& url);
    std::shared_ptr<oxl::common::Policy> usagePolicy() const;

    const bool readsStorePolicy_ = false;
    mutable std::mutex mutex_;
    std::condition_variable resolved_;
    std::shared_ptr<HttpProxyConfigurationReader> reader_;
    std::chrono::milliseconds answerLifetime_;
    bool cacheValid_ = false;
    std::string cachedUrl_;
    std::shared_ptr<Proxy> cachedProxy_;
    std::chrono::steady_clock::time_point cachedAt_;
    // URLs being resolved without the lock; a change of reader or a clear bumps the generation so that a
    // resolution already running does not store its stale answer.
    std::set<std::string> inFlight_;
    std::uint64_t generation_ = 0;
};

}  // namespace oxl::http

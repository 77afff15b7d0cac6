// The proxy the user's settings choose for a URL, as the HTTP request asks for it, subject to the
// SYSTEM_PROXY_USAGE policy. The last answer is cached for its URL (no expiry: a settings change is seen
// only for another URL).
#pragma once

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
    // Takes the default policies; uses a reader over the default settings source.
    SystemProxyResolver();
    explicit SystemProxyResolver(const std::set<std::shared_ptr<oxl::common::Policy>>& policies);
    ~SystemProxyResolver() override;

    // Null when no proxy applies or the policy forbids the system proxy. May block for the PAC fetch and
    // evaluation limits while holding the cache lock.
    virtual std::shared_ptr<Proxy> resolveSystemProxy(const std::string& url);

    // Replaces the reader and forgets the cached answer.
    void setHttpProxyConfigurationReader(std::shared_ptr<HttpProxyConfigurationReader> reader);
    std::shared_ptr<HttpProxyConfigurationReader> getHttpProxyConfigurationReader() const;

  private:
    std::shared_ptr<Proxy> resolve(const std::string& url);

    mutable std::mutex mutex_;
    std::shared_ptr<HttpProxyConfigurationReader> reader_;
    bool cacheValid_ = false;
    std::string cachedUrl_;
    std::shared_ptr<Proxy> cachedProxy_;
};

}  // namespace oxl::http

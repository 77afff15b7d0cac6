// One HTTP request: its options, the listener of asynchronous results, and the proxy to use.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "oxl/http/HttpClientListener.h"
#include "oxl/http/HttpRequestOptions.h"
#include "oxl/http/Proxy.h"
#include "oxl/http/SystemProxyResolver.h"

namespace oxl::http {

class Request {
  public:
    // Default options for the URL.
    explicit Request(const std::string& url);
    // A null pointer is replaced by options with an empty URL (the transfer then fails as URL not set).
    explicit Request(std::shared_ptr<HttpRequestOptions> options);
    virtual ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Never null.
    std::shared_ptr<HttpRequestOptions> getOptions() const { return options_; }

    std::shared_ptr<HttpClientListener> getListener() const { return listener_; }
    void setListener(std::shared_ptr<HttpClientListener> listener) { listener_ = std::move(listener); }

    // An explicit proxy wins over the system proxy.
    void setProxy(std::shared_ptr<Proxy> proxy) { proxy_ = std::move(proxy); }
    // Ask the system proxy resolver when no explicit proxy is set.
    void useSystemProxy(bool use) { useSystemProxy_ = use; }
    bool isSystemProxyUsed() const { return useSystemProxy_; }
    // Replaces the resolver asked for the system proxy (SystemProxyResolver::getDefault() otherwise).
    void setSystemProxyResolver(std::shared_ptr<SystemProxyResolver> resolver);
    // The explicit proxy; else, with the system proxy in use, the resolver's answer for the URL; else null.
    // An answer prepared for the current URL is used once.
    std::shared_ptr<Proxy> getProxy();
    // Asks the system proxy resolver now, when it would be asked, and keeps its answer for the next
    // getProxy of the same URL: a client calls this before it takes its connection, as a PAC fetch and
    // evaluation may take seconds.
    void prepareProxy();

    // Sets a flag only; the running transfer sees it in its callbacks. Safe from any thread.
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }

    // A multi-line dump for the log. Header values not on the allow-list show "Redacted"; cookies show
    // their names only; the body only its size.
    std::string serialize() const;

  private:
    std::shared_ptr<HttpRequestOptions> options_;
    std::shared_ptr<HttpClientListener> listener_;
    std::shared_ptr<Proxy> proxy_;
    bool useSystemProxy_ = false;
    std::shared_ptr<SystemProxyResolver> systemProxyResolver_;
    std::atomic<bool> cancelled_{false};

    std::shared_ptr<Proxy> resolveSystemProxy(const std::string& url);

    std::mutex preparedMutex_;
    bool prepared_ = false;
    std::string preparedUrl_;
    std::shared_ptr<Proxy> preparedProxy_;
};

}  // namespace oxl::http

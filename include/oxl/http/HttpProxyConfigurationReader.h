// Reads the user's proxy configuration and answers which proxy the user's settings choose for a URL.
//
// With a PAC URL the script is fetched (http, https or file; never through a proxy; https against the
// system's trust store; names pinned with NamePinning apply) and FindProxyForURL is evaluated in a separate
// process (PacEvaluator); without one the static proxy string is used. The bypass list of the settings
// travels with the answer. Each failure is logged once and ends as "no proxy".
//
// A fetched script is reused for its URL for a while (AutoConfigOptions::scriptLifetime, 5 minutes by
// default), so that resolutions for many URLs cost one fetch. When the script names several entries
// ("PROXY a:3128; PROXY b:3128; DIRECT") a proxy that has an entry after it is first checked with a TCP
// connection; one that cannot be reached is passed over for AutoConfigOptions::unreachableRetryDelay and the
// next entry is used.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oxl/http/PacEvaluator.h"
#include "oxl/http/Proxy.h"
#include "oxl/http/UserProxySettings.h"

namespace oxl::http {

class HttpProxyConfigurationReader {
  public:
    struct AutoConfigOptions {
        // How long a fetched PAC script is used for its URL before it is fetched again.
        std::chrono::milliseconds scriptLifetime = std::chrono::minutes(5);
        // How long a proxy that could not be reached is passed over.
        std::chrono::milliseconds unreachableRetryDelay = std::chrono::minutes(5);
        // Time allowed for the connection check of a proxy that has a fallback.
        std::chrono::milliseconds connectTimeout = std::chrono::milliseconds(1500);
    };

    // Reads the process-wide default source (UserProxySettingsSource::getDefault) at every call.
    HttpProxyConfigurationReader();
    explicit HttpProxyConfigurationReader(std::shared_ptr<UserProxySettingsSource> source);
    virtual ~HttpProxyConfigurationReader();
    HttpProxyConfigurationReader(const HttpProxyConfigurationReader&) = delete;
    HttpProxyConfigurationReader& operator=(const HttpProxyConfigurationReader&) = delete;

    // Null when the settings cannot be read or name neither a PAC URL nor a proxy. With a PAC URL a Proxy
    // is always returned; it has no server when the script answers DIRECT or cannot be used. Safe from
    // several threads; concurrent calls share one fetch of the script.
    virtual std::shared_ptr<Proxy> getHttpProxyForUrl(const std::string& url);

    // Limits for the PAC script evaluation (time, memory); pinned names are added from NamePinning.
    void setPacOptions(const PacEvaluator::Options& options);
    PacEvaluator::Options getPacOptions() const;
    void setAutoConfigOptions(const AutoConfigOptions& options);
    AutoConfigOptions getAutoConfigOptions() const;
    // Forgets the fetched script and the proxies found unreachable (after the host's settings changed).
    void clearCache();

    // Splits a proxy string at every run of tab, carriage return, line feed, blank and ";".
    static std::vector<std::string> splitProxyList(const std::string& proxyList);

  private:
    class PacSession;
    struct Cache;

    // True when the script was fetched (or taken from the cache) and answered; `server` then holds the
    // entry chosen, empty for DIRECT.
    bool autoResolveProxy(const std::string& url, const std::string& autoConfigUrl, std::string& server);
    bool fetchScript(const std::string& autoConfigUrl, std::string& script);
    std::shared_ptr<Proxy> readProxyForUrl(const std::string& url);

    std::shared_ptr<UserProxySettingsSource> source_;
    mutable std::mutex optionsMutex_;
    PacEvaluator::Options pacOptions_;
    AutoConfigOptions autoConfigOptions_;
    std::unique_ptr<Cache> cache_;
};

}  // namespace oxl::http

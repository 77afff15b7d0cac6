// Reads the user's proxy configuration and answers which proxy the user's settings choose for a URL.
//
// With a PAC URL the script is fetched (http, https or file; never through a proxy; https against the
// system's trust store; names pinned with NamePinning apply) and FindProxyForURL is evaluated in a separate
// process (PacEvaluator); without one the static proxy string is used. The bypass list of the settings
// travels with the answer. Each failure is logged once and ends as "no proxy".
#pragma once

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
    // Reads the process-wide default source (UserProxySettingsSource::getDefault) at every call.
    HttpProxyConfigurationReader();
    explicit HttpProxyConfigurationReader(std::shared_ptr<UserProxySettingsSource> source);
    virtual ~HttpProxyConfigurationReader();
    HttpProxyConfigurationReader(const HttpProxyConfigurationReader&) = delete;
    HttpProxyConfigurationReader& operator=(const HttpProxyConfigurationReader&) = delete;

    // Null when the settings cannot be read or name neither a PAC URL nor a proxy. With a PAC URL a Proxy
    // is always returned; it has no server when the script answers DIRECT or cannot be used.
    virtual std::shared_ptr<Proxy> getHttpProxyForUrl(const std::string& url);

    // Limits for the PAC script evaluation (time, memory); pinned names are added from NamePinning.
    void setPacOptions(const PacEvaluator::Options& options);
    PacEvaluator::Options getPacOptions() const;

    // Splits a proxy string at every run of tab, carriage return, line feed, blank and ";".
    static std::vector<std::string> splitProxyList(const std::string& proxyList);

  private:
    class PacSession;

    // True when the script was fetched and answered; `proxyList` then holds the proxies it named
    // (";"-separated), empty for DIRECT.
    bool autoResolveProxy(const std::string& url, const std::string& autoConfigUrl, std::string& proxyList);
    std::shared_ptr<Proxy> readProxyForUrl(const std::string& url);

    std::shared_ptr<UserProxySettingsSource> source_;
    mutable std::mutex optionsMutex_;
    PacEvaluator::Options pacOptions_;
};

}  // namespace oxl::http

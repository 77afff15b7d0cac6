// The user's proxy configuration and where it comes from.
//
// The configuration has four fields: automatic detection (reported, never acted on), the URL of a proxy
// auto-configuration (PAC) script, a static proxy string and a bypass list. The proxy string holds entries
// separated by ";" or blanks, each "scheme=host:port" (used for URLs of that scheme) or "host:port" (used for
// any scheme). The bypass list holds tokens separated by ";", "," or blanks (see ProxyBypassReader).
//
// The process-wide default source reads the conventional environment variables (see
// EnvironmentProxySettingsSource); a host application that keeps its own proxy settings installs its own
// source with UserProxySettingsSource::setDefault.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace oxl::http {

struct UserProxySettings {
    bool autoDetect = false;
    std::optional<std::string> autoConfigUrl;
    std::optional<std::string> proxy;
    std::optional<std::string> proxyBypass;
};

class UserProxySettingsSource {
  public:
    virtual ~UserProxySettingsSource();

    // Fills `settings`; false, with a reason in `error`, when the settings cannot be read. Called for every
    // resolution that is not answered from a cache, possibly from several threads at once.
    virtual bool read(UserProxySettings& settings, std::string& error) = 0;

    // The source used by readers that were not given one; null restores the environment source.
    static void setDefault(std::shared_ptr<UserProxySettingsSource> source);
    static std::shared_ptr<UserProxySettingsSource> getDefault();
};

}  // namespace oxl::http

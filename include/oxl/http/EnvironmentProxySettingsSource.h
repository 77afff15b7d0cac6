// The user's proxy settings as the conventional environment variables give them, with the meaning curl
// gives them.
//
// https_proxy, http_proxy and all_proxy (each also upper case; a non-empty lower-case value wins) become the
// proxy string "http=host:port;https=host:port;host:port" (all_proxy last, as the entry for any scheme).
// Values may be URLs: an "http://" prefix, user information and a path are dropped; an "https://" prefix
// stays, naming a proxy that is spoken to over TLS; proxies of other schemes (socks5://) are ignored with a
// warning.
// no_proxy (or NO_PROXY) becomes the bypass list: "*" alone bypasses every host; "example.com" and
// ".example.com" both cover the domain and its sub-domains; addresses ("127.0.0.1", "::1" or "[::1]") and
// CIDR ranges ("10.0.0.0/8", "fd00::/8") cover numeric hosts only. Tokens curl would not read as a host
// (names with a port or with wildcards, malformed ranges) are left out with a warning.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "oxl/http/UserProxySettings.h"

namespace oxl::http {

class EnvironmentProxySettingsSource : public UserProxySettingsSource {
  public:
    // Returns the value of one variable, or nothing when it is not set.
    using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

    // Reads the process environment.
    EnvironmentProxySettingsSource();
    explicit EnvironmentProxySettingsSource(Lookup lookup);
    ~EnvironmentProxySettingsSource() override;

    bool read(UserProxySettings& settings, std::string& error) override;

    // One proxy value ("http://user:pw@h:3128/") as "h:3128" ("https://h:443" for an HTTPS proxy); empty when
    // it cannot be used.
    static std::string proxyFromEnvironmentValue(const std::string& variable, const std::string& value);
    // A no_proxy value as a bypass list of ";"-separated tokens.
    static std::string bypassListFromNoProxy(const std::string& noProxy);

  private:
    std::optional<std::string> variable(const std::string& lowerCaseName) const;

    Lookup lookup_;
};

}  // namespace oxl::http

// A proxy to use for a request: the explicit proxy of a request or the answer of the system proxy resolver.
#pragma once

#include <memory>
#include <string>

#include "oxl/http/ProxyTypes.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::http {

class Proxy {
  public:
    Proxy();
    virtual ~Proxy();
    // A copy shares the password.
    Proxy(const Proxy&) = default;
    Proxy& operator=(const Proxy&) = default;

    // Host and port, possibly with a scheme prefix ("http://p:3128"); marks the server as set.
    void setProxyServer(const std::string& server, ProxyType::Type type);
    void setAuthentication(const std::string& username, std::shared_ptr<oxl::SecureString> password,
                           ProxyAuthentication::Type type);
    // The raw bypass list of the settings the proxy came from (";", "," or blank separated).
    void setBypassList(const std::string& bypassList);

    // A dump for the log; credentials are never written, only whether they are set.
    std::string serialize() const;

    const std::string& getUsername() const { return username_; }
    // Null when no password was given.
    const std::shared_ptr<oxl::SecureString>& getPassword() const { return password_; }
    const std::string& getProxyServer() const { return server_; }
    ProxyType::Type getProxyType() const { return type_; }
    ProxyAuthentication::Type getAuthenticationType() const { return authenticationType_; }
    const std::string& getBypassList() const { return bypassList_; }
    bool isServerSet() const { return serverSet_; }

  private:
    std::string username_;
    std::shared_ptr<oxl::SecureString> password_;
    std::string server_;
    ProxyType::Type type_ = ProxyType::HTTP;
    ProxyAuthentication::Type authenticationType_ = ProxyAuthentication::ANY;
    std::string bypassList_;
    bool serverSet_ = false;
};

}  // namespace oxl::http

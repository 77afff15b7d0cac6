#include "oxl/http/Proxy.h"

#include <sstream>
#include <utility>

namespace oxl::http {

Proxy::Proxy() = default;
Proxy::~Proxy() = default;

void Proxy::setProxyServer(const std::string& server, ProxyType::Type type) {
    server_ = server;
    type_ = type;
    serverSet_ = true;
}

void Proxy::setAuthentication(const std::string& username, std::shared_ptr<oxl::SecureString> password,
                              ProxyAuthentication::Type type) {
    username_ = username;
    password_ = std::move(password);
    authenticationType_ = type;
}

void Proxy::setBypassList(const std::string& bypassList) {
    bypassList_ = bypassList;
}

std::string Proxy::serialize() const {
    std::ostringstream os;
    os << "[proxy]\n";
    if (!server_.empty()) {
        os << "Server: " << server_ << "\n";
    }
    if (!username_.empty()) {
        os << "Username: *****\n";
    }
    if (password_ && !password_->empty()) {
        os << "Password: *****\n";
    }
    os << "\t[bypass list]: " << bypassList_ << "\n";
    return os.str();
}

}  // namespace oxl::http

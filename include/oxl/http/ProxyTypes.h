// Kinds of proxy and of proxy authentication a request can ask for. The numbers are part of the exported
// interface; the transfer maps them to libcurl's proxy type and proxy authentication options.
#pragma once

#include <ostream>

namespace oxl::http {

struct ProxyType {
    enum Type : int {
        HTTP = 0,
        HTTP_1_0 = 1,
        SOCKS4 = 2,
        SOCKS4A = 3,
        SOCKS5 = 4,
        SOCKS5_HOSTNAME = 5,
    };
};

struct ProxyAuthentication {
    enum Type : int {
        ANY = 0,
        BASIC = 1,
        DIGEST = 2,
        NTLM = 3,
    };
};

// The upper-case enumerator name, or "Unexpected value (N)".
std::ostream& operator<<(std::ostream& os, ProxyType::Type type);
std::ostream& operator<<(std::ostream& os, ProxyAuthentication::Type type);

}  // namespace oxl::http

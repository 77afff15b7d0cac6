#include "oxl/http/ProxyTypes.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::http {

std::ostream& operator<<(std::ostream& os, ProxyType::Type type) {
    return oxl::detail::printEnum(os, static_cast<int>(type),
                                  {{ProxyType::HTTP, "HTTP"},
                                   {ProxyType::HTTP_1_0, "HTTP_1_0"},
                                   {ProxyType::SOCKS4, "SOCKS4"},
                                   {ProxyType::SOCKS4A, "SOCKS4A"},
                                   {ProxyType::SOCKS5, "SOCKS5"},
                                   {ProxyType::SOCKS5_HOSTNAME, "SOCKS5_HOSTNAME"}});
}

std::ostream& operator<<(std::ostream& os, ProxyAuthentication::Type type) {
    return oxl::detail::printEnum(os, static_cast<int>(type),
                                  {{ProxyAuthentication::ANY, "ANY"},
                                   {ProxyAuthentication::BASIC, "BASIC"},
                                   {ProxyAuthentication::DIGEST, "DIGEST"},
                                   {ProxyAuthentication::NTLM, "NTLM"}});
}

}  // namespace oxl::http

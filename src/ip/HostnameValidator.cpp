#include "oxl/ip/HostnameValidator.h"

#include "oxl/http/HttpUtils.h"
#include "oxl/ip/IpUtils.h"

namespace oxl::ip {

bool HostnameValidator::isValidHostname(const std::string& host) {
    if (host.empty()) {
        return false;
    }
    if (host.find("://") != std::string::npos &&
        !oxl::http::HttpUtils::extractProtocolFromHttpUrl(host).empty()) {
        return false;
    }
    // Read as the authority of a URL, anything after the host is a path.
    if (!oxl::http::HttpUtils::extractRequestFromHttpUrl("http://" + host).empty()) {
        return false;
    }
    const bool ipv6 = IpUtils::isIpv6Address(host);
    if (!ipv6) {
        // A colon outside an IPv6 literal is a port or a malformed address.
        return host.find(':') == std::string::npos;
    }
    return host.find("]:") == std::string::npos;
}

}  // namespace oxl::ip

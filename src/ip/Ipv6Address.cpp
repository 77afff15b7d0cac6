#include "oxl/ip/Ipv6Address.h"

#include "oxl/ip/IpUtils.h"

namespace oxl::ip {

Ipv6Address::Ipv6Address(std::string address) : IpAddress(std::move(address)) {}

Ipv6Address Ipv6Address::createIpv6Address(const std::string& address) {
    if (IpUtils::isIpv6Address(address)) {
        return Ipv6Address(address);
    }
    return Ipv6Address();
}

}  // namespace oxl::ip

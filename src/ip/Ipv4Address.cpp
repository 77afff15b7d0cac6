#include "oxl/ip/Ipv4Address.h"

#include "oxl/ip/IpUtils.h"

namespace oxl::ip {

Ipv4Address::Ipv4Address(std::string address) : IpAddress(std::move(address)) {}

Ipv4Address Ipv4Address::createIpv4Address(const std::string& address) {
    if (IpUtils::isIpv4Address(address)) {
        return Ipv4Address(address);
    }
    return Ipv4Address();
}

}  // namespace oxl::ip

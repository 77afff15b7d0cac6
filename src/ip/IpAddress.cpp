#include "oxl/ip/IpAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::ip {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.ip");
    return l;
}
}  // namespace

IpAddress::IpAddress(std::string address) : address_(std::move(address)) {}

IpAddress IpAddress::createIpAddress(const std::string& address) {
    if (IpUtils::isIpAddress(address)) {
        return IpAddress(address);
    }
    return IpAddress();
}

bool IpAddress::isIpv4Address() const {
    return !address_.empty() && IpUtils::isIpv4Address(address_);
}

bool IpAddress::isIpv6Address() const {
    return !address_.empty() && IpUtils::isIpv6Address(address_);
}

std::vector<uint8_t> IpAddress::getBytes() const {
    // Computed on each call: a const address may be read from several threads at once.
    std::vector<uint8_t> bytes;
    if (address_.empty()) {
        return bytes;
    }
    if (IpUtils::isIpv4Address(address_)) {
        in_addr addr{};
        const int rc = inet_pton(AF_INET, address_.c_str(), &addr);
        if (rc != 1) {
            OXL_LOG_ERROR(logger(), "inet_pton unable to populate sockAddr.sin_addr, pton_retval: " << rc);
            return bytes;
        }
        const auto* p = reinterpret_cast<const uint8_t*>(&addr.s_addr);
        bytes.assign(p, p + 4);
    } else if (IpUtils::isIpv6Address(address_)) {
        in6_addr addr{};
        // A zone ("fe80::1%eth0") names the link, not part of the address.
        const std::string bare = address_.substr(0, address_.find('%'));
        const int rc = inet_pton(AF_INET6, bare.c_str(), &addr);
        if (rc != 1) {
            OXL_LOG_ERROR(logger(), "inet_pton unable to populate sockAddr.sin6_addr, pton_retval: " << rc);
            return bytes;
        }
        bytes.assign(addr.s6_addr, addr.s6_addr + 16);
    }
    return bytes;
}

std::ostream& operator<<(std::ostream& os, const IpAddress& address) {
    if (address.isEmpty()) {
        return os << "(empty)";
    }
    return os << address.getAddress();
}

}  // namespace oxl::ip

// Static helpers: numeric address classification (never a name lookup), host-and-port joining, and the
// addresses of a finished libcurl transfer.
#pragma once

#include <cstdint>
#include <string>

namespace oxl::ip {

class IpUtils {
  public:
    IpUtils() = delete;

    static bool isIpAddress(const std::string& address);
    static bool isIpv4Address(const std::string& address);
    static bool isIpv6Address(const std::string& address);

    // "host:port", "[v6]:port" for an IPv6 literal; empty for an invalid host or port 0.
    static std::string appendPortToAddress(const std::string& address, unsigned short port);
    // As above; empty as well for a port of 65536 or more.
    static std::string appendPortToAddress(const std::string& address, unsigned int port);

    // Reads CURLINFO_LOCAL_IP and CURLINFO_PRIMARY_IP of a libcurl easy handle (CURL*); true when at least
    // one of them is non-empty.
    static bool getIpAddressesFromCurl(void* curlHandle, std::string& localAddress,
                                       std::string& destinationAddress);
};

}  // namespace oxl::ip

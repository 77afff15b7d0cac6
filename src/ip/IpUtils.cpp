#include "oxl/ip/IpUtils.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "oxl/common/ScopedWinSockInitialiser.h"
#include "oxl/ip/HostnameValidator.h"
#include "oxl/log/Log.h"

namespace oxl::ip {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.ip");
    return l;
}

// AI_NUMERICHOST keeps getaddrinfo from ever asking a resolver: only numeric text is classified.
int numericFamily(const std::string& address) {
    // The C functions below would read only up to a NUL byte and accept "10.0.0.1\0anything".
    if (address.empty() || address.find('\0') != std::string::npos) {
        return 0;
    }
    ScopedWinSockInitialiser sockets;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* result = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return 0;
    }
    const int family = result->ai_family;
    freeaddrinfo(result);
    // getaddrinfo also takes the legacy IPv4 forms ("10", "127.1", "0x7f.0.0.1"); only the dotted quad is
    // an IPv4 address here, so that every accepted address has a binary form.
    if (family == AF_INET) {
        in_addr unused{};
        if (inet_pton(AF_INET, address.c_str(), &unused) != 1) {
            return 0;
        }
    }
    return family;
}

std::string readIpInfo(CURL* handle, CURLINFO info) {
    if (handle == nullptr) {
        return {};
    }
    char* value = nullptr;
    const CURLcode rc = curl_easy_getinfo(handle, info, &value);
    if (rc != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "Unable to get IP address information from the Curl handle: " << rc);
        return {};
    }
    return value != nullptr ? std::string(value) : std::string();
}
}  // namespace

bool IpUtils::isIpAddress(const std::string& address) {
    const int family = numericFamily(address);
    return family == AF_INET || family == AF_INET6;
}

bool IpUtils::isIpv4Address(const std::string& address) {
    return numericFamily(address) == AF_INET;
}

bool IpUtils::isIpv6Address(const std::string& address) {
    return numericFamily(address) == AF_INET6;
}

std::string IpUtils::appendPortToAddress(const std::string& address, unsigned short port) {
    if (!HostnameValidator::isValidHostname(address)) {
        OXL_LOG_ERROR(
            logger(),
            "Unable to append a port to the provided address. It is not a valid hostname: " << address);
        return {};
    }
    if (port == 0) {
        OXL_LOG_ERROR(logger(), "Unable to append the port to the provided hostname. The port must not be 0");
        return {};
    }
    if (numericFamily(address) == AF_INET6) {
        return "[" + address + "]:" + std::to_string(port);
    }
    return address + ":" + std::to_string(port);
}

std::string IpUtils::appendPortToAddress(const std::string& address, unsigned int port) {
    if (port >= 65536U) {
        OXL_LOG_ERROR(logger(), "The provided port number is out of range: " << port);
        return {};
    }
    return appendPortToAddress(address, static_cast<unsigned short>(port));
}

bool IpUtils::getIpAddressesFromCurl(void* curlHandle, std::string& localAddress,
                                     std::string& destinationAddress) {
    localAddress = readIpInfo(curlHandle, CURLINFO_LOCAL_IP);
    destinationAddress = readIpInfo(curlHandle, CURLINFO_PRIMARY_IP);
    return !localAddress.empty() || !destinationAddress.empty();
}

}  // namespace oxl::ip

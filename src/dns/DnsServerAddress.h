// Internal: a name server address with port, and the process-wide override set by
// DnsUtilsScopedSetCustomServerAddress.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace oxl::dns::detail {

struct DnsServerAddress {
    int family = 0;                         // AF_INET or AF_INET6
    std::array<unsigned char, 16> bytes{};  // 4 or 16 bytes used, network order
    uint16_t port = 53;

    // "host:port" with IPv6 in brackets.
    std::string toString() const;
    bool operator==(const DnsServerAddress& other) const = default;
};

// Parses "a.b.c.d[:port]", "v6", "[v6]" or "[v6]:port"; nothing for anything else (including port 0).
std::optional<DnsServerAddress> parseDnsServerAddress(const std::string& text);

// The override currently in force, if any.
std::optional<DnsServerAddress> currentCustomServer();

}  // namespace oxl::dns::detail

// Finds the NAT64 prefix inside an IPv6 address synthesised from a well-known IPv4 address (RFC 7050:
// 192.0.0.170 or 192.0.0.171), at one of the RFC 6052 positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "oxl/ip/Ipv6Address.h"

namespace oxl::ip {

class Nat64PrefixParser {
  public:
    explicit Nat64PrefixParser(const Ipv6Address& address);

    // The bytes before the well-known address: 4, 5, 6, 7, 9 (the /64 prefix and the zero octet) or 12
    // bytes; empty when the address holds no valid well-known address.
    std::vector<uint8_t> getPrefix() const;
    // Where the well-known address starts (4, 5, 6, 7, 9 or 12), 0 when none was found.
    size_t getPosition() const { return position_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
};

}  // namespace oxl::ip

// An IpAddress that can only hold IPv6 text.
#pragma once

#include <string>

#include "oxl/ip/IpAddress.h"

namespace oxl::ip {

class Ipv6Address : public IpAddress {
  public:
    Ipv6Address() = default;
    // Holds the text only when it is numeric IPv6 text, else the empty address.
    static Ipv6Address createIpv6Address(const std::string& address);

  private:
    explicit Ipv6Address(std::string address);
};

}  // namespace oxl::ip

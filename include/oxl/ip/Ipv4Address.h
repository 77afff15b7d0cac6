// An IpAddress that can only hold IPv4 text.
#pragma once

#include <string>

#include "oxl/ip/IpAddress.h"

namespace oxl::ip {

class Ipv4Address : public IpAddress {
  public:
    Ipv4Address() = default;
    // Holds the text only when it is numeric IPv4 text, else the empty address.
    static Ipv4Address createIpv4Address(const std::string& address);

  private:
    explicit Ipv4Address(std::string address);
};

}  // namespace oxl::ip

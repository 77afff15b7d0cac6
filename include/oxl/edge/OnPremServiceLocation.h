// One enterprise server of an on-premises service, with SRV-style priority and weight.
#pragma once

#include <string>

namespace oxl::edge {

class OnPremServiceLocation {
  public:
    OnPremServiceLocation() = default;

    bool operator==(const OnPremServiceLocation& other) const;
    bool operator!=(const OnPremServiceLocation& other) const { return !(*this == other); }

    std::string address;
    unsigned int port = 0;
    unsigned int priority = 0;  // lower is preferred
    unsigned int weight = 0;
};

}  // namespace oxl::edge

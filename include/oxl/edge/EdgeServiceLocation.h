// One edge (reverse-proxy) server: its address and the ports it listens on.
#pragma once

#include <string>

namespace oxl::edge {

class EdgeServiceLocation {
  public:
    EdgeServiceLocation() = default;
    EdgeServiceLocation(std::string address, unsigned int tlsPort, unsigned int udpPort);

    // Same address bytes and both ports.
    bool operator==(const EdgeServiceLocation& other) const;
    bool operator!=(const EdgeServiceLocation& other) const { return !(*this == other); }

    std::string address;
    unsigned int tlsPort = 0;
    unsigned int udpPort = 0;
};

}  // namespace oxl::edge

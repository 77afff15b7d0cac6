#include "oxl/edge/EdgeServiceLocation.h"

#include <utility>

namespace oxl::edge {

EdgeServiceLocation::EdgeServiceLocation(std::string address, unsigned int tlsPort, unsigned int udpPort)
    : address(std::move(address)), tlsPort(tlsPort), udpPort(udpPort) {}

bool EdgeServiceLocation::operator==(const EdgeServiceLocation& other) const {
    return address == other.address && tlsPort == other.tlsPort && udpPort == other.udpPort;
}

}  // namespace oxl::edge

// Where every part of the library reports what it learned about the network: hints for the edge detection
// (an interface may have dropped, the stack was not ready, the network is in use, the OS saw an interface
// change) and edge infrastructure events for the edge failover logic. Obtained from NetUtilsFactory.
#pragma once

#include <string>

namespace oxl::netutils {

class NetworkEventReporter {
  public:
    virtual void hintNetworkInterfaceMightHaveDropped(const std::string& label) = 0;
    virtual void hintNetworkStackNotReady(const std::string& label) = 0;
    virtual void hintNetworkIsInUse(const std::string& label) = 0;
    virtual void hintHostOsIpInterfaceChanged(const std::string& label) = 0;
    // `server` is the edge host the event concerns.
    virtual void edgeInfrastructureEvent(const std::string& label, const std::string& server) = 0;
    virtual ~NetworkEventReporter() = default;
};

}  // namespace oxl::netutils

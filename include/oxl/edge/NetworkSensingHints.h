// Entry points for hints about the network that other parts of the library observe (a transfer failed to
// reach its host, the stack was not ready, a request got through, the OS reported an interface change).
// The edge detection decides whether a hint warrants re-detection.
#pragma once

#include <string>

namespace oxl::edge {

class NetworkSensingHints {
  public:
    virtual ~NetworkSensingHints() = default;
    virtual void hintNetworkInterfaceMightHaveDropped(const std::string& label) = 0;
    virtual void hintNetworkStackNotReady(const std::string& label) = 0;
    virtual void hintNetworkIsInUse(const std::string& label) = 0;
    virtual void hintHostOsIpInterfaceChanged(const std::string& label) = 0;
};

}  // namespace oxl::edge

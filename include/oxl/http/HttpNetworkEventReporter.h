// Where the HTTP client reports what a transfer learned about the network. Implemented over the
// process-wide network event reporter; calls must not block the transfer thread.
#pragma once

#include <string>

namespace oxl::http {

class HttpNetworkEventReporter {
  public:
    virtual void hintNetworkInterfaceMightHaveDropped(const std::string& label) = 0;
    virtual void hintNetworkStackNotReady(const std::string& label) = 0;
    virtual void hintNetworkIsInUse(const std::string& label) = 0;
    // `server` is the host of the edge URL concerned.
    virtual void edgeInfrastructureEvent(const std::string& label, const std::string& server) = 0;
    virtual ~HttpNetworkEventReporter() = default;
};

}  // namespace oxl::http

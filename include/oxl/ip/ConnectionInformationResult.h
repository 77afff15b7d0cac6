// Outcome of a connection probe: the result and the local and remote addresses that were used.
#pragma once

#include <ostream>

#include "oxl/ip/IpAddress.h"

namespace oxl::ip {

class ConnectionInformationResult {
  public:
    enum Result : int {
        Success = 0,
        ErrorInvalidParameter = 1,
        ErrorCouldNotConnect = 2,
        ErrorInternal = 3,
    };

    ConnectionInformationResult() = default;
    ConnectionInformationResult(Result result, IpAddress localAddress, IpAddress destinationAddress)
        : result_(result),
          localAddress_(std::move(localAddress)),
          destinationAddress_(std::move(destinationAddress)) {}

    Result getResult() const { return result_; }
    const IpAddress& getLocalAddress() const { return localAddress_; }
    const IpAddress& getDestinationAddress() const { return destinationAddress_; }

  private:
    Result result_ = Success;
    IpAddress localAddress_;
    IpAddress destinationAddress_;
};

// The name alone ("Success"); any other value as its decimal number.
std::ostream& operator<<(std::ostream& os, ConnectionInformationResult::Result result);
// "Result Success, localAddress 127.0.0.1, destinationAddress 127.0.0.1"
std::ostream& operator<<(std::ostream& os, const ConnectionInformationResult& result);

}  // namespace oxl::ip

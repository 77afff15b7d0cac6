// Probes whether an internal server accepts a TCP connection.
#pragma once

#include <cstdint>

#include "oxl/edge/EdgeTransitionDetectionTypes.h"
#include "oxl/edge/NetworkTester.h"

namespace oxl::edge {

class DirectConnectivityTester : public NetworkTester {
  public:
    DirectConnectivityTester(TcpEndpoint endpoint, std::int32_t timeoutSeconds);

    // True exactly when the connection could be made within the timeout.
    bool test() override;

    const TcpEndpoint& getEndpoint() const { return endpoint_; }
    std::int32_t getTimeoutSeconds() const { return timeoutSeconds_; }

  private:
    TcpEndpoint endpoint_;
    std::int32_t timeoutSeconds_;
};

}  // namespace oxl::edge

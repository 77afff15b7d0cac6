// A yes/no network probe used by the direct-connect state machines.
#pragma once

namespace oxl::edge {

class NetworkTester {
  public:
    virtual bool test() = 0;
    virtual ~NetworkTester() = default;
};

}  // namespace oxl::edge

// Told about every network-sensing outcome of edge detection, changed or not.
#pragma once

#include "oxl/edge/EdgeTransitionDetectionTypes.h"

namespace oxl::edge {

class NetworkSensingObserver {
  public:
    virtual ~NetworkSensingObserver() = default;
    virtual void onNetworkSensingEvent(const NetworkSensingEvent& event) = 0;
};

}  // namespace oxl::edge

// The edge servers of one protocol (HTTP, XMPP, SIP or TURN), in the order the edge listed them.
#pragma once

#include <vector>

#include "oxl/edge/EdgeServiceLocation.h"

namespace oxl::edge {

class EdgeService {
  public:
    bool isServiceAvailable() const { return !serverLocations.empty(); }

    // Same locations in the same order.
    bool operator==(const EdgeService& other) const;
    bool operator!=(const EdgeService& other) const;

    std::vector<EdgeServiceLocation> serverLocations;
};

}  // namespace oxl::edge

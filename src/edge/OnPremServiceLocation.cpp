#include "oxl/edge/OnPremServiceLocation.h"

namespace oxl::edge {

bool OnPremServiceLocation::operator==(const OnPremServiceLocation& other) const {
    return address == other.address && port == other.port && priority == other.priority &&
           weight == other.weight;
}

}  // namespace oxl::edge

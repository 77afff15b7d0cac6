#include "oxl/edge/OnPremService.h"

namespace oxl::edge {

bool OnPremService::operator==(const OnPremService& other) const {
    return name == other.name && error == other.error && serverLocations == other.serverLocations;
}

bool OnPremService::operator!=(const OnPremService& other) const {
    return !(*this == other);
}

}  // namespace oxl::edge

#include "oxl/edge/EdgeService.h"

namespace oxl::edge {

bool EdgeService::operator==(const EdgeService& other) const {
    return serverLocations == other.serverLocations;
}

bool EdgeService::operator!=(const EdgeService& other) const {
    return !(*this == other);
}

}  // namespace oxl::edge

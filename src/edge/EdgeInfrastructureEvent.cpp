#include "oxl/edge/EdgeInfrastructureEvent.h"

namespace oxl::edge {

std::string EdgeInfrastructureEvent::toString() const {
    return "label: " + label_ + " server: " + server_;
}

}  // namespace oxl::edge

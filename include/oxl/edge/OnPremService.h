// One enterprise service reachable through the edge, keyed by its name (usually an SRV service name).
#pragma once

#include <string>
#include <vector>

#include "oxl/edge/OnPremServiceLocation.h"

namespace oxl::edge {

class OnPremService {
  public:
    // Values of `error`, as the edge reports the state of the service.
    static constexpr unsigned int ERROR_NONE = 0;
    static constexpr unsigned int ERROR_FORMAT = 1;           // "FormatError"
    static constexpr unsigned int ERROR_SERVER = 2;           // "ServerError"
    static constexpr unsigned int ERROR_NAME = 3;             // "NameError"
    static constexpr unsigned int ERROR_NOT_IMPLEMENTED = 4;  // "NotImplemented"
    static constexpr unsigned int ERROR_REFUSED = 5;          // "Refused"
    static constexpr unsigned int ERROR_UNKNOWN = 6;          // any other text; also a default service
    static constexpr unsigned int ERROR_SERVER_PARSE = 7;     // a server entry could not be read

    OnPremService() = default;

    // Same name bytes, error and locations in the same order.
    bool operator==(const OnPremService& other) const;
    bool operator!=(const OnPremService& other) const;

    std::string name;
    std::vector<OnPremServiceLocation> serverLocations;
    unsigned int error = ERROR_UNKNOWN;
};

}  // namespace oxl::edge

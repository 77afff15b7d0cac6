#include "oxl/ip/ConnectionInformationResult.h"

namespace oxl::ip {

std::ostream& operator<<(std::ostream& os, ConnectionInformationResult::Result result) {
    switch (result) {
        case ConnectionInformationResult::Success:
            return os << "Success";
        case ConnectionInformationResult::ErrorInvalidParameter:
            return os << "ErrorInvalidParameter";
        case ConnectionInformationResult::ErrorCouldNotConnect:
            return os << "ErrorCouldNotConnect";
        case ConnectionInformationResult::ErrorInternal:
            return os << "ErrorInternal";
    }
    return os << static_cast<int>(result);
}

std::ostream& operator<<(std::ostream& os, const ConnectionInformationResult& result) {
    return os << "Result " << result.getResult() << ", localAddress " << result.getLocalAddress()
              << ", destinationAddress " << result.getDestinationAddress();
}

}  // namespace oxl::ip

// How the server certificate's identities are matched: SOFT_MATCH accepts any reference identifier,
// STRICT_MATCH also requires the server host name.
#pragma once

#include <ostream>

namespace oxl::http {

struct IdentityMatchModel {
    enum Model : int {
        SOFT_MATCH = 0,
        STRICT_MATCH = 1,
    };

    // "SOFT_MATCH", "STRICT_MATCH", or "Unexpected value (N)".
    static const char* toString(int model);
};

std::ostream& operator<<(std::ostream& os, IdentityMatchModel::Model model);

}  // namespace oxl::http

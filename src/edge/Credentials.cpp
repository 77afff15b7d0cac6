#include "oxl/edge/Credentials.h"

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

bool Credentials::isSameCredentials(const Credentials& other) const {
    bool same = false;
    if (!other.token.empty()) {
        same = token.equals(other.token);
    } else if (username == other.username) {
        same = password.equals(other.password);
    }
    OXL_LOG_DEBUG(logger(), "They're " << (same ? "Same" : "Different") << " Credentials.");
    return same;
}

}  // namespace oxl::edge

#include "oxl/common/EmailAddressParser.h"

#include "oxl/log/Log.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common");
    return l;
}
}  // namespace

EmailAddressParser::EmailAddressParser(const std::string& email) {
    if (email.empty()) {
        OXL_LOG_WARN(logger(), "Email Address is blank.");
        return;
    }
    // The last '@' separates the domain: a quoted local part may itself contain '@'.
    const std::size_t at = email.rfind('@');
    if (at == std::string::npos) {
        OXL_LOG_WARN(logger(), "Malformed Email Address.");
        username_ = email;
        return;
    }
    username_ = email.substr(0, at);
    domain_ = email.substr(at + 1);
}

}  // namespace oxl::common

// E-mail addresses a user types or a server returns: user part and domain around the last '@'.
#include <string>

#include "FuzzSupport.h"
#include "oxl/common/EmailAddressParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string email(reinterpret_cast<const char*>(data), size);
    const oxl::common::EmailAddressParser parser(email);
    const std::string user = parser.getUsername();
    const std::string domain = parser.getDomain();
    OXL_FUZZ_CHECK(domain.find('@') == std::string::npos, "the domain holds an '@'");
    if (email.find('@') == std::string::npos) {
        OXL_FUZZ_CHECK(user == email && domain.empty(), "an address without '@' was split");
    } else {
        OXL_FUZZ_CHECK(user + "@" + domain == email, "the parts do not make up the address");
    }
    return 0;
}

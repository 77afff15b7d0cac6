#include "oxl/http/HttpHeaders.h"

#include <strings.h>

#include <array>

namespace oxl::http {

bool isLoggableRequestHeader(const std::string& name) {
    static constexpr std::array<const char*, 7> ALLOWED = {
        "ACCEPT", "CONNECTION", "CONTENT-LENGTH", "CONTENT-TYPE", "HOST", "PROXY-CONNECTION", "USER-AGENT"};
    for (const char* allowed : ALLOWED) {
        if (strcasecmp(name.c_str(), allowed) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace oxl::http

// The proxy-list choice of HttpUtils; kept apart from the URL text operations.
#include "oxl/http/HttpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}
}  // namespace

// Entries are "scheme=host:port" (only for that scheme) or "host:port" (any scheme). The first that fits
// wins, unchanged.
std::string HttpUtils::getProxyFromList(const std::string& scheme, const std::vector<std::string>& entries) {
    const std::string wanted = scheme.empty() ? "http" : scheme;
    if (entries.empty()) {
        OXL_LOG_DEBUG(logger(), "Proxy list empty");
        return {};
    }
    for (const auto& entry : entries) {
        std::string candidate = entry;
        const auto equals = entry.find('=');
        if (equals != std::string::npos) {
            if (entry.substr(0, equals) != wanted) {
                continue;
            }
            candidate = entry.substr(equals + 1);
        }
        // "http://" and "https://" say how to talk to the proxy (an HTTPS proxy serves http URLs too);
        // another prefix is read as the URL scheme the entry is meant for.
        const auto separator = candidate.find("://");
        if (separator != std::string::npos) {
            const std::string prefix = candidate.substr(0, separator);
            if (prefix != "http" && prefix != "https" && prefix != wanted) {
                continue;
            }
        }
        return candidate;
    }
    return {};
}

}  // namespace oxl::http

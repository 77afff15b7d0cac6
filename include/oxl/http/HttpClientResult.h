// Outcome of one HTTP transfer and errors of the clients' own calls.
#pragma once

#include <ostream>

namespace oxl::http {

struct HttpClientResult {
    enum Result : int {
        SUCCESS = 0,
        URL_NOT_SET_ERROR = 1,
        HTTP_CONFIGURATION_ERROR = 2,
        UNRESOLVED_HOST_ERROR = 3,
        HOST_UNREACHABLE_ERROR = 4,
        CONNECTION_TIMEOUT_ERROR = 5,
        CERTIFICATE_VALIDATION_ERROR = 6,
        CLIENT_CERTIFICATE_ERROR = 7,
        REQUEST_CANCELLED = 8,
        UNSUPPORTED_PROTOCOL_ERROR = 9,
        COULDNT_RESOLVE_PROXY_ERROR = 10,
        // 11 has no name: it stands for a libcurl read error and is printed as its number.
        READ_ERROR = 11,
        POLICY_NOT_ENFORCED_ERROR = 12,
        POLICY_NOT_AVAILABLE_ERROR = 13,
        UNRESOLVED_PROXY_ERROR = 14,
        REQUEST_LOST = 15,
        FILE_READ_ERROR = 16,
        EDGE_AUTHENTICATION_FAILED = 17,
        SSL_CONNECTION_ERROR = 18,
        FILE_WRITE_ERROR = 19,
        UNKNOWN_ERROR = 20,
        // The body grew past HttpRequestOptions::maxResponseBodySize.
        RESPONSE_TOO_LARGE_ERROR = 21,
        // More redirects than the client follows, or a redirect loop.
        TOO_MANY_REDIRECTS_ERROR = 22,
    };
};

// The upper-case name; 11 and any value outside the table are written as their number.
std::ostream& operator<<(std::ostream& os, HttpClientResult::Result result);

}  // namespace oxl::http

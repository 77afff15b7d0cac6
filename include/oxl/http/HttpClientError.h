// Errors of the HTTP clients' own calls (as opposed to the outcome of a transfer).
#pragma once

#include <ostream>

namespace oxl::http {

struct HttpClientError {
    enum Error : int {
        SUCCESS = 0,
        URL_NOT_SET_ERROR = 1,
        INVALID_PARAMETER_ERROR = 2,
        REQUEST_NOT_SET_ERROR = 3,
        UNABLE_TO_CANCEL_REQUEST_ERROR = 4,
        UNABLE_TO_PROCESS_REQUEST_ERROR = 5,
        POLICY_NOT_ENFORCED_ERROR = 6,
        POLICY_NOT_AVAILABLE_ERROR = 7,
        FILE_READ_ERROR = 8,
        UNRESOLVED_HOST_ERROR = 9,
        UNKNOWN_ERROR = 10,
    };
};

// The upper-case name, or "Unexpected value (N)".
std::ostream& operator<<(std::ostream& os, HttpClientError::Error error);

}  // namespace oxl::http

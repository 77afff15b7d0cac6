#include "oxl/http/HttpClientResult.h"

namespace oxl::http {

std::ostream& operator<<(std::ostream& os, HttpClientResult::Result result) {
    switch (result) {
        case HttpClientResult::SUCCESS:
            return os << "SUCCESS";
        case HttpClientResult::URL_NOT_SET_ERROR:
            return os << "URL_NOT_SET_ERROR";
        case HttpClientResult::HTTP_CONFIGURATION_ERROR:
            return os << "HTTP_CONFIGURATION_ERROR";
        case HttpClientResult::UNRESOLVED_HOST_ERROR:
            return os << "UNRESOLVED_HOST_ERROR";
        case HttpClientResult::HOST_UNREACHABLE_ERROR:
            return os << "HOST_UNREACHABLE_ERROR";
        case HttpClientResult::CONNECTION_TIMEOUT_ERROR:
            return os << "CONNECTION_TIMEOUT_ERROR";
        case HttpClientResult::CERTIFICATE_VALIDATION_ERROR:
            return os << "CERTIFICATE_VALIDATION_ERROR";
        case HttpClientResult::CLIENT_CERTIFICATE_ERROR:
            return os << "CLIENT_CERTIFICATE_ERROR";
        case HttpClientResult::REQUEST_CANCELLED:
            return os << "REQUEST_CANCELLED";
        case HttpClientResult::UNSUPPORTED_PROTOCOL_ERROR:
            return os << "UNSUPPORTED_PROTOCOL_ERROR";
        case HttpClientResult::COULDNT_RESOLVE_PROXY_ERROR:
            return os << "COULDNT_RESOLVE_PROXY_ERROR";
        case HttpClientResult::POLICY_NOT_ENFORCED_ERROR:
            return os << "POLICY_NOT_ENFORCED_ERROR";
        case HttpClientResult::POLICY_NOT_AVAILABLE_ERROR:
            return os << "POLICY_NOT_AVAILABLE_ERROR";
        case HttpClientResult::UNRESOLVED_PROXY_ERROR:
            return os << "UNRESOLVED_PROXY_ERROR";
        case HttpClientResult::REQUEST_LOST:
            return os << "REQUEST_LOST";
        case HttpClientResult::FILE_READ_ERROR:
            return os << "FILE_READ_ERROR";
        case HttpClientResult::EDGE_AUTHENTICATION_FAILED:
            return os << "EDGE_AUTHENTICATION_FAILED";
        case HttpClientResult::SSL_CONNECTION_ERROR:
            return os << "SSL_CONNECTION_ERROR";
        case HttpClientResult::FILE_WRITE_ERROR:
            return os << "FILE_WRITE_ERROR";
        case HttpClientResult::UNKNOWN_ERROR:
            return os << "UNKNOWN_ERROR";
        case HttpClientResult::RESPONSE_TOO_LARGE_ERROR:
            return os << "RESPONSE_TOO_LARGE_ERROR";
        case HttpClientResult::TOO_MANY_REDIRECTS_ERROR:
            return os << "TOO_MANY_REDIRECTS_ERROR";
        case HttpClientResult::READ_ERROR:
            break;
    }
    return os << static_cast<int>(result);
}

}  // namespace oxl::http

#include "oxl/http/HttpClientError.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::http {

std::ostream& operator<<(std::ostream& os, HttpClientError::Error error) {
    return oxl::detail::printEnum(
        os, error,
        {{HttpClientError::SUCCESS, "SUCCESS"},
         {HttpClientError::URL_NOT_SET_ERROR, "URL_NOT_SET_ERROR"},
         {HttpClientError::INVALID_PARAMETER_ERROR, "INVALID_PARAMETER_ERROR"},
         {HttpClientError::REQUEST_NOT_SET_ERROR, "REQUEST_NOT_SET_ERROR"},
         {HttpClientError::UNABLE_TO_CANCEL_REQUEST_ERROR, "UNABLE_TO_CANCEL_REQUEST_ERROR"},
         {HttpClientError::UNABLE_TO_PROCESS_REQUEST_ERROR, "UNABLE_TO_PROCESS_REQUEST_ERROR"},
         {HttpClientError::POLICY_NOT_ENFORCED_ERROR, "POLICY_NOT_ENFORCED_ERROR"},
         {HttpClientError::POLICY_NOT_AVAILABLE_ERROR, "POLICY_NOT_AVAILABLE_ERROR"},
         {HttpClientError::FILE_READ_ERROR, "FILE_READ_ERROR"},
         {HttpClientError::UNRESOLVED_HOST_ERROR, "UNRESOLVED_HOST_ERROR"},
         {HttpClientError::UNKNOWN_ERROR, "UNKNOWN_ERROR"}});
}

}  // namespace oxl::http

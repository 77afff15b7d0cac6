#include "oxl/edge/GlobalEdgeState.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

std::ostream& operator<<(std::ostream& os, GlobalEdgeState::GetEdgeConfigurationResult::Result result) {
    using R = GlobalEdgeState::GetEdgeConfigurationResult;
    return oxl::detail::printEnum(
        os, result,
        {{R::SUCCESS, "SUCCESS"},
         {R::EDGE_CONNECTIVITY_UNAVAILABLE, "EDGE_CONNECTIVITY_UNAVAILABLE"},
         {R::SERVICE_NAME_UNAVAILABLE, "SERVICE_NAME_UNAVAILABLE"},
         {R::EDGE_SERVER_CONNECTION_PARAMS_UNAVAILABLE, "EDGE_SERVER_CONNECTION_PARAMS_UNAVAILABLE"},
         {R::EDGE_AUTHENTICATION_FAILED, "EDGE_AUTHENTICATION_FAILED"},
         {R::EDGE_SERVER_CERTIFICATE_VALIDATION_ERROR, "EDGE_SERVER_CERTIFICATE_VALIDATION_ERROR"},
         {R::INVALID_EDGE_CONFIGURATION, "INVALID_EDGE_CONFIGURATION"},
         {R::INTERNAL_ERROR, "INTERNAL_ERROR"},
         {R::REQUEST_SUBMITTED, "REQUEST_SUBMITTED"},
         {R::INVALID_ARGUMENT, "INVALID_ARGUMENT"},
         {R::CREDENTIALS_NOT_SET, "CREDENTIALS_NOT_SET"},
         {R::SSL_CONNECTION_ERROR, "SSL_CONNECTION_ERROR"},
         {R::TOO_MANY_REQUESTS, "TOO_MANY_REQUESTS"}});
}

std::ostream& operator<<(std::ostream& os, GlobalEdgeState::TerminateEdgeSessionResult::Result result) {
    using R = GlobalEdgeState::TerminateEdgeSessionResult;
    return oxl::detail::printEnum(os, result,
                                  {{R::SUCCESS, "SUCCESS"},
                                   {R::INVALID_CREDENTIALS, "INVALID_CREDENTIALS"},
                                   {R::EDGE_CONNECTIVITY_UNAVAILABLE, "EDGE_CONNECTIVITY_UNAVAILABLE"},
                                   {R::UNKNOWN_ERROR, "UNKNOWN_ERROR"}});
}

}  // namespace oxl::edge

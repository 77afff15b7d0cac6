#include "oxl/edge/EdgeConfigHttpClient.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

std::ostream& operator<<(std::ostream& os, EdgeConfigHttpClient::Result result) {
    using R = EdgeConfigHttpClient;
    return oxl::detail::printEnum(os, static_cast<int>(result),
                                  {{R::SUCCESS, "SUCCESS"},
                                   {R::CERTIFICATE_VALIDATION_ERROR, "CERTIFICATE_VALIDATION_ERROR"},
                                   {R::CONNECTION_FAILED, "CONNECTION_FAILED"},
                                   {R::SSL_CONNECTION_ERROR, "SSL_CONNECTION_ERROR"},
                                   {R::FAILED_TO_RESOLVE_HOST, "FAILED_TO_RESOLVE_HOST"},
                                   {R::INTERNAL_ERROR, "INTERNAL_ERROR"},
                                   {R::UNKNOWN_ERROR, "UNKNOWN_ERROR"},
                                   {R::RESPONSE_TOO_LARGE, "RESPONSE_TOO_LARGE"}});
}

}  // namespace oxl::edge

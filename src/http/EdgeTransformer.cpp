#include "oxl/http/EdgeTransformer.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::http {

std::ostream& operator<<(std::ostream& os, EdgeTransformer::TransformRequestResult::Result result) {
    using R = EdgeTransformer::TransformRequestResult;
    return oxl::detail::printEnum(os, result,
                                  {{R::SUCCESS, "SUCCESS"},
                                   {R::INVALID_PARAMETERS, "INVALID_PARAMETERS"},
                                   {R::MALFORMED_REQUEST, "MALFORMED_REQUEST"},
                                   {R::EDGE_ENVIRONMENT_UNAVAILABLE, "EDGE_ENVIRONMENT_UNAVAILABLE"},
                                   {R::EDGE_AUTHENTICATION_FAILED, "EDGE_AUTHENTICATION_FAILED"},
                                   {R::EDGE_SSL_CONNECTION_ERROR, "EDGE_SSL_CONNECTION_ERROR"},
                                   {R::UNKNOWN, "UNKNOWN"}});
}

}  // namespace oxl::http

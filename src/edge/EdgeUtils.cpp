#include "oxl/edge/EdgeUtils.h"

#include "oxl/edge/EdgeUtilsImpl.h"
#include "oxl/runtime/EnumPrint.h"

namespace oxl::edge {

EdgeUtils::~EdgeUtils() = default;

std::shared_ptr<EdgeUtils>& EdgeUtils::getInstance() {
    // Never destroyed: adapters may still use it while static objects go away.
    static auto* instance = new std::shared_ptr<EdgeUtils>(std::make_shared<EdgeUtilsImpl>());
    return *instance;
}

std::ostream& operator<<(std::ostream& os, EdgeUtils::TransformHttpUrlResult::Result result) {
    using R = EdgeUtils::TransformHttpUrlResult;
    return oxl::detail::printEnum(os, result,
                                  {{R::SUCCESS, "SUCCESS"},
                                   {R::EDGE_CONFIG_UNAVAILABLE, "EDGE_CONFIG_UNAVAILABLE"},
                                   {R::HTTP_EDGE_SERVER_UNAVAILABLE, "HTTP_EDGE_SERVER_UNAVAILABLE"},
                                   {R::EDGE_DOMAIN_NOT_SET, "EDGE_DOMAIN_NOT_SET"},
                                   {R::MALFORMED_REQUEST, "MALFORMED_REQUEST"},
                                   {R::EDGE_AUTHENTICATION_FAILED, "EDGE_AUTHENTICATION_FAILED"},
                                   {R::EDGE_SSL_CONNECTION_ERROR, "EDGE_SSL_CONNECTION_ERROR"}});
}

}  // namespace oxl::edge

#include "oxl/http/HttpNetworkEventUtils.h"

#include <string>

#include "oxl/http/Response.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

constexpr const char* INNER_NODE = "QZ_C";
constexpr const char* OUTER_NODE = "QZ_E";

bool statusFromHyd(const Response& response, int status) {
    return response.responseCode == status && isResponseFromHyd(response);
}

}  // namespace

bool isResponseFromHyd(const Response& response) {
    const std::string server = response.getHeader("Server");
    const bool result = server == INNER_NODE || server == OUTER_NODE;
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

bool isResponseFromHydE(const Response& response) {
    const bool result = response.getHeader("Server") == OUTER_NODE;
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

bool HttpNetworkEventUtils::isHyd403Response(const Response& response) {
    const bool result = statusFromHyd(response, 403);
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

bool HttpNetworkEventUtils::isHyd407Response(const Response& response) {
    const bool result = statusFromHyd(response, 407);
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

bool HttpNetworkEventUtils::isHyd500Response(const Response& response) {
    const bool result = statusFromHyd(response, 500);
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

bool HttpNetworkEventUtils::isHyd503Response(const Response& response) {
    const bool result = statusFromHyd(response, 503);
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

bool HttpNetworkEventUtils::isHyde502Response(const Response& response) {
    const bool result = response.responseCode == 502 && isResponseFromHydE(response);
    OXL_LOG_DEBUG(logger(), "result: " << std::boolalpha << result);
    return result;
}

}  // namespace oxl::http

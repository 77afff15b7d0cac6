#include "oxl/netutils/TomcatPortModifier.h"

#include <stdexcept>
#include <utility>

#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalEdgeStateController.h"

namespace oxl::netutils {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

// Path, query and fragment: everything from the first of "/?#" after the authority.
std::string requestPart(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t rest = url.find_first_of("/?#", start);
    return rest == std::string::npos ? std::string() : url.substr(rest);
}
}  // namespace

const unsigned int TomcatPortModifier::DEFAULT_TOMCAT_PORT = 8443;

TomcatPortModifier::TomcatPortModifier() = default;

TomcatPortModifier::TomcatPortModifier(std::shared_ptr<oxl::edge::EdgeDetectionController> controller)
    : edgeDetectionController_(std::move(controller)) {}

std::string TomcatPortModifier::changeDefaultTomcatPort(const std::string& url) const {
    if (oxl::http::HttpUtils::extractPortFromHttpUrl(url) != DEFAULT_TOMCAT_PORT) {
        return url;
    }
    const unsigned int port = getTomcatPort();
    if (port == DEFAULT_TOMCAT_PORT) {
        return url;
    }
    const std::string host =
        oxl::ip::IpUtils::appendPortToAddress(oxl::http::HttpUtils::extractHostFromHttpUrl(url), port);
    if (host.empty()) {
        OXL_LOG_WARN(logger(), "unable to rebuild url with port: " << port);
        return url;
    }
    const std::string scheme = oxl::http::HttpUtils::extractProtocolFromHttpUrl(url);
    std::string modified = scheme.empty() ? host : scheme + "://" + host;
    modified += requestPart(url);
    OXL_LOG_INFO(logger(), "modified url to use port: " << port);
    return modified;
}

unsigned int TomcatPortModifier::getTomcatPort() const {
    auto controller = edgeDetectionController_;
    if (!controller) {
        if (GlobalEdgeStateController::isInitialized()) {
            try {
                controller = GlobalEdgeStateController::getGlobalEdgeState()->getEdgeDetectionController();
            } catch (const std::logic_error&) {
                OXL_LOG_WARN(logger(), "unable to get globalEdgeState");
            }
        } else {
            OXL_LOG_WARN(logger(), "unable to get globalEdgeState");
        }
    }
    if (!controller) {
        OXL_LOG_WARN(logger(), "failed to get edge detection controller");
        return DEFAULT_TOMCAT_PORT;
    }
    const std::string prefix = DIRECTORY_SERVICE_PREFIX;
    for (const auto& record : controller->getInternalServiceRecords(false)) {
        if (record.serviceName.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        for (const auto& endpoint : record.endpoints) {
            if (endpoint.port != DEFAULT_TOMCAT_PORT && endpoint.port != 0) {
                return endpoint.port;
            }
        }
    }
    return DEFAULT_TOMCAT_PORT;
}

}  // namespace oxl::netutils

#include "oxl/edge/EdgeConfig.h"

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

}  // namespace

void EdgeConfig::addCookie(const oxl::common::Cookie& cookie) {
    if (cookie.getName() != X_AUTH_COOKIE_NAME) {
        cookies.push_back(cookie);
        return;
    }
    oxl::common::Cookie best = cookie;
    for (auto it = cookies.begin(); it != cookies.end();) {
        if (it->getName() != X_AUTH_COOKIE_NAME) {
            ++it;
            continue;
        }
        if (it->getExpirationDate() > best.getExpirationDate()) {
            best = *it;
        }
        it = cookies.erase(it);
    }
    OXL_LOG_DEBUG(logger(), "xAuth cookie in EdgeConfig has expiration date: " << best.getExpirationDate());
    cookies.push_back(best);
}

void EdgeConfig::addOnPremService(const OnPremService& service) {
    onPremServices.emplace(service.name, service);
}

void EdgeConfig::addSipRoute(const std::string& route) {
    sipRoutes.push_back(route);
}

OnPremService EdgeConfig::getOnPremService(const std::string& name) const {
    const auto it = onPremServices.find(name);
    return it == onPremServices.end() ? OnPremService() : it->second;
}

std::vector<OnPremService> EdgeConfig::getOnPremServices() const {
    std::vector<OnPremService> services;
    services.reserve(onPremServices.size());
    for (const auto& [name, service] : onPremServices) {
        services.push_back(service);
    }
    return services;
}

bool EdgeConfig::operator==(const EdgeConfig& other) const {
    if (onPremServices.size() != other.onPremServices.size()) {
        return false;
    }
    for (auto a = onPremServices.begin(), b = other.onPremServices.begin(); a != onPremServices.end();
         ++a, ++b) {
        if (a->first != b->first || a->second != b->second) {
            return false;
        }
    }
    if (httpEdgeService != other.httpEdgeService || xmppEdgeService != other.xmppEdgeService ||
        sipEdgeService != other.sipEdgeService || turnEdgeService != other.turnEdgeService) {
        return false;
    }
    if (sipRoutes != other.sipRoutes || cookies.size() != other.cookies.size()) {
        return false;
    }
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        if (!(cookies[i] == other.cookies[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace oxl::edge

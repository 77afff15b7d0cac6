// How to reach the enterprise from outside: the edge servers per protocol, the on-premises services
// behind them, the SIP routes and the cookies the edge handed out (among them the "X-Auth" session
// cookie). A plain value; not synchronised.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "oxl/common/Cookie.h"
#include "oxl/edge/EdgeService.h"
#include "oxl/edge/OnPremService.h"

namespace oxl::edge {

class EdgeConfig {
  public:
    // The name of the edge's session cookie; a configuration keeps at most one.
    static constexpr const char* X_AUTH_COOKIE_NAME = "X-Auth";

    EdgeConfig() = default;

    // Appends the cookie. An "X-Auth" cookie (exact name) replaces every held "X-Auth" cookie by the one
    // with the latest expiration date among them and the new one (the new one wins ties); it goes last.
    void addCookie(const oxl::common::Cookie& cookie);
    // Keeps the first service of a name; a later one of the same name is dropped.
    void addOnPremService(const OnPremService& service);
    void addSipRoute(const std::string& route);

    void setHttpEdgeService(const EdgeService& service) { httpEdgeService = service; }
    void setXmppEdgeService(const EdgeService& service) { xmppEdgeService = service; }
    void setSipEdgeService(const EdgeService& service) { sipEdgeService = service; }
    void setTurnEdgeService(const EdgeService& service) { turnEdgeService = service; }

    EdgeService getHttpEdgeService() const { return httpEdgeService; }
    EdgeService getXmppEdgeService() const { return xmppEdgeService; }
    EdgeService getSipEdgeService() const { return sipEdgeService; }
    EdgeService getTurnEdgeService() const { return turnEdgeService; }

    // The named service, or a default one (error OnPremService::ERROR_UNKNOWN) when there is none.
    OnPremService getOnPremService(const std::string& name) const;
    // All services in ascending (byte-wise) name order.
    std::vector<OnPremService> getOnPremServices() const;
    std::vector<std::string> getSipRoutes() const { return sipRoutes; }
    std::vector<oxl::common::Cookie> getCookies() const { return cookies; }

    // Services, then HTTP, XMPP, SIP, TURN edge services, then SIP routes, then cookies (raw lines), each
    // in order.
    bool operator==(const EdgeConfig& other) const;
    bool operator!=(const EdgeConfig& other) const { return !(*this == other); }

    std::map<std::string, OnPremService> onPremServices;
    EdgeService httpEdgeService;
    EdgeService xmppEdgeService;
    EdgeService sipEdgeService;
    EdgeService turnEdgeService;
    std::vector<std::string> sipRoutes;
    std::vector<oxl::common::Cookie> cookies;
};

}  // namespace oxl::edge

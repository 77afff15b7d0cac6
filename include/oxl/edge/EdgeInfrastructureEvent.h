// What an HTTP transfer through the edge found wrong with the edge infrastructure, for the infrastructure
// event controller's reactor thread. Each event names the edge server it concerns.
#pragma once

#include <string>
#include <utility>

#include "oxl/common/Reactor.h"

namespace oxl::edge {

class EdgeInfrastructureEvent : public oxl::common::Reactor::Event {
  public:
    static constexpr const char* EDGE_OAUTH_EXPIRED = "EdgeOauthExpired";
    static constexpr const char* EDGE_AUTHENTICATION_REQUIRED = "EdgeAuthenticationRequired";
    static constexpr const char* EDGE_CONNECTION_FAILED = "EdgeConnectionFailed";
    static constexpr const char* EDGE_UNRESOLVED_HOST = "EdgeUnresolvedHost";
    static constexpr const char* EDGE_NEXT_HOP_FAILED = "EdgeNextHopFailed";
    static constexpr const char* EDGE_INTERNAL_SERVER_ERROR = "EdgeInternalServerErrorEvent";
    static constexpr const char* EDGE_SERVICE_UNAVAILABLE = "EdgeServiceUnavailableEvent";

    EdgeInfrastructureEvent(std::string label, std::string server)
        : label_(std::move(label)), server_(std::move(server)) {}

    const std::string& getLabel() const { return label_; }
    const std::string& getServer() const { return server_; }
    // "label: <label> server: <server>"
    std::string toString() const override;

  private:
    std::string label_;
    std::string server_;
};

class EdgeOauthExpiredEvent : public EdgeInfrastructureEvent {
  public:
    explicit EdgeOauthExpiredEvent(std::string server)
        : EdgeInfrastructureEvent(EDGE_OAUTH_EXPIRED, std::move(server)) {}
};

class EdgeAuthenticationRequiredEvent : public EdgeInfrastructureEvent {
  public:
    explicit EdgeAuthenticationRequiredEvent(std::string server)
        : EdgeInfrastructureEvent(EDGE_AUTHENTICATION_REQUIRED, std::move(server)) {}
};

// A connection to one edge server failed; clusterFailed when no server of the cluster could be reached.
class EdgeConnectionFailedEvent : public EdgeInfrastructureEvent {
  public:
    EdgeConnectionFailedEvent(std::string server, bool clusterFailed)
        : EdgeInfrastructureEvent(EDGE_CONNECTION_FAILED, std::move(server)), clusterFailed_(clusterFailed) {}
    bool isClusterFailed() const { return clusterFailed_; }

  private:
    bool clusterFailed_;
};

class EdgeUnresolvedHostEvent : public EdgeInfrastructureEvent {
  public:
    EdgeUnresolvedHostEvent(std::string server, bool clusterFailed)
        : EdgeInfrastructureEvent(EDGE_UNRESOLVED_HOST, std::move(server)), clusterFailed_(clusterFailed) {}
    bool isClusterFailed() const { return clusterFailed_; }

  private:
    bool clusterFailed_;
};

class EdgeNextHopFailedEvent : public EdgeInfrastructureEvent {
  public:
    explicit EdgeNextHopFailedEvent(std::string server)
        : EdgeInfrastructureEvent(EDGE_NEXT_HOP_FAILED, std::move(server)) {}
};

class EdgeInternalServerErrorEvent : public EdgeInfrastructureEvent {
  public:
    explicit EdgeInternalServerErrorEvent(std::string server)
        : EdgeInfrastructureEvent(EDGE_INTERNAL_SERVER_ERROR, std::move(server)) {}
};

class EdgeServiceUnavailableEvent : public EdgeInfrastructureEvent {
  public:
    explicit EdgeServiceUnavailableEvent(std::string server)
        : EdgeInfrastructureEvent(EDGE_SERVICE_UNAVAILABLE, std::move(server)) {}
};

}  // namespace oxl::edge

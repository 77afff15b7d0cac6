// Value types shared by edge detection: service endpoints and records, sensing events and the tuning of the
// direct-connect state machines.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace oxl::edge {

class EnterpriseNetworkSensor;

struct TcpEndpoint {
    TcpEndpoint() = default;
    TcpEndpoint(std::string hostName, std::uint16_t portNumber)
        : host(std::move(hostName)), port(portNumber) {}

    std::string host;
    std::uint16_t port = 0;

    bool operator==(const TcpEndpoint&) const = default;
};
// "host:port" ("[v6]:port" for IPv6 literals); nothing for an endpoint that cannot be written that way.
std::ostream& operator<<(std::ostream& os, const TcpEndpoint& endpoint);

// One internal SRV answer: the service label (e.g. "_pelko-zds") and its targets in sorted order.
struct ServiceRecord {
    ServiceRecord() = default;
    ServiceRecord(std::string name, std::vector<TcpEndpoint> targets)
        : serviceName(std::move(name)), endpoints(std::move(targets)) {}

    std::string serviceName;
    std::vector<TcpEndpoint> endpoints;

    bool operator==(const ServiceRecord&) const = default;
};
std::ostream& operator<<(std::ostream& os, const ServiceRecord& record);

// One edge SRV target.
struct EdgeServiceRecordData {
    EdgeServiceRecordData() = default;
    EdgeServiceRecordData(std::string hostName, std::uint32_t portNumber)
        : host(std::move(hostName)), port(portNumber) {}

    std::string host;
    std::uint32_t port = 0;

    bool operator==(const EdgeServiceRecordData&) const = default;
};
std::ostream& operator<<(std::ostream& os, const EdgeServiceRecordData& record);

struct NetworkSensingEvent {
    NetworkSensingEvent() = default;
    NetworkSensingEvent(bool internalChanged, bool edgeChanged, bool internal, bool edge, std::string name)
        : internalVisibilityChanged(internalChanged),
          edgeVisibilityChanged(edgeChanged),
          internalVisibility(internal),
          edgeVisibility(edge),
          eventName(std::move(name)) {}

    bool internalVisibilityChanged = false;
    bool edgeVisibilityChanged = false;
    bool internalVisibility = false;
    bool edgeVisibility = false;
    std::string eventName;

    bool operator==(const NetworkSensingEvent&) const = default;
};
std::ostream& operator<<(std::ostream& os, const NetworkSensingEvent& event);

// Tuning handed to the direct-connect state machines with their start event. The internal records are
// looked up under domainName, the edge record under externalDomainName: an edge is published in the
// public zone, which the internal domain usually is not.
struct DetectionParameters {
    std::string domainName = "example.com";
    std::string externalDomainName = "example.com";
    std::vector<TcpEndpoint> serverEndpoints;
    std::uint32_t pollingQuietPeriodSec = 60;
    std::uint32_t confirmingRequiredTestCount = 3;
    std::uint32_t confirmingDelayBetweenTestsMsec = 1000;
    std::uint32_t monitoringQuietPeriodSec = 10;
    std::shared_ptr<EnterpriseNetworkSensor> internalNetworkSensor;
};
std::ostream& operator<<(std::ostream& os, const DetectionParameters& parameters);

}  // namespace oxl::edge

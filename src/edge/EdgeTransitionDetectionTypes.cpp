#include "oxl/edge/EdgeTransitionDetectionTypes.h"

#include "oxl/ip/IpUtils.h"

namespace oxl::edge {

std::ostream& operator<<(std::ostream& os, const TcpEndpoint& endpoint) {
    return os << oxl::ip::IpUtils::appendPortToAddress(endpoint.host, endpoint.port);
}

std::ostream& operator<<(std::ostream& os, const ServiceRecord& record) {
    os << record.serviceName << " {";
    for (const auto& endpoint : record.endpoints) {
        os << " " << endpoint;
    }
    return os << " }";
}

std::ostream& operator<<(std::ostream& os, const EdgeServiceRecordData& record) {
    return os << "Host: " << record.host << " Port: " << record.port;
}

std::ostream& operator<<(std::ostream& os, const NetworkSensingEvent& event) {
    return os << "Event '" << event.eventName << "'"
              << " Internal network status" << (event.internalVisibilityChanged ? " changed to" : " is still")
              << (event.internalVisibility ? " 'visible'" : " 'not visible'") << " Edge status"
              << (event.edgeVisibilityChanged ? " changed to" : " is still")
              << (event.edgeVisibility ? " 'visible'" : " 'not visible'");
}

std::ostream& operator<<(std::ostream& os, const DetectionParameters& parameters) {
    os << "DomainName: " << parameters.domainName << "\n"
       << "External DomainName: " << parameters.externalDomainName << "\n"
       << "Polling State quiet period (sec): " << parameters.pollingQuietPeriodSec << "\n"
       << "Confirming State required test count: " << parameters.confirmingRequiredTestCount << "\n"
       << "Confirming State delay between tests (msec): " << parameters.confirmingDelayBetweenTestsMsec
       << "\n"
       << "Monitoring State quiet period (sec): " << parameters.monitoringQuietPeriodSec << "\n"
       << "Server endpoints: { ";
    for (const auto& endpoint : parameters.serverEndpoints) {
        os << endpoint << ", ";
    }
    return os << "}\n";
}

}  // namespace oxl::edge

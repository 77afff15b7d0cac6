#include "oxl/dns/DnsRecords.h"

#include <utility>

namespace oxl::dns {

ServiceResourceRecord::ServiceResourceRecord(uint32_t priority, uint32_t weight, uint32_t port,
                                             std::string target, int32_t ttl)
    : priority_(priority), weight_(weight), port_(port), target_(std::move(target)), ttl_(ttl) {}

ARecord::ARecord(std::string name, std::string address, int32_t ttl)
    : name_(std::move(name)), address_(std::move(address)), ttl_(ttl) {}

AAAARecord::AAAARecord(std::string name, std::string address, int32_t ttl)
    : name_(std::move(name)), address_(std::move(address)), ttl_(ttl) {}

TXTRecord::TXTRecord(std::string name, std::vector<std::string> strings, int32_t ttl)
    : name_(std::move(name)), strings_(std::move(strings)), ttl_(ttl) {}

std::string TXTRecord::getText() const {
    std::string text;
    for (const auto& s : strings_) {
        text += s;
    }
    return text;
}

PointerRecord::PointerRecord(std::string name, std::string target, int32_t ttl)
    : name_(std::move(name)), target_(std::move(target)), ttl_(ttl) {}

std::ostream& operator<<(std::ostream& os, const ServiceResourceRecord& r) {
    return os << r.getPriority() << ' ' << r.getWeight() << ' ' << r.getPort() << ' ' << r.getTarget();
}

std::ostream& operator<<(std::ostream& os, const ARecord& r) {
    return os << r.getName() << ' ' << r.getIP4Address() << ' ' << r.getTtl();
}

std::ostream& operator<<(std::ostream& os, const AAAARecord& r) {
    return os << r.getName() << ' ' << r.getIP6Address() << ' ' << r.getTtl();
}

std::ostream& operator<<(std::ostream& os, const TXTRecord& r) {
    return os << r.getName() << " \"" << r.getText() << "\" " << r.getTtl();
}

std::ostream& operator<<(std::ostream& os, const PointerRecord& r) {
    return os << r.getName() << ' ' << r.getTarget() << ' ' << r.getTtl();
}

}  // namespace oxl::dns

#include "oxl/dns/DnsQuery.h"

#include <utility>

namespace oxl::dns {

DnsQuery::DnsQuery(std::string name, DnsQueryType::Type type) : name_(std::move(name)), type_(type) {}

}  // namespace oxl::dns

#include "oxl/dns/DnsQuery.h"

#include <utility>

#include "oxl/runtime/EnumPrint.h"

namespace oxl::dns {

DnsQuery::DnsQuery(std::string name, DnsQueryType::Type type) : name_(std::move(name)), type_(type) {}

std::ostream& operator<<(std::ostream& os, DnsQueryType::Type type) {
    return oxl::detail::printEnum(os, type,
                                  {{DnsQueryType::A, "A"},
                                   {DnsQueryType::PTR, "PTR"},
                                   {DnsQueryType::TXT, "TXT"},
                                   {DnsQueryType::AAAA, "AAAA"},
                                   {DnsQueryType::SRV, "SRV"}});
}

}  // namespace oxl::dns

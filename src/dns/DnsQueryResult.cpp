#include "oxl/dns/DnsQueryResult.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::dns {

std::ostream& operator<<(std::ostream& os, DnsQueryResult::Result result) {
    return oxl::detail::printEnum(os, result,
                                  {{DnsQueryResult::SUCCESS, "SUCCESS"},
                                   {DnsQueryResult::NO_RECORDS, "NO_RECORDS"},
                                   {DnsQueryResult::SERVER_FAILURE, "SERVER_FAILURE"},
                                   {DnsQueryResult::SERVER_REFUSED, "SERVER_REFUSED"},
                                   {DnsQueryResult::TIMEOUT, "TIMEOUT"},
                                   {DnsQueryResult::DOMAIN_DOES_NOT_EXIST, "DOMAIN_DOES_NOT_EXIST"},
                                   {DnsQueryResult::BAD_QUERY, "BAD_QUERY"},
                                   {DnsQueryResult::NO_NETWORK, "NO_NETWORK"},
                                   {DnsQueryResult::CANCELLED, "CANCELLED"},
                                   {DnsQueryResult::BAD_RESPONSE, "BAD_RESPONSE"},
                                   {DnsQueryResult::INTERNAL_ERROR, "INTERNAL_ERROR"}});
}

}  // namespace oxl::dns

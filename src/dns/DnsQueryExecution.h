// Internal: runs DnsQuery objects through the resolver and logs each outcome once.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "oxl/dns/DnsQuery.h"
#include "oxl/dns/DnsResponse.h"

namespace oxl::dns::detail {

// One answer per query, in order. Null queries and empty names answer BAD_QUERY and are not sent.
// `overall` as for runQueries; `cutOff` tells whether it expired before every query finished.
std::vector<DnsAnswer> executeQueries(const std::vector<std::shared_ptr<DnsQuery>>& queries,
                                      std::chrono::milliseconds overall, bool& cutOff);

DnsAnswer executeQuery(const std::string& name, DnsQueryType::Type type);

}  // namespace oxl::dns::detail

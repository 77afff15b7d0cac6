// Internal: the A-then-AAAA decision of DnsHostResolver over replaceable query functions.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsRecords.h"

namespace oxl::dns::detail {

using AQueryFn = std::function<DnsQueryResult::Result(const std::string&, std::vector<ARecord>&)>;
using AAAAQueryFn = std::function<DnsQueryResult::Result(const std::string&, std::vector<AAAARecord>&)>;

bool isResolvableWith(const std::string& host, const AQueryFn& aQuery, const AAAAQueryFn& aaaaQuery);

}  // namespace oxl::dns::detail

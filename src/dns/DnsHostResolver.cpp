#include "oxl/dns/DnsHostResolver.h"

#include "dns/DnsHostResolverSteps.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/log/Log.h"

namespace oxl::dns {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.dns");
    return l;
}
}  // namespace

namespace detail {

bool isResolvableWith(const std::string& host, const AQueryFn& aQuery, const AAAAQueryFn& aaaaQuery) {
    OXL_LOG_DEBUG(logger(), "About to execute A record query for: " << host);
    std::vector<ARecord> aRecords;
    const auto aResult = aQuery(host, aRecords);
    if (aResult == DnsQueryResult::SUCCESS && !aRecords.empty()) {
        OXL_LOG_DEBUG(logger(), "A record query succeeded with record size: " << aRecords.size());
        return true;
    }
    OXL_LOG_DEBUG(logger(), "A record query failed with result: " << aResult
                                                                  << " and record size: " << aRecords.size());
    std::vector<AAAARecord> aaaaRecords;
    const auto aaaaResult = aaaaQuery(host, aaaaRecords);
    if (aaaaResult == DnsQueryResult::SUCCESS && !aaaaRecords.empty()) {
        OXL_LOG_DEBUG(logger(), "AAAA record query succeeded with record size: " << aaaaRecords.size());
        return true;
    }
    OXL_LOG_INFO(logger(), "AAAA record query failed with result: " << aaaaResult << " and record size: "
                                                                    << aaaaRecords.size());
    return false;
}

}  // namespace detail

bool DnsHostResolver::isResolvable(const std::string& host) const {
    return detail::isResolvableWith(host, DnsUtils::executeARecordQuery, DnsUtils::executeAAAARecordQuery);
}

}  // namespace oxl::dns

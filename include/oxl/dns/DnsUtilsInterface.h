// The DNS operations as an interface, so that callers can hold and replace them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "oxl/dns/DnsQuery.h"
#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsQueryType.h"
#include "oxl/dns/DnsRecords.h"
#include "oxl/dns/DnsRequest.h"
#include "oxl/dns/DnsResponse.h"

namespace oxl::dns {

class DnsUtilsInterface {
  public:
    virtual DnsQueryResult::Result executePtrRecordQuery(const std::string& name,
                                                         std::vector<PointerRecord>& records) = 0;
    virtual DnsQueryResult::Result executeARecordQuery(const std::string& name,
                                                       std::vector<ARecord>& records) = 0;
    virtual DnsQueryResult::Result executeAAAARecordQuery(const std::string& name,
                                                          std::vector<AAAARecord>& records) = 0;
    virtual DnsQueryResult::Result executeSRVRecordQuery(const std::string& name,
                                                         std::vector<ServiceResourceRecord>& records) = 0;
    virtual DnsQueryResult::Result executeTXTRecordQuery(const std::string& name,
                                                         std::vector<TXTRecord>& records) = 0;
    virtual std::shared_ptr<DnsQuery> createDnsQuery(const std::string& name, DnsQueryType::Type type) = 0;
    virtual std::shared_ptr<DnsRequest> createDnsRequest(
        const std::vector<std::shared_ptr<DnsQuery>>& queries) = 0;
    // Runs every query of the request at the same time on one resolver channel. timeoutMs bounds the whole
    // request (queries still open then are answered TIMEOUT); 0 or less leaves only the resolver's own
    // time-outs. A null request gives a response with result BAD_QUERY.
    virtual std::shared_ptr<DnsResponse> excuteDnsQueriesInParallel(
        const std::shared_ptr<DnsRequest>& request, int32_t timeoutMs) = 0;
    virtual ~DnsUtilsInterface() = default;
};

}  // namespace oxl::dns

// DnsUtilsInterface over the real resolver (the same queries as DnsUtils).
#pragma once

#include "oxl/dns/DnsUtilsInterface.h"

namespace oxl::dns {

class DnsUtilsImpl : public DnsUtilsInterface {
  public:
    DnsQueryResult::Result executePtrRecordQuery(const std::string& name,
                                                 std::vector<PointerRecord>& records) override;
    DnsQueryResult::Result executeARecordQuery(const std::string& name,
                                               std::vector<ARecord>& records) override;
    DnsQueryResult::Result executeAAAARecordQuery(const std::string& name,
                                                  std::vector<AAAARecord>& records) override;
    DnsQueryResult::Result executeSRVRecordQuery(const std::string& name,
                                                 std::vector<ServiceResourceRecord>& records) override;
    DnsQueryResult::Result executeTXTRecordQuery(const std::string& name,
                                                 std::vector<TXTRecord>& records) override;
    std::shared_ptr<DnsQuery> createDnsQuery(const std::string& name, DnsQueryType::Type type) override;
    std::shared_ptr<DnsRequest> createDnsRequest(
        const std::vector<std::shared_ptr<DnsQuery>>& queries) override;
    std::shared_ptr<DnsResponse> excuteDnsQueriesInParallel(const std::shared_ptr<DnsRequest>& request,
                                                            int32_t timeoutMs) override;
};

}  // namespace oxl::dns

#include "oxl/dns/DnsUtils.h"

#include "dns/DnsQueryExecution.h"

namespace oxl::dns {

DnsQueryResult::Result DnsUtils::executeSRVRecordQuery(const std::string& name,
                                                       std::vector<ServiceResourceRecord>& records) {
    auto answer = detail::executeQuery(name, DnsQueryType::SRV);
    records = std::move(answer.srvRecords);
    return answer.result;
}

DnsQueryResult::Result DnsUtils::executeARecordQuery(const std::string& name, std::vector<ARecord>& records) {
    auto answer = detail::executeQuery(name, DnsQueryType::A);
    records = std::move(answer.aRecords);
    return answer.result;
}

DnsQueryResult::Result DnsUtils::executeAAAARecordQuery(const std::string& name,
                                                        std::vector<AAAARecord>& records) {
    auto answer = detail::executeQuery(name, DnsQueryType::AAAA);
    records = std::move(answer.aaaaRecords);
    return answer.result;
}

DnsQueryResult::Result DnsUtils::executeTXTRecordQuery(const std::string& name,
                                                       std::vector<TXTRecord>& records) {
    auto answer = detail::executeQuery(name, DnsQueryType::TXT);
    records = std::move(answer.txtRecords);
    return answer.result;
}

DnsQueryResult::Result DnsUtils::executePtrRecordQuery(const std::string& name,
                                                       std::vector<PointerRecord>& records) {
    auto answer = detail::executeQuery(name, DnsQueryType::PTR);
    records = std::move(answer.ptrRecords);
    return answer.result;
}

}  // namespace oxl::dns

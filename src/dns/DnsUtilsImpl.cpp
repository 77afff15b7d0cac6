#include "oxl/dns/DnsUtilsImpl.h"

#include "dns/DnsQueryExecution.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/log/Log.h"

namespace oxl::dns {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.dns");
    return l;
}
}  // namespace

DnsQueryResult::Result DnsUtilsImpl::executePtrRecordQuery(const std::string& name,
                                                           std::vector<PointerRecord>& records) {
    return DnsUtils::executePtrRecordQuery(name, records);
}

DnsQueryResult::Result DnsUtilsImpl::executeARecordQuery(const std::string& name,
                                                         std::vector<ARecord>& records) {
    return DnsUtils::executeARecordQuery(name, records);
}

DnsQueryResult::Result DnsUtilsImpl::executeAAAARecordQuery(const std::string& name,
                                                            std::vector<AAAARecord>& records) {
    return DnsUtils::executeAAAARecordQuery(name, records);
}

DnsQueryResult::Result DnsUtilsImpl::executeSRVRecordQuery(const std::string& name,
                                                           std::vector<ServiceResourceRecord>& records) {
    return DnsUtils::executeSRVRecordQuery(name, records);
}

DnsQueryResult::Result DnsUtilsImpl::executeTXTRecordQuery(const std::string& name,
                                                           std::vector<TXTRecord>& records) {
    return DnsUtils::executeTXTRecordQuery(name, records);
}

std::shared_ptr<DnsQuery> DnsUtilsImpl::createDnsQuery(const std::string& name, DnsQueryType::Type type) {
    return std::make_shared<DnsQuery>(name, type);
}

std::shared_ptr<DnsRequest> DnsUtilsImpl::createDnsRequest(
    const std::vector<std::shared_ptr<DnsQuery>>& queries) {
    return std::make_shared<DnsRequest>(queries);
}

std::shared_ptr<DnsResponse> DnsUtilsImpl::excuteDnsQueriesInParallel(
    const std::shared_ptr<DnsRequest>& request, int32_t timeoutMs) {
    if (request == nullptr || request->getQueries().empty()) {
        OXL_LOG_INFO(logger(), "No DNS queries to execute");
        return std::make_shared<DnsResponse>(DnsQueryResult::BAD_QUERY, std::vector<DnsAnswer>{});
    }
    bool cutOff = false;
    auto answers = detail::executeQueries(request->getQueries(),
                                          std::chrono::milliseconds(std::max(0, timeoutMs)), cutOff);
    const auto result = cutOff ? DnsQueryResult::TIMEOUT : DnsQueryResult::SUCCESS;
    OXL_LOG_DEBUG(logger(), answers.size() << " DNS queries executed in parallel: " << result);
    return std::make_shared<DnsResponse>(result, std::move(answers));
}

}  // namespace oxl::dns

#include "oxl/edge/EdgeDetectionDnsRecordReader.h"

#include <sstream>

#include "oxl/diag/Diagnostics.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/ServiceResourceRecordSorter.h"
#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

constexpr int DIAG_SECTION_DNS = 10;

// Every target followed by ";", or "None" for an empty answer.
std::string targetsText(const std::vector<oxl::dns::ServiceResourceRecord>& records) {
    if (records.empty()) {
        return "None";
    }
    std::string text;
    for (const auto& r : records) {
        text += r.getTarget() + ";";
    }
    return text;
}

void recordAnswer(const std::string& queryName, const std::vector<oxl::dns::ServiceResourceRecord>& records) {
    OXLDiagnostics::DiagnosticsWrapper::AddRecord(0, DIAG_SECTION_DNS, queryName, targetsText(records), 1,
                                                  "");
}
}  // namespace

EdgeDetectionDnsRecordReader::EdgeDetectionDnsRecordReader()
    : EdgeDetectionDnsRecordReader(&oxl::dns::DnsUtils::executeSRVRecordQuery) {}

EdgeDetectionDnsRecordReader::EdgeDetectionDnsRecordReader(SrvQueryFunction query)
    : internalDomainName_(PLACEHOLDER_DOMAIN),
      externalDomainName_(PLACEHOLDER_DOMAIN),
      query_(std::move(query)) {
    if (!query_) {
        query_ = &oxl::dns::DnsUtils::executeSRVRecordQuery;
    }
}

std::string EdgeDetectionDnsRecordReader::buildQueryName(const std::string& label,
                                                         const std::string& domain) {
    if (domain.empty() || domain.back() == '.') {
        return label + domain;
    }
    return label + domain + ".";
}

bool EdgeDetectionDnsRecordReader::queryInternal(const char* label, const char* serviceName,
                                                 ServiceRecord& record) const {
    const std::string name = buildQueryName(label, internalDomainName_);
    std::vector<oxl::dns::ServiceResourceRecord> answer;
    const auto result = query_(name, answer);
    OXL_LOG_DEBUG(logger(),
                  "SRV query " << name << " returned " << result << " with " << answer.size() << " records");
    if (result != oxl::dns::DnsQueryResult::SUCCESS) {
        return false;
    }
    record.serviceName = serviceName;
    oxl::dns::ServiceResourceRecordSorter(answer).sortRecords();
    for (const auto& r : answer) {
        record.endpoints.emplace_back(r.getTarget(), static_cast<std::uint16_t>(r.getPort()));
    }
    recordAnswer(name, answer);
    // The resolver answers SUCCESS only with records; an empty answer is passed on so that callers can
    // notice the inconsistency.
    return true;
}

bool EdgeDetectionDnsRecordReader::queryPelkoZdsSrvRecord(ServiceRecord& record) const {
    return queryInternal(PELKO_ZDS_LABEL, "_pelko-zds", record);
}

bool EdgeDetectionDnsRecordReader::queryDwrloginSrvRecord(ServiceRecord& record) const {
    return queryInternal(DWRLOGIN_LABEL, "_dwrlogin", record);
}

bool EdgeDetectionDnsRecordReader::queryBriselEdgeSrvRecord(
    std::vector<EdgeServiceRecordData>& records) const {
    const std::string name = buildQueryName(BRISEL_EDGE_LABEL, externalDomainName_);
    std::vector<oxl::dns::ServiceResourceRecord> answer;
    const auto result = query_(name, answer);
    OXL_LOG_DEBUG(logger(),
                  "SRV query " << name << " returned " << result << " with " << answer.size() << " records");
    switch (result) {
        case oxl::dns::DnsQueryResult::SUCCESS:
            oxl::dns::ServiceResourceRecordSorter(answer).sortRecords();
            for (const auto& r : answer) {
                records.emplace_back(r.getTarget(), r.getPort());
            }
            recordAnswer(name, answer);
            return true;
        case oxl::dns::DnsQueryResult::NO_RECORDS:
            OXLDiagnostics::DiagnosticsWrapper::AddRecord(1, DIAG_SECTION_DNS, name, "No Records", 0, "");
            break;
        case oxl::dns::DnsQueryResult::TIMEOUT:
            OXLDiagnostics::DiagnosticsWrapper::AddRecord(2, DIAG_SECTION_DNS, name, "Time Out", 0, "");
            break;
        case oxl::dns::DnsQueryResult::DOMAIN_DOES_NOT_EXIST:
            OXLDiagnostics::DiagnosticsWrapper::AddRecord(2, DIAG_SECTION_DNS, name, "Domain does not exist",
                                                          0, "");
            break;
        case oxl::dns::DnsQueryResult::NO_NETWORK:
            OXLDiagnostics::DiagnosticsWrapper::AddRecord(2, DIAG_SECTION_DNS, name, "No Network", 0, "");
            break;
        default:
            break;
    }
    return false;
}

bool EdgeDetectionDnsRecordReader::queryBriselEdgeSrvRecord() const {
    std::vector<EdgeServiceRecordData> discarded;
    return queryBriselEdgeSrvRecord(discarded);
}

}  // namespace oxl::edge

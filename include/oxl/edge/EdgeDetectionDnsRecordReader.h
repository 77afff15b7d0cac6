// Runs the SRV queries that tell whether the enterprise network ("_pelko-zds._tcp.", "_dwrlogin._tcp." under
// the internal domain) and an edge server ("_brisel-edge._tls." under the external domain) are published.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsRecords.h"
#include "oxl/edge/EdgeTransitionDetectionTypes.h"

namespace oxl::edge {

class EdgeDetectionDnsRecordReader {
  public:
    // The resolver call; the real DNS library unless a test installs another.
    using SrvQueryFunction = std::function<oxl::dns::DnsQueryResult::Result(
        const std::string& name, std::vector<oxl::dns::ServiceResourceRecord>& records)>;

    static constexpr const char* PLACEHOLDER_DOMAIN = "example.net";
    static constexpr const char* PELKO_ZDS_LABEL = "_pelko-zds._tcp.";
    static constexpr const char* DWRLOGIN_LABEL = "_dwrlogin._tcp.";
    static constexpr const char* BRISEL_EDGE_LABEL = "_brisel-edge._tls.";

    EdgeDetectionDnsRecordReader();
    explicit EdgeDetectionDnsRecordReader(SrvQueryFunction query);

    void setInternalDomainName(const std::string& domain) { internalDomainName_ = domain; }
    void setExternalDomainName(const std::string& domain) { externalDomainName_ = domain; }
    const std::string& getInternalDomainName() const { return internalDomainName_; }
    const std::string& getExternalDomainName() const { return externalDomainName_; }

    // Append the sorted targets to `record` (not cleared first); true when the name was answered.
    bool queryPelkoZdsSrvRecord(ServiceRecord& record) const;
    bool queryDwrloginSrvRecord(ServiceRecord& record) const;
    // Appends the sorted edge targets to `records` (not cleared first).
    bool queryBriselEdgeSrvRecord(std::vector<EdgeServiceRecordData>& records) const;
    bool queryBriselEdgeSrvRecord() const;

    // "label" + domain with a trailing dot added when missing; an empty domain leaves the bare label.
    static std::string buildQueryName(const std::string& label, const std::string& domain);

  private:
    bool queryInternal(const char* label, const char* serviceName, ServiceRecord& record) const;

    std::string internalDomainName_;
    std::string externalDomainName_;
    SrvQueryFunction query_;
};

}  // namespace oxl::edge

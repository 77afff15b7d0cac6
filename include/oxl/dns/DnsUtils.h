// Blocking DNS queries over c-ares. Every query returns SUCCESS exactly when the name was answered with at
// least one record of the asked type; the vector is then replaced by those records, otherwise it is left
// empty. A query never waits longer than the resolver's time-outs (about three seconds per server).
#pragma once

#include <string>
#include <vector>

#include "oxl/dns/DnsQueryResult.h"
#include "oxl/dns/DnsRecords.h"

namespace oxl::dns {

class DnsUtils {
  public:
    DnsUtils() = delete;

    static DnsQueryResult::Result executeSRVRecordQuery(const std::string& name,
                                                        std::vector<ServiceResourceRecord>& records);
    static DnsQueryResult::Result executeARecordQuery(const std::string& name, std::vector<ARecord>& records);
    static DnsQueryResult::Result executeAAAARecordQuery(const std::string& name,
                                                         std::vector<AAAARecord>& records);
    static DnsQueryResult::Result executeTXTRecordQuery(const std::string& name,
                                                        std::vector<TXTRecord>& records);
    // name is either a reverse name (4.3.2.1.in-addr.arpa) or an IPv4/IPv6 address, which is reversed.
    static DnsQueryResult::Result executePtrRecordQuery(const std::string& name,
                                                        std::vector<PointerRecord>& records);
};

}  // namespace oxl::dns

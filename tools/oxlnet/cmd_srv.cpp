// oxlnet srv NAME: the SRV answer for NAME in the order a client would use it.
#include <iostream>

#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/ServiceResourceRecordSorter.h"
#include "oxlnet/DnsServerOption.h"

namespace {

int runSrv(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    int status = 0;
    std::optional<oxl::dns::DnsUtilsScopedSetCustomServerAddress> server;
    std::string name;
    if (!oxlnet::takeDnsServerOption(args, server, status) ||
        !oxlnet::takeSingleArgument(args, "service name", name, status)) {
        return status;
    }
    std::vector<oxl::dns::ServiceResourceRecord> records;
    const auto result = oxl::dns::DnsUtils::executeSRVRecordQuery(name, records);
    if (result != oxl::dns::DnsQueryResult::SUCCESS) {
        std::cout << result << std::endl;
        return 1;
    }
    oxl::dns::ServiceResourceRecordSorter(records).sortRecords();
    for (const auto& r : records) {
        std::cout << r << "\n";
    }
    std::cout.flush();
    return 0;
}

}  // namespace

OXLNET_COMMAND("srv", "NAME [--dns-server ADDR:PORT]",
               "SRV records of NAME in RFC 2782 order: \"priority weight port target\" per line", runSrv);

// oxlnet resolve HOST: whether HOST has an A or AAAA record.
#include <iostream>

#include "oxl/dns/DnsHostResolver.h"
#include "oxlnet/DnsServerOption.h"

namespace {

int runResolve(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    int status = 0;
    std::optional<oxl::dns::DnsUtilsScopedSetCustomServerAddress> server;
    std::string host;
    if (!oxlnet::takeDnsServerOption(args, server, status) ||
        !oxlnet::takeSingleArgument(args, "host name", host, status)) {
        return status;
    }
    const bool resolvable = oxl::dns::DnsHostResolver().isResolvable(host);
    std::cout << (resolvable ? "resolvable" : "not resolvable") << std::endl;
    return resolvable ? 0 : 1;
}

}  // namespace

OXLNET_COMMAND(
    "resolve", "HOST [--dns-server ADDR:PORT]",
    "\"resolvable\" (exit 0) when HOST has an A or else an AAAA record, \"not resolvable\" (exit 1)",
    runResolve);

// oxlnet nat64 IPV4: the IPv6 addresses the network's NAT64 prefixes give for IPV4.
#include <iostream>

#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/ip/Nat64Prefix.h"
#include "oxlnet/DnsServerOption.h"

namespace {

int runNat64(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    int status = 0;
    std::optional<oxl::dns::DnsUtilsScopedSetCustomServerAddress> server;
    if (!oxlnet::takeDnsServerOption(args, server, status)) {
        return status;
    }
    std::string wellKnownName;
    const bool hasName = oxlnet::takeOption(args, "--well-known-name", wellKnownName);
    if (hasName && wellKnownName.empty()) {
        return oxlnet::usageError("empty well-known name");
    }
    std::string text;
    if (!oxlnet::takeSingleArgument(args, "IPv4 address", text, status)) {
        return status;
    }
    const auto ipv4 = oxl::ip::Ipv4Address::createIpv4Address(text);
    if (ipv4.isEmpty()) {
        return oxlnet::usageError("not an IPv4 address: '" + text + "'");
    }
    auto nat64 = oxl::ip::Nat64Prefix::buildNat64Prefix(std::make_shared<oxl::dns::DnsUtilsImpl>(), true);
    if (hasName) {
        nat64->setAlternativeWellKnownIpv4Name(wellKnownName);
    }
    const auto addresses = nat64->getSynthesisedIpv6Address(ipv4);
    for (const auto& a : addresses) {
        std::cout << a << "\n";
    }
    std::cout.flush();
    return addresses.empty() ? 1 : 0;
}

}  // namespace

OXLNET_COMMAND("nat64", "IPV4 [--dns-server ADDR:PORT] [--well-known-name NAME]",
               "IPv6 addresses synthesised for IPV4 from the NAT64 prefixes (RFC 7050), one per line; exit 1 "
               "when there are none",
               runNat64);

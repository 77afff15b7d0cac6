// NAT64 prefix discovery (RFC 7050) and IPv6 address synthesis (RFC 6052) for IPv6-only networks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "oxl/ip/Ipv4Address.h"
#include "oxl/ip/Ipv6Address.h"

namespace oxl::dns {
class DnsUtilsInterface;
}

namespace oxl::ip {

class Nat64Prefix {
  public:
    // The process-wide instance (created on first use with a DnsUtilsImpl).
    static std::shared_ptr<Nat64Prefix> buildNat64Prefix();
    // newInstance false: the process-wide instance, created once with the DNS interface of the first such
    // call; true: a new instance over `dnsUtils`. A null `dnsUtils` means a DnsUtilsImpl.
    static std::shared_ptr<Nat64Prefix> buildNat64Prefix(
        std::shared_ptr<oxl::dns::DnsUtilsInterface> dnsUtils, bool newInstance);

    // One synthesised address per discovered prefix, in discovery order; empty when there is no NAT64
    // prefix or on any failure.
    virtual std::vector<Ipv6Address> getSynthesisedIpv6Address(const Ipv4Address& ipv4) = 0;
    // Forgets the discovered prefixes (for example after a network change).
    virtual void clearCache() = 0;
    // The name whose AAAA records reveal the prefixes; "ipv4only.arpa." by default.
    virtual void setAlternativeWellKnownIpv4Name(const std::string& name) = 0;
    virtual ~Nat64Prefix() = default;
};

}  // namespace oxl::ip

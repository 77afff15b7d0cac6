// Nat64Prefix over a DnsUtilsInterface, with the prefixes cached for their DNS lifetime.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "oxl/ip/Nat64Prefix.h"

namespace oxl::ip {

class Nat64PrefixImpl : public Nat64Prefix {
  public:
    // Steady-clock time in nanoseconds; replaceable so that expiry can be tested.
    using Clock = std::function<int64_t()>;

    static constexpr const char* DEFAULT_WELL_KNOWN_NAME = "ipv4only.arpa.";
    // The cache is used only while every entry has more than this left to live.
    static constexpr int64_t CACHE_MARGIN_NS = 10'000'000'000;

    explicit Nat64PrefixImpl(std::shared_ptr<oxl::dns::DnsUtilsInterface> dnsUtils, Clock clock = {});

    std::vector<Ipv6Address> getSynthesisedIpv6Address(const Ipv4Address& ipv4) override;
    void clearCache() override;
    void setAlternativeWellKnownIpv4Name(const std::string& name) override;

    // The address that `prefix` (RFC 6052 layout, IPv4 bytes at `position`: 4, 5, 6, 7, 9 or 12) gives for
    // the four bytes of `ipv4`, as eight groups of four lower-case hex digits; empty on bad input.
    static std::string synthesise(const std::vector<uint8_t>& prefix, size_t position,
                                  const std::vector<uint8_t>& ipv4);

  private:
    struct PrefixEntry {
        int64_t expiry = 0;  // steady clock, nanoseconds
        std::vector<uint8_t> prefix;
        std::string name;
        size_t position = 0;
    };

    bool cacheIsValid(int64_t now) const;
    void logSummary(const Ipv4Address& ipv4, const std::vector<Ipv6Address>& addresses,
                    const std::string& name) const;

    std::shared_ptr<oxl::dns::DnsUtilsInterface> dnsUtils_;
    Clock clock_;
    std::mutex mutex_;
    std::string wellKnownName_ = DEFAULT_WELL_KNOWN_NAME;
    std::vector<PrefixEntry> cache_;
};

}  // namespace oxl::ip

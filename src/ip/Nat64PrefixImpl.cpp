#include "oxl/ip/Nat64PrefixImpl.h"

#include <chrono>
#include <cstdio>
#include <sstream>

#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/ip/Nat64PrefixParser.h"
#include "oxl/log/Log.h"

namespace oxl::ip {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.ip");
    return l;
}

int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::shared_ptr<oxl::dns::DnsUtilsInterface> orDefault(
    std::shared_ptr<oxl::dns::DnsUtilsInterface> dnsUtils) {
    return dnsUtils ? std::move(dnsUtils) : std::make_shared<oxl::dns::DnsUtilsImpl>();
}

}  // namespace

std::shared_ptr<Nat64Prefix> Nat64Prefix::buildNat64Prefix() {
    return buildNat64Prefix(nullptr, false);
}

std::shared_ptr<Nat64Prefix> Nat64Prefix::buildNat64Prefix(
    std::shared_ptr<oxl::dns::DnsUtilsInterface> dnsUtils, bool newInstance) {
    if (newInstance) {
        return std::make_shared<Nat64PrefixImpl>(orDefault(std::move(dnsUtils)));
    }
    static const std::shared_ptr<Nat64Prefix> instance =
        std::make_shared<Nat64PrefixImpl>(orDefault(dnsUtils));
    return instance;
}

Nat64PrefixImpl::Nat64PrefixImpl(std::shared_ptr<oxl::dns::DnsUtilsInterface> dnsUtils, Clock clock)
    : dnsUtils_(orDefault(std::move(dnsUtils))),
      clock_(clock ? std::move(clock) : Clock(steadyNanoseconds)) {}

std::string Nat64PrefixImpl::synthesise(const std::vector<uint8_t>& prefix, size_t position,
                                        const std::vector<uint8_t>& ipv4) {
    const bool knownPosition =
        position == 4 || position == 5 || position == 6 || position == 7 || position == 9 || position == 12;
    if (!knownPosition || prefix.size() != position || ipv4.size() != 4) {
        return {};
    }
    uint8_t bytes[16] = {};
    std::copy(prefix.begin(), prefix.end(), bytes);
    for (size_t k = 0; k < 4; ++k) {
        size_t at = position + k;
        if (position < 8 && at >= 8) {
            ++at;  // the IPv4 bytes skip bits 64 to 71
        }
        bytes[at] = ipv4[k];
    }
    if (position != 12) {
        bytes[8] = 0;
    }
    std::string text;
    char hex[3];
    for (size_t i = 0; i < 16; ++i) {
        std::snprintf(hex, sizeof(hex), "%02x", bytes[i]);
        text += hex;
        if (i % 2 == 1 && i != 15) {
            text += ':';
        }
    }
    return text;
}

bool Nat64PrefixImpl::cacheIsValid(int64_t now) const {
    if (cache_.empty()) {
        return false;
    }
    return std::all_of(cache_.begin(), cache_.end(),
                       [now](const PrefixEntry& e) { return e.expiry - now > CACHE_MARGIN_NS; });
}

void Nat64PrefixImpl::logSummary(const Ipv4Address& ipv4, const std::vector<Ipv6Address>& addresses,
                                 const std::string& name) const {
    OXL_LOG_DEBUG(
        logger(), "Synthesised IPv6 Address information: IPv4 address: " << ipv4 << [&] {
            std::ostringstream os;
            for (const auto& a : addresses) {
                os << "; IPv6 address: " << a;
            }
            return os.str();
        }() << "; well known IPv4 name: " << name);
}

std::vector<Ipv6Address> Nat64PrefixImpl::getSynthesisedIpv6Address(const Ipv4Address& ipv4) {
    std::vector<Ipv6Address> result;
    if (ipv4.isEmpty()) {
        OXL_LOG_ERROR(logger(), "IPv4 address to lookup is empty, cannot continue.");
        return result;
    }
    const auto ipv4Bytes = ipv4.getBytes();
    if (ipv4Bytes.size() != 4) {
        OXL_LOG_ERROR(logger(), "IPv4 address " << ipv4 << " has no binary form, cannot continue.");
        return result;
    }
    std::string name;
    {
        std::lock_guard lock(mutex_);
        name = wellKnownName_;
        if (cacheIsValid(clock_())) {
            for (const auto& e : cache_) {
                result.push_back(Ipv6Address::createIpv6Address(synthesise(e.prefix, e.position, ipv4Bytes)));
            }
            logSummary(ipv4, result, name);
            return result;
        }
        cache_.clear();
    }

    std::vector<oxl::dns::AAAARecord> records;
    const auto dnsResult = dnsUtils_->executeAAAARecordQuery(name, records);
    if (dnsResult != oxl::dns::DnsQueryResult::SUCCESS) {
        OXL_LOG_ERROR(logger(),
                      "The DNS utils interface returned an error: " << dnsResult << ", cannot continue.");
        return result;
    }
    OXL_LOG_DEBUG(logger(), "NAT64 network prefix records found: " << records.size());
    std::vector<PrefixEntry> entries;
    const int64_t now = clock_();
    for (const auto& r : records) {
        OXL_LOG_DEBUG(logger(), "AAAA Record: '" << r.getName() << "' (" << r.getIP6Address()
                                                 << "), TTL: " << r.getTtl());
        const Nat64PrefixParser parser(Ipv6Address::createIpv6Address(r.getIP6Address()));
        auto prefix = parser.getPrefix();
        if (prefix.empty()) {
            continue;
        }
        entries.push_back(PrefixEntry{now + int64_t{r.getTtl()} * 1'000'000'000, std::move(prefix),
                                      r.getName(), parser.getPosition()});
    }

    {
        std::lock_guard lock(mutex_);
        // A caller that queried at the same time may have filled the cache already: the newer answer wins.
        cache_.clear();
        for (auto& e : entries) {
            const auto address = Ipv6Address::createIpv6Address(synthesise(e.prefix, e.position, ipv4Bytes));
            if (!address.isEmpty()) {
                result.push_back(address);
            }
            cache_.push_back(std::move(e));
        }
    }
    logSummary(ipv4, result, name);
    return result;
}

void Nat64PrefixImpl::clearCache() {
    std::lock_guard lock(mutex_);
    cache_.clear();
}

void Nat64PrefixImpl::setAlternativeWellKnownIpv4Name(const std::string& name) {
    OXL_LOG_DEBUG(logger(), "Setting new well known IPv4 name for prefix discovery: " << name);
    std::lock_guard lock(mutex_);
    wellKnownName_ = name;
    // Prefixes found under the previous name say nothing about the new one.
    cache_.clear();
}

}  // namespace oxl::ip

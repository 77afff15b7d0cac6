// The unresolved-host cache over the real host resolver, against dnsmasq on loopback.
#include <gtest/gtest.h>

#include "oxl/dns/DnsHostResolver.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/http/UnresolvedHostCache.h"
#include "support/Dnsmasq.h"

namespace oxl::http {
namespace {

TEST(UnresolvedHostCacheDnsTest, ResolvableAndUnresolvableHosts) {
    oxl::test::Dnsmasq dns(oxl::test::DnsmasqRecords()
                               .addA("v4.corp.test", "10.20.30.40")
                               .addAaaa("v6.corp.test", "2001:db8::7")
                               .addLocalDomain("corp.test"));
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    oxl::dns::DnsUtilsScopedSetCustomServerAddress server(dns.address());

    UnresolvedHostCache cache(std::make_shared<oxl::dns::DnsHostResolver>());
    EXPECT_TRUE(cache.hostCanBeResolved("https://v4.corp.test/a"));
    EXPECT_TRUE(cache.hostCanBeResolved("https://v6.corp.test:8443/b"));  // AAAA only
    EXPECT_TRUE(cache.isEmpty());

    EXPECT_FALSE(cache.hostCanBeResolved("https://missing.corp.test/c"));
    EXPECT_TRUE(cache.isRecentlyUnresolved("missing.corp.test"));
    EXPECT_FALSE(cache.isEmpty());

    // Once the name exists it is still refused until the entry expires: the cache does not ask again.
    ASSERT_TRUE(dns.restart(
        oxl::test::DnsmasqRecords().addA("missing.corp.test", "10.0.0.9").addLocalDomain("corp.test")))
        << dns.log();
    EXPECT_FALSE(cache.hostCanBeResolved("https://missing.corp.test/c"));
    EXPECT_TRUE(oxl::dns::DnsHostResolver().isResolvable("missing.corp.test"));
}

}  // namespace
}  // namespace oxl::http

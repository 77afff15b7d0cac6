// NAT64 discovery, the host resolver and the oxlnet DNS commands against a real dnsmasq.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "oxl/dns/DnsHostResolver.h"
#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/ip/Nat64Prefix.h"
#include "support/Dnsmasq.h"
#include "support/LogCapture.h"
#include "support/RunTool.h"

using oxl::dns::DnsUtilsScopedSetCustomServerAddress;
using oxl::ip::Ipv4Address;
using oxl::ip::Nat64Prefix;
using oxl::test::Dnsmasq;
using oxl::test::DnsmasqRecords;

namespace {

const Ipv4Address kExample = Ipv4Address::createIpv4Address("192.0.2.33");

std::vector<std::string> synthesise(const std::shared_ptr<Nat64Prefix>& nat64) {
    std::vector<std::string> out;
    for (const auto& a : nat64->getSynthesisedIpv6Address(kExample)) {
        out.push_back(a.getAddress());
    }
    return out;
}

TEST(Nat64Integration, EveryPrefixLengthFromRealAnswers) {
    // RFC 6052 section 2.4 examples, announced through the well-known address 192.0.0.170.
    struct Case {
        std::string name;
        std::string answer;
        std::string synthesised;
    };
    const std::vector<Case> cases = {
        {"wk32.nat64.test", "2001:db8:c000:aa::", "2001:0db8:c000:0221:0000:0000:0000:0000"},
        {"wk40.nat64.test", "2001:db8:1c0:0:aa::", "2001:0db8:01c0:0002:0021:0000:0000:0000"},
        {"wk48.nat64.test", "2001:db8:122:c000:0:aa00::", "2001:0db8:0122:c000:0002:2100:0000:0000"},
        {"wk56.nat64.test", "2001:db8:122:3c0:0:aa::", "2001:0db8:0122:03c0:0000:0221:0000:0000"},
        {"wk64.nat64.test", "2001:db8:122:344:c0:0:aa00:0", "2001:0db8:0122:0344:00c0:0002:2100:0000"},
        {"ipv4only.arpa", "64:ff9b::c000:aa", "0064:ff9b:0000:0000:0000:0000:c000:0221"},
    };
    DnsmasqRecords records;
    for (const auto& c : cases) {
        records.addAaaa(c.name, c.answer, 600);
    }
    Dnsmasq dns(records);
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    DnsUtilsScopedSetCustomServerAddress server(dns.address());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto nat64 = Nat64Prefix::buildNat64Prefix(std::make_shared<oxl::dns::DnsUtilsImpl>(), true);
        if (c.name != "ipv4only.arpa") {
            nat64->setAlternativeWellKnownIpv4Name(c.name);
        }
        EXPECT_EQ(std::vector<std::string>{c.synthesised}, synthesise(nat64));
    }
}

TEST(Nat64Integration, AnswerTtlDecidesWhetherTheNetworkIsAskedAgain) {
    for (const int ttl : {5, 300}) {
        SCOPED_TRACE(ttl);
        Dnsmasq dns(DnsmasqRecords().addAaaa("ipv4only.arpa", "64:ff9b::c000:aa", ttl));
        ASSERT_TRUE(dns.isRunning()) << dns.log();
        DnsUtilsScopedSetCustomServerAddress server(dns.address());
        auto nat64 = Nat64Prefix::buildNat64Prefix(std::make_shared<oxl::dns::DnsUtilsImpl>(), true);
        ASSERT_EQ(std::vector<std::string>{"0064:ff9b:0000:0000:0000:0000:c000:0221"}, synthesise(nat64));
        // The network moves to another prefix.
        ASSERT_TRUE(dns.restart(DnsmasqRecords().addAaaa("ipv4only.arpa", "2001:db8:122:344::c000:aa", ttl)))
            << dns.log();
        const std::string expected = ttl == 5 ? "2001:0db8:0122:0344:0000:0000:c000:0221"   // asked again
                                              : "0064:ff9b:0000:0000:0000:0000:c000:0221";  // still cached
        EXPECT_EQ(std::vector<std::string>{expected}, synthesise(nat64));
        nat64->clearCache();
        EXPECT_EQ(std::vector<std::string>{"2001:0db8:0122:0344:0000:0000:c000:0221"}, synthesise(nat64));
    }
}

TEST(Nat64Integration, NoPrefixWithoutAnswer) {
    Dnsmasq dns(DnsmasqRecords()
                    .addA("ipv4only.arpa", "192.0.0.170")
                    .addLocalDomain("ipv4only.arpa")
                    .addLocalDomain("nat64.test"));
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    DnsUtilsScopedSetCustomServerAddress server(dns.address());
    oxl::test::LogCapture logs;
    auto nat64 = Nat64Prefix::buildNat64Prefix(std::make_shared<oxl::dns::DnsUtilsImpl>(), true);
    EXPECT_TRUE(synthesise(nat64).empty());
    EXPECT_TRUE(logs.contains("The DNS utils interface returned an error: NO_RECORDS, cannot continue."));
    nat64->setAlternativeWellKnownIpv4Name("none.nat64.test");
    EXPECT_TRUE(synthesise(nat64).empty());
    EXPECT_TRUE(
        logs.contains("The DNS utils interface returned an error: DOMAIN_DOES_NOT_EXIST, cannot continue."));
}

TEST(DnsHostResolverIntegration, FallsBackToAaaa) {
    Dnsmasq dns(DnsmasqRecords()
                    .addA("v4.corp.test", "10.0.0.4")
                    .addAaaa("v6.corp.test", "2001:db8::6")
                    .addLocalDomain("corp.test"));
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    DnsUtilsScopedSetCustomServerAddress server(dns.address());
    const oxl::dns::DnsHostResolver resolver;
    struct Case {
        std::string host;
        bool resolvable;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"v4.corp.test", true, {"A record query succeeded with record size: 1"}},
        {"v6.corp.test",
         true,
         {"A record query failed with result: NO_RECORDS and record size: 0",
          "AAAA record query succeeded with record size: 1"}},
        {"gone.corp.test",
         false,
         {"A record query failed with result: DOMAIN_DOES_NOT_EXIST and record size: 0",
          "AAAA record query failed with result: DOMAIN_DOES_NOT_EXIST and record size: 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        oxl::test::LogCapture logs;
        EXPECT_EQ(c.resolvable, resolver.isResolvable(c.host));
        EXPECT_TRUE(logs.contains("About to execute A record query for: " + c.host));
        std::vector<std::string> lines;
        for (const auto& r : logs.records()) {
            if (r.function == "oxl::dns::detail::isResolvableWith" && r.message.rfind("About", 0) != 0) {
                lines.push_back(r.message);
            }
        }
        EXPECT_EQ(c.lines, lines);
    }
}

// --- the oxlnet commands, run as processes ---

using oxl::test::oxlnetPath;
using oxl::test::runOxlnet;

class OxlnetDnsCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        if (oxlnetPath().empty()) {
            GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
        }
        ASSERT_TRUE(dns_.isRunning()) << dns_.log();
    }
    Dnsmasq dns_{DnsmasqRecords()
                     .addSrv("_svc._tcp.corp.test", "late.corp.test", 5061, 30, 0)
                     .addSrv("_svc._tcp.corp.test", "first.corp.test", 443, 5, 10)
                     .addSrv("_svc._tcp.corp.test", "mid.corp.test", 8443, 10, 50)
                     .addAaaa("v6.corp.test", "2001:db8::6")
                     .addAaaa("ipv4only.arpa", "64:ff9b::c000:ab")
                     .addAaaa("wk40.corp.test", "2001:db8:1c0:0:aa::")
                     .addLocalDomain("corp.test")};
};

TEST_F(OxlnetDnsCommands, AnswersOnStandardOutput) {
    const std::string server = dns_.address();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"srv", "_svc._tcp.corp.test", "--dns-server", server},
         0,
         "5 10 443 first.corp.test\n10 50 8443 mid.corp.test\n30 0 5061 late.corp.test\n"},
        {{"srv", "--dns-server=" + server, "_none._tcp.corp.test"}, 1, "DOMAIN_DOES_NOT_EXIST\n"},
        {{"srv", "v6.corp.test", "--dns-server", server}, 1, "NO_RECORDS\n"},
        {{"resolve", "v6.corp.test", "--dns-server", server}, 0, "resolvable\n"},
        {{"resolve", "gone.corp.test", "--dns-server", server}, 1, "not resolvable\n"},
        {{"nat64", "192.0.2.33", "--dns-server", server}, 0, "0064:ff9b:0000:0000:0000:0000:c000:0221\n"},
        {{"nat64", "192.0.2.33", "--dns-server", server, "--well-known-name", "wk40.corp.test"},
         0,
         "2001:0db8:01c0:0002:0021:0000:0000:0000\n"},
        {{"nat64", "192.0.2.33", "--dns-server", server, "--well-known-name", "v6.corp.test"}, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const auto run = runOxlnet(c.args);
        EXPECT_EQ(c.status, run.status) << run.err;
        EXPECT_EQ(c.out, run.out);
    }
}

TEST_F(OxlnetDnsCommands, BadInputIsOneLineAndNonZero) {
    const std::vector<std::vector<std::string>> cases = {
        {"srv"},
        {"srv", ""},
        {"srv", "a.corp.test", "b.corp.test"},
        {"srv", "_svc._tcp.corp.test", "--dns-server", "127.0.0.1:0"},
        {"srv", "_svc._tcp.corp.test", "--dns-server", "127.0.0.1:99999"},
        {"srv", "_svc._tcp.corp.test", "--dns-server", "dns.corp.test"},
        {"srv", "_svc._tcp.corp.test", "--dns-server"},
        {"resolve"},
        {"resolve", "--dns-server", "[::1"},
        {"nat64", "300.1.2.3"},
        {"nat64", "::1"},
        {"nat64", "192.0.2.33", "--well-known-name", ""},
        {"nat64"},
    };
    for (const auto& args : cases) {
        std::string label;
        for (const auto& a : args) {
            label += "'" + a + "' ";
        }
        SCOPED_TRACE(label);
        const auto run = runOxlnet(args);
        EXPECT_NE(0, run.status);
        EXPECT_LT(run.status, 128) << "crashed";
        EXPECT_EQ("", run.out);
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
    // A malformed name reaches the resolver, which refuses it without a crash.
    const auto run = runOxlnet({"srv", "a..b", "--dns-server", dns_.address()});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("BAD_QUERY\n", run.out);
}

TEST(OxlnetDnsCommandsTimeout, SilentServerReportsTimeout) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    oxl::test::SilentUdpPort silent;
    const auto run = runOxlnet({"srv", "_svc._tcp.corp.test", "--dns-server", silent.address()});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("TIMEOUT\n", run.out);
}

}  // namespace

// The Tomcat port rewrite and the NAT64 reset on network change.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "oxl/ip/Nat64Prefix.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/TomcatPortModifier.h"
#include "oxl/netutils/adapters/Nat64PrefixChangeAdapter.h"
#include "unit/edgestate/EdgeStateTestSupport.h"

namespace oxl::netutils {
namespace {

using oxl::edge::ServiceRecord;
using oxl::edge::TcpEndpoint;

class RecordsDetection : public oxl::edge::test::FakeDetection {
  public:
    explicit RecordsDetection(std::vector<ServiceRecord> records) : records_(std::move(records)) {}
    std::vector<ServiceRecord> getInternalServiceRecords(bool) override { return records_; }

  private:
    std::vector<ServiceRecord> records_;
};

TEST(TomcatPortModifierTest, OnlyPort8443MovesToTheFirstAnnouncedDirectoryPort) {
    const std::vector<ServiceRecord> announces9443 = {
        {"_dwrlogin._tcp", {{"login.corp.test", 7443}}},
        {"_pelko-zds._tcp", {{"zds1.corp.test", 8443}, {"zds2.corp.test", 0}, {"zds3.corp.test", 9443}}},
        {"_pelko-zds-b._tcp", {{"zds4.corp.test", 9999}}},
    };
    const std::vector<ServiceRecord> onlyDefault = {
        {"_pelko-zds._tcp", {{"zds1.corp.test", 8443}, {"zds2.corp.test", 0}}},
        {"_dwrlogin._tcp", {{"login.corp.test", 7443}}},  // not the directory service
    };
    struct Case {
        std::vector<ServiceRecord> records;
        std::string url;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {announces9443, "https://zds.corp.test:8443/path/a?x=1&y=2",
         "https://zds.corp.test:9443/path/a?x=1&y=2"},
        {announces9443, "https://zds.corp.test:8443", "https://zds.corp.test:9443"},
        {announces9443, "https://zds.corp.test:8443?q=1", "https://zds.corp.test:9443?q=1"},
        {announces9443, "zds.corp.test:8443/p", "zds.corp.test:9443/p"},
        {announces9443, "https://[2001:db8::1]:8443/p?q", "https://[2001:db8::1]:9443/p?q"},
        {announces9443, "https://10.0.0.1:8443/p", "https://10.0.0.1:9443/p"},
        {announces9443, "https://zds.corp.test:443/p", "https://zds.corp.test:443/p"},
        {announces9443, "https://zds.corp.test/p", "https://zds.corp.test/p"},
        {announces9443, "https://zds.corp.test:84430/p", "https://zds.corp.test:84430/p"},
        {announces9443, "https://[2001:db8::1]:443/p", "https://[2001:db8::1]:443/p"},
        {onlyDefault, "https://zds.corp.test:8443/p?q", "https://zds.corp.test:8443/p?q"},
        {{}, "https://[2001:db8::1]:8443/p", "https://[2001:db8::1]:8443/p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const TomcatPortModifier modifier(std::make_shared<RecordsDetection>(c.records));
        EXPECT_EQ(modifier.changeDefaultTomcatPort(c.url), c.expected);
    }
}

TEST(TomcatPortModifierTest, WithoutAnyEdgeStateTheUrlIsKept) {
    oxl::netutils::GlobalEdgeStateController::resetForTesting();
    EXPECT_EQ(TomcatPortModifier().changeDefaultTomcatPort("https://zds.corp.test:8443/p"),
              "https://zds.corp.test:8443/p");
}

class CountingNat64 : public oxl::ip::Nat64Prefix {
  public:
    std::atomic<int> clears{0};
    std::vector<oxl::ip::Ipv6Address> getSynthesisedIpv6Address(const oxl::ip::Ipv4Address&) override {
        return {};
    }
    void clearCache() override { ++clears; }
    void setAlternativeWellKnownIpv4Name(const std::string&) override {}
};

TEST(Nat64PrefixChangeAdapterTest, OnlyAnInterfaceChangeResetsThePrefix) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"IpInterfaceChanged", 1},      {"ipinterfacechanged", 0},   {"IpInterfaceChanged ", 0},
        {"GatherInitialVisibility", 0}, {"EdgeCapabilityChange", 0}, {"", 0},
    };
    for (const auto& [name, clears] : cases) {
        SCOPED_TRACE(name);
        auto nat64 = std::make_shared<CountingNat64>();
        auto adapter = adapters::Nat64PrefixChangeAdapter::buildNat64PrefixChangeAdapter(nat64);
        adapter->onNetworkSensingEvent(oxl::edge::NetworkSensingEvent(true, false, true, false, name));
        EXPECT_EQ(nat64->clears, clears);
    }
}

}  // namespace
}  // namespace oxl::netutils

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "support/Dnsmasq.h"
#include "support/LoopbackListener.h"
#include "support/RunTool.h"
#include "support/WaitFor.h"
#include "unit/edge/EdgeTestSupport.h"

namespace oxl::edge {
namespace {

using oxl::test::Dnsmasq;
using oxl::test::DnsmasqRecords;

using oxl::test::waitFor;

using oxl::test::LoopbackListener;

using Sensing = test::RecordingSensingObserver;
using Visibility = test::RecordingVisibilityObserver;

// The edge is published only in the external zone, as it is in real deployments.
DnsmasqRecords outside() {
    return DnsmasqRecords()
        .addSrv("_brisel-edge._tls.ext.test", "edge1.ext.test", 443, 10, 0)
        .addSrv("_brisel-edge._tls.ext.test", "edge2.ext.test", 8443, 20, 0)
        .addLocalDomain("corp.test")
        .addLocalDomain("ext.test");
}

DnsmasqRecords inside(uint16_t port) {
    return outside().addSrv("_pelko-zds._tcp.corp.test", "127.0.0.1", port, 10, 0);
}

TEST(EdgeDetectionDnsTest, ReaderAndSensorsAgainstDnsmasq) {
    Dnsmasq dns(DnsmasqRecords(outside())
                    .addSrv("_dwrlogin._tcp.corp.test", "login2.corp.test", 443, 20, 0)
                    .addSrv("_dwrlogin._tcp.corp.test", "login1.corp.test", 8443, 10, 0));
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    oxl::dns::DnsUtilsScopedSetCustomServerAddress server(dns.address());

    EdgeDetectionDnsRecordReader reader;
    reader.setInternalDomainName("corp.test");
    reader.setExternalDomainName("ext.test.");
    ServiceRecord record;
    EXPECT_FALSE(reader.queryPelkoZdsSrvRecord(record));
    ASSERT_TRUE(reader.queryDwrloginSrvRecord(record));
    EXPECT_EQ(record.serviceName, "_dwrlogin");
    EXPECT_EQ(record.endpoints,
              (std::vector<TcpEndpoint>{{"login1.corp.test", 8443}, {"login2.corp.test", 443}}));
    std::vector<EdgeServiceRecordData> edge;
    ASSERT_TRUE(reader.queryBriselEdgeSrvRecord(edge));
    EXPECT_EQ(edge, (std::vector<EdgeServiceRecordData>{{"edge1.ext.test", 443}, {"edge2.ext.test", 8443}}));

    EnterpriseNetworkSensor sensor(EnterpriseNetworkSensorStrategy::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING,
                                   "corp.test");
    ServiceRecord found;
    EXPECT_TRUE(sensor.evaluate(found));
    EXPECT_EQ(sensor.getStrategy(), EnterpriseNetworkSensorStrategy::FIND_DWRLOGIN_RECORD);
    BriselEdgeServiceSensor unknown(BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD,
                                    "nothing.corp.test");
    std::vector<EdgeServiceRecordData> none;
    EXPECT_FALSE(unknown.evaluate(std::back_inserter(none)));
    EXPECT_TRUE(none.empty());
}

TEST(EdgeDetectionDnsTest, DirectConnectivityTesterAgainstLoopbackListener) {
    LoopbackListener listener;
    ASSERT_NE(listener.port(), 0);
    DirectConnectivityTester open(TcpEndpoint("127.0.0.1", listener.port()), 5);
    EXPECT_TRUE(open.test());
    listener.close();
    DirectConnectivityTester closed(TcpEndpoint("127.0.0.1", listener.port()), 5);
    EXPECT_FALSE(closed.test());
    DirectConnectivityTester badTimeout(TcpEndpoint("127.0.0.1", 1), -1);
    EXPECT_FALSE(badTimeout.test());
}

TEST(EdgeDetectionDnsTest, SetDomainsQueriesTheNewDomainsAndRestarts) {
    Dnsmasq dns(outside());
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    oxl::dns::DnsUtilsScopedSetCustomServerAddress server(dns.address());
    auto controller = EdgeDetectionControllerImpl::build("corp.test", "nothing.ext.test");
    auto sensing = std::make_shared<Sensing>();
    controller->registerNetworkSensingObserver(sensing);
    EXPECT_FALSE(controller->isEdgeAvailable());
    // setDomains stops the controller, which drops notices still queued: let the first one arrive.
    ASSERT_TRUE(waitFor([&] { return sensing->events().size() == 1; }, std::chrono::seconds(10)));

    controller->setDomains("corp.test", "ext.test");
    EXPECT_TRUE(controller->isEdgeAvailable());
    EXPECT_EQ(controller->getEdgeServiceRecordData(),
              (std::vector<EdgeServiceRecordData>{{"edge1.ext.test", 443}, {"edge2.ext.test", 8443}}));
    ASSERT_TRUE(waitFor([&] { return sensing->events().size() >= 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(sensing->events().back(),
              NetworkSensingEvent(false, true, false, true, "GatherInitialVisibility"));

    // After stop the same domains start it again.
    controller->stop();
    EXPECT_FALSE(controller->isEdgeAvailable());
    controller->setDomains("corp.test", "ext.test");
    EXPECT_TRUE(controller->isEdgeAvailable());
}

// dnsmasq first says "outside", then "inside": the controller's observers see internal visibility arrive
// after the outside machine confirmed direct connectivity three times; then back outside again.
TEST(EdgeDetectionEndToEndTest, OutsideThenInsideThenOutside) {
    LoopbackListener listener;
    ASSERT_NE(listener.port(), 0);
    Dnsmasq dns(outside());
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    oxl::dns::DnsUtilsScopedSetCustomServerAddress server(dns.address());

    auto controller = EdgeDetectionControllerImpl::build("corp.test", "ext.test");
    auto transitions = EdgeTransitionDetectionControllerImpl::build();
    transitions->setIpInterfaceChangeMonitorEnabled(false);
    controller->setEdgeTransitionDetectionController(transitions);
    transitions->start();
    auto sensing = std::make_shared<Sensing>();
    auto visibility = std::make_shared<Visibility>();
    controller->registerNetworkSensingObserver(sensing);
    controller->registerVisibilityChangeObserver(visibility);

    const std::vector<EdgeServiceRecordData> externalEdges = {{"edge1.ext.test", 443},
                                                              {"edge2.ext.test", 8443}};
    EXPECT_FALSE(controller->isOnPremServerAvailable());
    EXPECT_TRUE(controller->isEdgeAvailable());
    ASSERT_TRUE(waitFor([&] { return transitions->getDetectDirectConnectAvailableFsmState() == "Polling"; },
                        std::chrono::seconds(10)));
    // The outside machine's own edge test on entering Polling has been applied by the controller: it must
    // have found the same external records, not turned the edge off.
    ASSERT_TRUE(waitFor([&] { return sensing->sawEvent("StartPolling"); }, std::chrono::seconds(10)));
    EXPECT_EQ(transitions->getDetectDirectConnectAvailableFsmStatistics().countEdgeConnectUnavailableNotified,
              0u);
    EXPECT_TRUE(controller->isEdgeAvailable());
    EXPECT_EQ(controller->getEdgeServiceRecordData(), externalEdges);

    ASSERT_TRUE(dns.restart(inside(listener.port()))) << dns.log();
    controller->getNetworkSensingHints()->hintHostOsIpInterfaceChanged("test: moved inside");
    ASSERT_TRUE(waitFor([&] { return sensing->sawInternal(true); }, std::chrono::seconds(30)));
    EXPECT_TRUE(controller->isOnPremServerAvailable());
    const auto records = controller->getInternalServiceRecords(false);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].endpoints, (std::vector<TcpEndpoint>{{"127.0.0.1", listener.port()}}));
    EXPECT_GE(transitions->getDetectDirectConnectAvailableFsmStatistics().countDirectConnectAvailableNotified,
              1u);
    ASSERT_TRUE(
        waitFor([&] { return transitions->getDetectDirectConnectUnavailableFsmState() == "Monitoring"; },
                std::chrono::seconds(10)))
        << "internal visibility starts monitoring from inside";
    // Observers hear of the change on their own task, after the sensing notice.
    EXPECT_TRUE(waitFor([&] { return visibility->count() >= 2; }, std::chrono::seconds(10)));

    ASSERT_TRUE(dns.restart(outside())) << dns.log();
    listener.close();
    controller->getNetworkSensingHints()->hintHostOsIpInterfaceChanged("test: moved outside");
    ASSERT_TRUE(waitFor([&] { return sensing->sawInternal(false); }, std::chrono::seconds(30)));
    EXPECT_FALSE(controller->isOnPremServerAvailable());
    EXPECT_TRUE(controller->isEdgeAvailable());
    EXPECT_EQ(controller->getEdgeServiceRecordData(), externalEdges);
    ASSERT_TRUE(waitFor([&] { return transitions->getDetectDirectConnectAvailableFsmState() == "Polling"; },
                        std::chrono::seconds(10)));

    transitions->stop();
    controller->stop();
}

using oxl::test::oxlnetPath;
using oxl::test::runOxlnet;

TEST(OxlnetDetectTest, PrintsVisibilityAndRecords) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    Dnsmasq dns(inside(4443));
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    const auto visible = runOxlnet({"detect", "--internal-domain", "corp.test", "--external-domain",
                                    "ext.test", "--dns-server", dns.address()});
    EXPECT_EQ(visible.status, 0);
    EXPECT_EQ(
        visible.out,
        "internal: visible\nedge: visible\ninternal _pelko-zds 127.0.0.1:4443\nedge edge1.ext.test:443\n"
        "edge edge2.ext.test:8443\n");

    const auto nothing = runOxlnet({"detect", "--internal-domain", "none.corp.test", "--external-domain",
                                    "none.ext.test", "--dns-server", dns.address()});
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.out, "internal: not visible\nedge: not visible\n");

    EXPECT_NE(runOxlnet("detect --internal-domain corp.test").status, 0);
    EXPECT_NE(runOxlnet("detect --internal-domain a --external-domain b --watch -3").status, 0);
    EXPECT_NE(runOxlnet("detect --internal-domain a --external-domain b --dns-server bogus:port").status, 0);
}

TEST(OxlnetDetectTest, WatchPrintsSensingEvents) {
    if (oxlnetPath().empty()) {
        GTEST_SKIP() << "the oxlnet tool was not found (set OXLNET)";
    }
    Dnsmasq dns(outside());
    ASSERT_TRUE(dns.isRunning()) << dns.log();
    // Outside: the initial answer, then the notices of the first gathering and of the outside machine that
    // starts polling and finds the edge.
    const auto run = runOxlnet({"detect", "--internal-domain", "corp.test", "--external-domain", "ext.test",
                                "--dns-server", dns.address(), "--watch", "4"});
    const std::string& output = run.out;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(output.rfind("internal: not visible\nedge: visible\n", 0), 0u) << output;
    EXPECT_NE(
        output.find("sensing: Event 'GatherInitialVisibility' Internal network status is still 'not visible' "
                    "Edge status changed to 'visible'"),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("sensing: Event 'StartPolling'"), std::string::npos) << output;
    EXPECT_NE(output.find("change: internal not visible, edge visible"), std::string::npos) << output;
    // The edge record lives only under the external domain: watching must never lose it.
    EXPECT_EQ(output.find("edge not visible"), std::string::npos) << output;
    EXPECT_EQ(output.find("Edge status changed to 'not visible'"), std::string::npos) << output;
    EXPECT_EQ(output.find("Edge status is still 'not visible'"), std::string::npos) << output;
}

}  // namespace
}  // namespace oxl::edge

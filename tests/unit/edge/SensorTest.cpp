#include <gtest/gtest.h>

#include <iterator>

#include "EdgeTestSupport.h"
#include "oxl/diag/Diagnostics.h"
#include "oxl/edge/BriselEdgeServiceSensor.h"
#include "oxl/edge/EdgeDetectionDnsRecordReader.h"
#include "oxl/edge/EnterpriseNetworkSensor.h"
#include "oxl/edge/InternalNetworkVisibilityTester.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using oxl::dns::DnsQueryResult;
using test::ScriptedSrv;
using S = EnterpriseNetworkSensorStrategy;

TEST(EdgeDetectionDnsRecordReaderTest, QueryNamesNormaliseTheDomain) {
    struct Case {
        std::string domain;
        std::string pelko;
        std::string dwr;
        std::string edge;
    };
    const std::vector<Case> cases = {
        {"corp.test", "_pelko-zds._tcp.corp.test.", "_dwrlogin._tcp.corp.test.",
         "_brisel-edge._tls.corp.test."},
        {"corp.test.", "_pelko-zds._tcp.corp.test.", "_dwrlogin._tcp.corp.test.",
         "_brisel-edge._tls.corp.test."},
        {"", "_pelko-zds._tcp.", "_dwrlogin._tcp.", "_brisel-edge._tls."},
    };
    for (const auto& c : cases) {
        ScriptedSrv srv;
        EdgeDetectionDnsRecordReader reader(srv.function());
        reader.setInternalDomainName(c.domain);
        reader.setExternalDomainName(c.domain);
        ServiceRecord record;
        reader.queryPelkoZdsSrvRecord(record);
        reader.queryDwrloginSrvRecord(record);
        reader.queryBriselEdgeSrvRecord();
        EXPECT_EQ(srv.asked(), (std::vector<std::string>{c.pelko, c.dwr, c.edge}))
            << "domain '" << c.domain << "'";
    }
}

TEST(EdgeDetectionDnsRecordReaderTest, InternalQueryAppendsSortedTargetsWithoutClearing) {
    ScriptedSrv srv;
    ScriptedSrv::Answer answer;
    // Lower priority first, whatever the answer order.
    answer.records = {{20, 0, 5061, "b.corp.test"}, {10, 0, 443, "a.corp.test"}};
    srv.set("_pelko-zds._tcp.corp.test.", answer);
    EdgeDetectionDnsRecordReader reader(srv.function());
    reader.setInternalDomainName("corp.test");

    ServiceRecord record("old", {TcpEndpoint("kept.corp.test", 1)});
    ASSERT_TRUE(reader.queryPelkoZdsSrvRecord(record));
    EXPECT_EQ(record.serviceName, "_pelko-zds");
    EXPECT_EQ(record.endpoints,
              (std::vector<TcpEndpoint>{{"kept.corp.test", 1}, {"a.corp.test", 443}, {"b.corp.test", 5061}}));
    ServiceRecord none;
    EXPECT_FALSE(reader.queryDwrloginSrvRecord(none));
    EXPECT_TRUE(none.serviceName.empty());
}

TEST(EdgeDetectionDnsRecordReaderTest, EdgeQueryDiagnosticsByResult) {
    struct Case {
        DnsQueryResult::Result result;
        bool withRecord;
        bool expected;
        int type;
        std::string value;
        long status;
    };
    const std::vector<Case> cases = {
        {DnsQueryResult::SUCCESS, true, true, 0, "edge.corp.test;", 1},
        {DnsQueryResult::SUCCESS, false, true, 0, "None", 1},
        {DnsQueryResult::NO_RECORDS, false, false, 1, "No Records", 0},
        {DnsQueryResult::TIMEOUT, false, false, 2, "Time Out", 0},
        {DnsQueryResult::SERVER_FAILURE, false, false, -1, "", 0},
    };
    for (const auto& c : cases) {
        auto sink = std::make_shared<OXLDiagnostics::MemoryDiagnosticsSink>();
        OXLDiagnostics::DiagnosticsWrapper::setSink(sink);
        ScriptedSrv srv;
        ScriptedSrv::Answer answer;
        answer.result = c.result;
        if (c.withRecord) {
            answer.records = {{0, 0, 443, "edge.corp.test"}};
        }
        srv.set("_brisel-edge._tls.ext.test.", answer);
        EdgeDetectionDnsRecordReader reader(srv.function());
        reader.setExternalDomainName("ext.test");
        std::vector<EdgeServiceRecordData> records;
        EXPECT_EQ(reader.queryBriselEdgeSrvRecord(records), c.expected) << c.result;
        const auto diag = sink->records();
        if (c.type < 0) {
            EXPECT_TRUE(diag.empty()) << c.result;
        } else {
            ASSERT_EQ(diag.size(), 1u) << c.result;
            EXPECT_EQ(diag[0].recordType, c.type);
            EXPECT_EQ(diag[0].section, 10);
            EXPECT_EQ(diag[0].name, "_brisel-edge._tls.ext.test.");
            EXPECT_EQ(diag[0].value, c.value);
            EXPECT_EQ(diag[0].number, c.status);
        }
        OXLDiagnostics::DiagnosticsWrapper::setSink(nullptr);
    }
}

TEST(EnterpriseNetworkSensorTest, StrategyTable) {
    const std::string pelko = "_pelko-zds._tcp.corp.test.";
    const std::string dwr = "_dwrlogin._tcp.corp.test.";
    struct Case {
        int strategy;
        bool pelkoPublished;
        bool dwrPublished;
        bool expected;
        std::vector<std::string> asked;
        std::string label;  // empty: no log line
    };
    const std::vector<Case> cases = {
        {S::ASSUME_VISIBLE, false, false, true, {}, ""},
        {S::ASSUME_NOT_VISIBLE, true, true, false, {}, ""},
        {S::FIND_PELKO_ZDS_RECORD, true, true, true, {pelko}, "FindPelkoZdsRecord"},
        {S::FIND_PELKO_ZDS_RECORD, false, true, false, {pelko}, "FindPelkoZdsRecord"},
        {S::FIND_DWRLOGIN_RECORD, true, false, false, {dwr}, "FindDwrloginRecord"},
        {S::FIND_ANY_INTERNAL_RECORD, true, true, true, {pelko}, "FindAnyInternalRecord"},
        {S::FIND_ANY_INTERNAL_RECORD, false, true, true, {pelko, dwr}, "FindAnyInternalRecord"},
        {S::FIND_ANY_INTERNAL_RECORD, false, false, false, {pelko, dwr}, "FindAnyInternalRecord"},
        {S::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING,
         false,
         false,
         false,
         {pelko, dwr},
         "FindAnyInternalRecordWithLatching"},
        {42, false, false, true, {}, ""},
    };
    for (const auto& c : cases) {
        ScriptedSrv srv;
        if (c.pelkoPublished) {
            srv.setTargets(pelko, {{"p.corp.test", 5061}});
        }
        if (c.dwrPublished) {
            srv.setTargets(dwr, {{"d.corp.test", 443}});
        }
        EnterpriseNetworkSensor sensor(static_cast<S::Strategy>(c.strategy), "corp.test");
        sensor.setSrvQueryFunction(srv.function());
        oxl::test::LogCapture log;
        ServiceRecord record;
        EXPECT_EQ(sensor.evaluate(record), c.expected) << "strategy " << c.strategy;
        EXPECT_EQ(srv.asked(), c.asked) << "strategy " << c.strategy;
        if (c.label.empty()) {
            EXPECT_FALSE(log.contains("EnterpriseNetworkSensor strategy")) << "strategy " << c.strategy;
        } else {
            EXPECT_EQ(log.count("EnterpriseNetworkSensor strategy " + c.label + " evaluated to " +
                                (c.expected ? "true" : "false")),
                      1u)
                << "strategy " << c.strategy;
        }
    }
}

TEST(EnterpriseNetworkSensorTest, LatchingKeepsTheFirstRecordKindThatAnswered) {
    const std::string pelko = "_pelko-zds._tcp.corp.test.";
    const std::string dwr = "_dwrlogin._tcp.corp.test.";
    ScriptedSrv srv;
    EnterpriseNetworkSensor sensor(S::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, "corp.test");
    sensor.setSrvQueryFunction(srv.function());

    ServiceRecord record;
    EXPECT_FALSE(sensor.evaluate(record));
    EXPECT_EQ(sensor.getStrategy(), S::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING)
        << "nothing found, nothing latched";

    srv.setTargets(dwr, {{"d.corp.test", 443}});
    EXPECT_TRUE(sensor.evaluate(record));
    EXPECT_EQ(sensor.getStrategy(), S::FIND_DWRLOGIN_RECORD);

    // "_pelko-zds" published later is never asked again; losing "_dwrlogin" means not visible.
    srv.setTargets(pelko, {{"p.corp.test", 5061}});
    srv.erase(dwr);
    srv.clearAsked();
    ServiceRecord later;
    EXPECT_FALSE(sensor.evaluate(later));
    EXPECT_EQ(srv.asked(), std::vector<std::string>{dwr});

    EnterpriseNetworkSensor pelkoSensor(S::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, "corp.test");
    pelkoSensor.setSrvQueryFunction(srv.function());
    EXPECT_TRUE(pelkoSensor.evaluate(later));
    EXPECT_EQ(pelkoSensor.getStrategy(), S::FIND_PELKO_ZDS_RECORD);
}

TEST(BriselEdgeServiceSensorTest, StrategiesAndAppendedRecords) {
    ScriptedSrv srv;
    srv.setTargets("_brisel-edge._tls.ext.test.", {{"e1.ext.test", 443}, {"e2.ext.test", 8443}});
    struct Case {
        int strategy;
        bool expected;
        size_t records;
        size_t queries;
    };
    for (const Case c :
         {Case{0, true, 0, 0}, Case{1, false, 0, 0}, Case{2, true, 2, 1}, Case{7, true, 0, 0}}) {
        srv.clearAsked();
        BriselEdgeServiceSensor sensor(static_cast<BriselEdgeServiceSensorStrategy::Strategy>(c.strategy),
                                       "ext.test");
        sensor.setSrvQueryFunction(srv.function());
        std::vector<EdgeServiceRecordData> out{{"existing", 1}};
        EXPECT_EQ(sensor.evaluate(std::back_inserter(out)), c.expected) << c.strategy;
        EXPECT_EQ(out.size(), 1 + c.records) << c.strategy;
        EXPECT_EQ(out.front(), EdgeServiceRecordData("existing", 1));
        EXPECT_EQ(srv.asked().size(), c.queries) << c.strategy;
    }
}

TEST(InternalNetworkVisibilityTesterTest, AddsFoundEndpointsAndReplacesMissingSensor) {
    oxl::test::LogCapture log;
    InternalNetworkVisibilityTester tester("corp.test", {TcpEndpoint("given.corp.test", 5061)}, nullptr);
    EXPECT_TRUE(
        log.contains("EnterpriseNetworkSensor is NULL! Create a new one with strategy: "
                     "FIND_ANY_INTERNAL_RECORD_WITH_LATCHING."));

    ScriptedSrv srv;
    srv.setTargets("_pelko-zds._tcp.corp.test.", {{"found.corp.test", 443}});
    auto sensor = std::make_shared<EnterpriseNetworkSensor>(S::FIND_PELKO_ZDS_RECORD, "corp.test");
    sensor->setSrvQueryFunction(srv.function());
    InternalNetworkVisibilityTester withSensor("corp.test", {TcpEndpoint("given.corp.test", 5061)}, sensor);
    EXPECT_TRUE(withSensor.getInternalServiceRecord().serviceName.empty());
    ASSERT_TRUE(withSensor.test());
    const auto record = withSensor.getInternalServiceRecord();
    EXPECT_EQ(record.serviceName, "_pelko-zds");
    EXPECT_EQ(record.endpoints,
              (std::vector<TcpEndpoint>{{"given.corp.test", 5061}, {"found.corp.test", 443}}));
}

TEST(EdgeValueTypesTest, Printing) {
    std::ostringstream os;
    os << NetworkSensingEvent(true, false, true, false, "IpInterfaceChanged");
    EXPECT_EQ(
        os.str(),
        "Event 'IpInterfaceChanged' Internal network status changed to 'visible' Edge status is still 'not "
        "visible'");
    os.str("");
    os << EdgeServiceRecordData("edge.ext.test", 443) << "|" << TcpEndpoint("::1", 80) << "|"
       << TcpEndpoint("a.test", 0) << "|";
    EXPECT_EQ(os.str(), "Host: edge.ext.test Port: 443|[::1]:80||");
    os.str("");
    DetectionParameters p;
    p.domainName = "corp.test";
    p.externalDomainName = "ext.test";
    p.serverEndpoints = {{"a.test", 1}, {"b.test", 2}};
    os << p;
    EXPECT_EQ(
        os.str(),
        "DomainName: corp.test\nExternal DomainName: ext.test\nPolling State quiet period (sec): "
        "60\nConfirming State required test "
        "count: 3\nConfirming State delay between tests (msec): 1000\nMonitoring State quiet period (sec): "
        "10\nServer endpoints: { a.test:1, b.test:2, }\n");
}

}  // namespace
}  // namespace oxl::edge

#include <gtest/gtest.h>

#include "EdgeTestSupport.h"
#include "oxl/common/DefaultPoliciesStore.h"
#include "oxl/common/SequenceNumber.h"
#include "oxl/diag/Diagnostics.h"
#include "oxl/edge/EdgeCapabilityPolicy.h"
#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "support/LogCapture.h"

namespace oxl::edge {
namespace {

using test::RecordingSensingObserver;
using test::RecordingVisibilityObserver;
using test::ScriptedSrv;
using test::waitFor;

const char* const PELKO = "_pelko-zds._tcp.corp.test.";
const char* const EDGE = "_brisel-edge._tls.ext.test.";

using test::CapturingTransitionController;

class EdgeDetectionControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oxl::common::DefaultPoliciesStore::reset();
        controller = EdgeDetectionControllerImpl::build("corp.test", "ext.test");
        internalSensor = std::make_shared<EnterpriseNetworkSensor>(
            EnterpriseNetworkSensorStrategy::FIND_ANY_INTERNAL_RECORD_WITH_LATCHING, "corp.test");
        internalSensor->setSrvQueryFunction(srv.function());
        edgeSensor = std::make_shared<BriselEdgeServiceSensor>(
            BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD, "ext.test");
        edgeSensor->setSrvQueryFunction(srv.function());
        controller->setInternalNetworkSensor(internalSensor);
        controller->setEdgeServiceSensorExternal(edgeSensor);
        visibility = std::make_shared<RecordingVisibilityObserver>();
        sensing = std::make_shared<RecordingSensingObserver>();
        controller->registerVisibilityChangeObserver(visibility);
        controller->registerNetworkSensingObserver(sensing);
    }
    void TearDown() override { oxl::common::DefaultPoliciesStore::reset(); }

    void publishInside() { srv.setTargets(PELKO, {{"pool.corp.test", 5061}}); }
    void publishEdge(const std::vector<std::pair<std::string, uint32_t>>& targets) {
        srv.setTargets(EDGE, targets);
    }
    NetworkSensingEvent waitForSensingEvent(size_t index) {
        EXPECT_TRUE(waitFor([&] { return sensing->size() > index; })) << "sensing event " << index;
        const auto events = sensing->events();
        return events.size() > index ? events[index] : NetworkSensingEvent();
    }

    ScriptedSrv srv;
    std::shared_ptr<EdgeDetectionControllerImpl> controller;
    std::shared_ptr<EnterpriseNetworkSensor> internalSensor;
    std::shared_ptr<BriselEdgeServiceSensor> edgeSensor;
    std::shared_ptr<RecordingVisibilityObserver> visibility;
    std::shared_ptr<RecordingSensingObserver> sensing;
};

TEST_F(EdgeDetectionControllerTest, FirstQueryGathersVisibilityOnceAndNotifies) {
    publishInside();
    publishEdge({{"e1.ext.test", 443}});
    EXPECT_TRUE(srv.asked().empty()) << "nothing is queried before the first question";
    auto diag = std::make_shared<OXLDiagnostics::MemoryDiagnosticsSink>();
    OXLDiagnostics::DiagnosticsWrapper::setSink(diag);

    EXPECT_TRUE(controller->isOnPremServerAvailable());
    EXPECT_TRUE(controller->isEdgeAvailable());
    EXPECT_EQ(srv.countAsked(PELKO), 1u);
    EXPECT_EQ(srv.countAsked(EDGE), 1u);
    EXPECT_EQ(controller->getEdgeServiceRecordData(),
              (std::vector<EdgeServiceRecordData>{{"e1.ext.test", 443}}));
    const auto internal = controller->getInternalServiceRecords(false);
    ASSERT_EQ(internal.size(), 1u);
    EXPECT_EQ(internal[0].serviceName, "_pelko-zds");
    EXPECT_EQ(srv.countAsked(PELKO), 1u) << "answers are kept";

    EXPECT_EQ(waitForSensingEvent(0), NetworkSensingEvent(true, true, true, true, "GatherInitialVisibility"));
    EXPECT_TRUE(waitFor([&] { return visibility->count() == 1; }));

    bool sawInternal = false;
    bool sawEdge = false;
    for (const auto& r : diag->records()) {
        sawInternal |= r.section == 0 && r.name == "Internal Visibility" && r.value == "Visible";
        sawEdge |= r.section == 0 && r.name == "Edge Visibility" && r.value == "Visible";
    }
    EXPECT_TRUE(sawInternal);
    EXPECT_TRUE(sawEdge);
    OXLDiagnostics::DiagnosticsWrapper::setSink(nullptr);

    // A forced re-evaluation queries the internal records again but not the edge.
    controller->getInternalServiceRecords(true);
    EXPECT_EQ(srv.countAsked(PELKO), 2u);
    EXPECT_EQ(srv.countAsked(EDGE), 1u);
}

TEST_F(EdgeDetectionControllerTest, EdgeAnswerWithoutRecordsTurnsEdgeOff) {
    ScriptedSrv::Answer empty;  // SUCCESS without records
    srv.set(EDGE, empty);
    oxl::test::LogCapture log;
    EXPECT_FALSE(controller->isEdgeAvailable());
    EXPECT_TRUE(
        log.contains("Unexpected Condition: Edge Server information is not available, setting Edge "
                     "connectivity to be unavailable"));
    EXPECT_TRUE(controller->getEdgeServiceRecordData().empty());
}

TEST_F(EdgeDetectionControllerTest, EdgeRecordsMergeInStoredOrderAndStaleEventsOnlyReachSensing) {
    publishEdge({{"e1.ext.test", 443}, {"e2.ext.test", 443}});
    ASSERT_TRUE(controller->isEdgeAvailable());
    waitForSensingEvent(0);
    // Visibility notices are delivered on their own worker; let the first gather's one arrive.
    ASSERT_TRUE(waitFor([&] { return visibility->count() == 1; }));
    const int visibilityBefore = visibility->count();

    oxl::test::LogCapture log;
    // New list: e3 first, e1 dropped: kept records keep their order, new ones follow.
    controller->onEdgeConnectivityAvailable(oxl::common::SequenceNumber::getSequenceNumber(),
                                            {{"e3.ext.test", 443}, {"e2.ext.test", 443}},
                                            "IpInterfaceChanged");
    EXPECT_EQ(controller->getEdgeServiceRecordData(),
              (std::vector<EdgeServiceRecordData>{{"e2.ext.test", 443}, {"e3.ext.test", 443}}));
    EXPECT_EQ(waitForSensingEvent(1), NetworkSensingEvent(false, false, false, true, "IpInterfaceChanged"));
    EXPECT_TRUE(waitFor([&] { return visibility->count() == visibilityBefore + 1; })) << "records updated";

    // The same records in another order: nothing updated, no visibility notice.
    controller->onEdgeConnectivityAvailable(oxl::common::SequenceNumber::getSequenceNumber(),
                                            {{"e3.ext.test", 443}, {"e2.ext.test", 443}}, "TimerExpiry");
    EXPECT_EQ(controller->getEdgeServiceRecordData(),
              (std::vector<EdgeServiceRecordData>{{"e2.ext.test", 443}, {"e3.ext.test", 443}}));
    EXPECT_TRUE(
        log.contains("Edge Connectivity Changed: 0 Srv Records Updated: 0 Srv Records: "
                     "[Host: e2.ext.test Port: 443], [Host: e3.ext.test Port: 443]"));

    // An old sequence number changes nothing but is still reported to sensing observers.
    controller->onEdgeConnectivityUnavailable(1, "Stale");
    EXPECT_TRUE(controller->isEdgeAvailable());
    EXPECT_TRUE(log.contains("Events arrived out of sequence (current: 1 last processed event: "));
    EXPECT_EQ(waitForSensingEvent(3), NetworkSensingEvent(false, false, false, true, "Stale"));
    EXPECT_EQ(visibility->count(), visibilityBefore + 1);
}

TEST_F(EdgeDetectionControllerTest, CallbackTable) {
    struct Row {
        std::string name;
        std::function<void(EdgeDetectionControllerImpl&, uint32_t)> call;
        bool notifiesVisibility;
        bool internalChanged;
        bool edgeChanged;
        bool internalAfter;
        bool edgeAfter;
        size_t internalRecordsAfter;
    };
    const ServiceRecord found("_dwrlogin", {TcpEndpoint("d.corp.test", 443)});
    const std::vector<EdgeServiceRecordData> edge = {{"e1.ext.test", 443}};
    // Starting point of every row: internal visible with one record, edge visible with e1.
    const std::vector<Row> rows = {
        {"InternalAvailable", [&](auto& c, uint32_t s) { c.onInternalConnectivityAvailable(s, found, "n"); },
         false, false, false, true, true, 1},
        {"InternalUnavailable", [](auto& c, uint32_t s) { c.onInternalConnectivityUnavailable(s, "n"); },
         true, true, false, false, true, 0},
        {"EdgeAvailable", [&](auto& c, uint32_t s) { c.onEdgeConnectivityAvailable(s, edge, "n"); }, false,
         false, false, true, true, 1},
        {"EdgeUnavailable", [](auto& c, uint32_t s) { c.onEdgeConnectivityUnavailable(s, "n"); }, true, false,
         true, true, false, 1},
        {"BothUnavailable", [](auto& c, uint32_t s) { c.onInternalAndEdgeConnectivityUnavailable(s, "n"); },
         true, true, true, false, false, 0},
        {"InternalUnavailableEdgeAvailable",
         [&](auto& c, uint32_t s) {
             c.onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(s, edge, "n");
         },
         true, true, false, false, true, 0},
        {"Confirming", [](auto& c, uint32_t s) { c.onConfirmingDirectConnectivity(s, "n"); }, false, false,
         false, true, true, 1},
    };
    publishInside();
    publishEdge({{"e1.ext.test", 443}});
    for (const auto& row : rows) {
        SetUp();
        ASSERT_TRUE(controller->isOnPremServerAvailable());
        waitForSensingEvent(0);
        ASSERT_TRUE(waitFor([&] { return visibility->count() == 1; }));

        row.call(*controller, oxl::common::SequenceNumber::getSequenceNumber());
        const auto event = waitForSensingEvent(1);
        EXPECT_EQ(event, NetworkSensingEvent(row.internalChanged, row.edgeChanged, row.internalAfter,
                                             row.edgeAfter, "n"))
            << row.name;
        EXPECT_EQ(controller->isOnPremServerAvailable(), row.internalAfter) << row.name;
        EXPECT_EQ(controller->isEdgeAvailable(), row.edgeAfter) << row.name;
        EXPECT_EQ(controller->getInternalServiceRecords(false).size(), row.internalRecordsAfter) << row.name;
        if (row.notifiesVisibility) {
            EXPECT_TRUE(waitFor([&] { return visibility->count() == 2; })) << row.name;
        } else {
            // The sensing event was posted after any visibility notice would have been.
            EXPECT_TRUE(waitFor([&] { return sensing->size() == 2; }));
            EXPECT_EQ(visibility->count(), 1) << row.name;
        }
    }
}

TEST_F(EdgeDetectionControllerTest, CapabilityPolicyTurnsEdgeOffAndBack) {
    publishEdge({{"e1.ext.test", 443}});
    ASSERT_TRUE(controller->isEdgeAvailable());
    waitForSensingEvent(0);

    oxl::common::DefaultPoliciesStore::setPolicy(EdgeCapabilityPolicy::EDGE_DISABLED_POLICY);
    EXPECT_FALSE(controller->isEdgeAvailable());
    EXPECT_EQ(waitForSensingEvent(1), NetworkSensingEvent(false, true, false, false, "EdgeCapabilityChange"));

    // While disabled, new records are stored but not reported as an update.
    oxl::test::LogCapture log;
    controller->onEdgeConnectivityAvailable(oxl::common::SequenceNumber::getSequenceNumber(),
                                            {{"e2.ext.test", 443}}, "n");
    EXPECT_TRUE(log.contains("not setting edgeSrvRecordsChanged when Edge is disabled"));
    EXPECT_EQ(waitForSensingEvent(2), NetworkSensingEvent(false, false, false, false, "n"));
    EXPECT_EQ(controller->getEdgeServiceRecordData(),
              (std::vector<EdgeServiceRecordData>{{"e2.ext.test", 443}}));

    oxl::common::DefaultPoliciesStore::setPolicy(EdgeCapabilityPolicy::EDGE_ENABLED_POLICY);
    EXPECT_TRUE(controller->isEdgeAvailable());
    EXPECT_EQ(waitForSensingEvent(3), NetworkSensingEvent(false, true, false, true, "EdgeCapabilityChange"));
}

TEST_F(EdgeDetectionControllerTest, StopForgetsEverythingAndIgnoresCallbacks) {
    publishInside();
    publishEdge({{"e1.ext.test", 443}});
    ASSERT_TRUE(controller->isEdgeAvailable());
    waitForSensingEvent(0);
    srv.clearAsked();

    controller->stop();
    EXPECT_FALSE(controller->isEdgeAvailable());
    EXPECT_TRUE(controller->isOnPremServerAvailable()) << "internal visibility keeps its value";
    EXPECT_TRUE(controller->getEdgeServiceRecordData().empty());
    EXPECT_TRUE(controller->getInternalServiceRecords(true).empty());
    EXPECT_TRUE(srv.asked().empty()) << "no lookups while stopped";
    EXPECT_TRUE(controller->getInternalDomain().empty());

    controller->onInternalConnectivityUnavailable(oxl::common::SequenceNumber::getSequenceNumber(), "n");
    EXPECT_TRUE(controller->isOnPremServerAvailable());
    // Give a wrongly posted notice time to arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sensing->size(), 1u);
}

TEST_F(EdgeDetectionControllerTest, UnchangedDomainsDoNothing) {
    publishInside();
    ASSERT_TRUE(controller->isOnPremServerAvailable());
    auto transition = std::make_shared<CapturingTransitionController>();
    controller->setEdgeTransitionDetectionController(transition);
    srv.clearAsked();
    oxl::test::LogCapture log;
    controller->setDomains("corp.test", "ext.test");
    EXPECT_TRUE(log.contains("No change in domain, returning"));
    EXPECT_FALSE(log.contains("Domains are changed"));
    EXPECT_EQ(transition->resets, 0);
    EXPECT_TRUE(srv.asked().empty());
    EXPECT_FALSE(controller->isStopped());
}

TEST_F(EdgeDetectionControllerTest, ProperTransitionEventAndHints) {
    oxl::test::LogCapture log;
    controller->enqueueProperEdgeTransitionEvent();
    EXPECT_TRUE(log.contains("EdgeTransitionDetectionController not initialised!. "));

    auto transition = std::make_shared<CapturingTransitionController>();
    controller->setEdgeTransitionDetectionController(transition);
    EXPECT_EQ(transition->observer.lock(), controller);

    // Outside: nothing internal published.
    controller->enqueueProperEdgeTransitionEvent();
    ASSERT_FALSE(transition->labels().empty());
    EXPECT_EQ(transition->labels().back(), "StartPollingFromOutside");
    {
        std::lock_guard<std::mutex> lock(transition->mutex);
        const auto& start = dynamic_cast<const StartPollingFromOutsideEvent&>(*transition->events.back());
        EXPECT_EQ(start.parameters.domainName, "corp.test");
        EXPECT_EQ(start.parameters.externalDomainName, "ext.test") << "the machines look for the edge there";
        EXPECT_EQ(start.parameters.internalNetworkSensor, internalSensor);
        EXPECT_EQ(start.parameters.confirmingRequiredTestCount, 3u);
    }

    // Inside after a direct-connectivity finding.
    controller->onInternalConnectivityAvailable(
        oxl::common::SequenceNumber::getSequenceNumber(),
        ServiceRecord("_pelko-zds", {TcpEndpoint("p.corp.test", 5061)}), "TimerExpiry");
    EXPECT_EQ(transition->labels().back(), "StartMonitoringFromInside")
        << "a visibility change restarts detection";

    const size_t before = transition->labels().size();
    auto hints = controller->getNetworkSensingHints();
    ASSERT_TRUE(hints);
    hints->hintNetworkInterfaceMightHaveDropped("oxlnetutils.http.hostUnreachableError");
    hints->hintNetworkStackNotReady("x");
    hints->hintNetworkIsInUse("oxlnetutils.http.clientRequestSuccessful");
    hints->hintHostOsIpInterfaceChanged("os");
    const auto labels = transition->labels();
    ASSERT_EQ(labels.size(), before + 4);
    EXPECT_EQ(std::vector<std::string>(labels.begin() + static_cast<long>(before), labels.end()),
              (std::vector<std::string>{"HintNetworkInterfaceDropped", "HintNetworkStackNotReady",
                                        "NetworkActivity", "IpInterfaceChanged"}));

    controller->stop();
    hints->hintNetworkIsInUse("late");
    EXPECT_EQ(transition->labels().size(), before + 4) << "a stopped controller drops hints";
}

TEST(EdgeCapabilityPolicyTest, EnforceSetsVisibility) {
    struct Case {
        int value;
        oxl::common::Policy::PolicyEnforcingResult::EnforcingResult result;
        bool visibleAfter;
    };
    using R = oxl::common::Policy::PolicyEnforcingResult;
    for (const auto& c :
         {Case{0, R::SUCCESS, true}, Case{1, R::SUCCESS, false}, Case{5, R::ENFORCING_FAILURE, true}}) {
        EdgeCapabilityPolicy policy(static_cast<EdgeCapabilityPolicy::PolicyValue::Value>(c.value));
        bool visible = true;
        EXPECT_EQ(policy.enforce(visible), c.result) << c.value;
        EXPECT_EQ(visible, c.visibleAfter) << c.value;
    }
    EXPECT_TRUE(EdgeCapabilityPolicy::EDGE_DISABLED_POLICY->equals(
        EdgeCapabilityPolicy(EdgeCapabilityPolicy::PolicyValue::DISABLED)));
    EXPECT_FALSE(
        EdgeCapabilityPolicy::EDGE_DISABLED_POLICY->equals(*EdgeCapabilityPolicy::EDGE_ENABLED_POLICY));
}

class PolicyHolder : public oxl::common::PolicyDriven {
  public:
    PolicyHolder() : PolicyDriven(false) {}
};

TEST(PolicyDrivenEdgeVisibilityTest, ReportsRawValueThroughDriverPolicy) {
    auto driver = std::make_shared<PolicyHolder>();
    PolicyDrivenEdgeVisibility visible(true);
    PolicyDrivenEdgeVisibility hidden(false);
    EXPECT_TRUE(visible.isVisible()) << "no driver: raw value";
    visible.setPolicyDriver(driver);
    hidden.setPolicyDriver(driver);
    EXPECT_TRUE(visible.isVisible()) << "no policy: raw value";
    EXPECT_NE(visible, hidden);

    driver->addPolicy(EdgeCapabilityPolicy::EDGE_DISABLED_POLICY);
    EXPECT_FALSE(visible.isVisible());
    EXPECT_TRUE(visible.getRawValue());
    EXPECT_EQ(visible, hidden) << "both report not visible";

    driver->addPolicy(EdgeCapabilityPolicy::EDGE_ENABLED_POLICY);
    EXPECT_TRUE(visible.isVisible());
    driver->removePolicy(oxl::common::Policy::PolicyNature::EDGE_CAPABILITY);
    EXPECT_TRUE(visible.isVisible());

    driver->addPolicy(EdgeCapabilityPolicy::EDGE_DISABLED_POLICY);
    driver.reset();
    EXPECT_TRUE(visible.isVisible()) << "a driver that has gone leaves the raw value";
}

}  // namespace
}  // namespace oxl::edge

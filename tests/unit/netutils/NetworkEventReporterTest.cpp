// The network event reporter: what each reported event turns into on the edge side, in which order, on
// which thread, and what happens before the edge state exists, while disabled and after stop().
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/NetworkEventReporterImpl.h"
#include "oxl/netutils/adapters/HttpEventReporterAdapter.h"
#include "support/LogCapture.h"
#include "unit/edgestate/EdgeStateTestSupport.h"

namespace oxl::netutils {
namespace {

using oxl::edge::EdgeInfrastructureEvent;

constexpr long WAIT_MS = 10000;

// Every hint the edge detection receives, with the thread it arrived on.
class RecordingHints : public oxl::edge::NetworkSensingHints {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override { add("dropped " + label); }
    void hintNetworkStackNotReady(const std::string& label) override { add("notReady " + label); }
    void hintNetworkIsInUse(const std::string& label) override { add("inUse " + label); }
    void hintHostOsIpInterfaceChanged(const std::string& label) override { add("changed " + label); }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(hints_, {});
    }
    std::set<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

  private:
    void add(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        hints_.push_back(text);
        threads_.insert(std::this_thread::get_id());
    }
    std::mutex mutex_;
    std::vector<std::string> hints_;
    std::set<std::thread::id> threads_;
};

class HintingDetection : public oxl::edge::test::FakeDetection {
  public:
    std::shared_ptr<RecordingHints> hints = std::make_shared<RecordingHints>();
    std::shared_ptr<oxl::edge::NetworkSensingHints> getNetworkSensingHints() override { return hints; }
};

class StateWithDetection : public oxl::edge::test::RecordingEdgeState {
  public:
    std::shared_ptr<HintingDetection> detection = std::make_shared<HintingDetection>();
    std::shared_ptr<oxl::edge::EdgeDetectionController> getEdgeDetectionController() override {
        return detection;
    }
};

// Writes each infrastructure event it is given as "label server" (and "cluster"/"one" where it applies).
class RecordingInfrastructure : public oxl::edge::EdgeInfrastructureEventController {
  public:
    void enqueue(std::unique_ptr<EdgeInfrastructureEvent> event) override {
        std::string text = event->getLabel() + " " + event->getServer();
        if (auto* failed = dynamic_cast<oxl::edge::EdgeConnectionFailedEvent*>(event.get())) {
            text += failed->isClusterFailed() ? " cluster" : " one";
        }
        if (auto* unresolved = dynamic_cast<oxl::edge::EdgeUnresolvedHostEvent*>(event.get())) {
            text += unresolved->isClusterFailed() ? " cluster" : " one";
        }
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(text);
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(events_, {});
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeOauthExpiredEvent(const std::string& s) override {
        return std::make_unique<oxl::edge::EdgeOauthExpiredEvent>(s);
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeAuthenticationRequiredEvent(
        const std::string& s) override {
        return std::make_unique<oxl::edge::EdgeAuthenticationRequiredEvent>(s);
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeConnectionFailedEvent(const std::string& s,
                                                                             bool cluster) override {
        return std::make_unique<oxl::edge::EdgeConnectionFailedEvent>(s, cluster);
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeUnresolvedHostEvent(const std::string& s,
                                                                           bool cluster) override {
        return std::make_unique<oxl::edge::EdgeUnresolvedHostEvent>(s, cluster);
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeNextHopFailedEvent(const std::string& s) override {
        return std::make_unique<oxl::edge::EdgeNextHopFailedEvent>(s);
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeInternalServerErrorEvent(
        const std::string& s) override {
        return std::make_unique<oxl::edge::EdgeInternalServerErrorEvent>(s);
    }
    std::unique_ptr<EdgeInfrastructureEvent> createEdgeServiceUnavailableEvent(
        const std::string& s) override {
        return std::make_unique<oxl::edge::EdgeServiceUnavailableEvent>(s);
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

class NetworkEventReporterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NetworkEventReporterImpl::enableNetworkEventReporterForTesting();
        oxl::edge::EdgeInfrastructureEventController::setInstance(infrastructure);
    }
    void TearDown() override {
        NetworkEventReporterImpl::enableNetworkEventReporterForTesting();
        oxl::edge::EdgeInfrastructureEventController::setInstance(nullptr);
        GlobalEdgeStateController::resetForTesting();
    }
    void publishState() { GlobalEdgeStateController::setInstanceForTesting(state); }
    bool idle() { return NetworkEventReporterImpl::waitUntilIdleForTesting(WAIT_MS); }

    std::shared_ptr<StateWithDetection> state = std::make_shared<StateWithDetection>();
    std::shared_ptr<RecordingInfrastructure> infrastructure = std::make_shared<RecordingInfrastructure>();
    std::shared_ptr<NetworkEventReporter> reporter = std::make_shared<NetworkEventReporterImpl>();
};

// Through the HTTP client's adapter, as a transfer reports: each label reaches its own hint or becomes its
// infrastructure event; a transfer that failed on every edge server fails the whole cluster, one that
// failed over and succeeded fails one server.
TEST_F(NetworkEventReporterTest, EachEventReachesItsTargetThroughTheHttpAdapter) {
    publishState();
    adapters::HttpEventReporterAdapter http(reporter);
    struct Case {
        std::function<void()> report;
        std::string hint;   // expected at the edge detection, empty for none
        std::string event;  // expected at the infrastructure controller, empty for none
    };
    const std::string e = "edge1.ext.test";
    const std::vector<Case> cases = {
        {[&] { http.hintNetworkInterfaceMightHaveDropped("a"); }, "dropped a", ""},
        {[&] { http.hintNetworkStackNotReady("b"); }, "notReady b", ""},
        {[&] { http.hintNetworkIsInUse("c"); }, "inUse c", ""},
        {[&] { reporter->hintHostOsIpInterfaceChanged("d"); }, "changed d", ""},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.oauthExpired", e); }, "",
         "EdgeOauthExpired " + e},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.authenticationRequired", e); }, "",
         "EdgeAuthenticationRequired " + e},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.hostUnreachableError", e); }, "",
         "EdgeConnectionFailed " + e + " cluster"},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.connectionTimeout", e); }, "",
         "EdgeConnectionFailed " + e + " cluster"},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.certValidationError", e); }, "",
         "EdgeConnectionFailed " + e + " cluster"},
        {[&] { http.edgeInfrastructureEvent("edge.successful.failover.hostUnreachableError", e); }, "",
         "EdgeConnectionFailed " + e + " one"},
        {[&] { http.edgeInfrastructureEvent("edge.successful.failover.connectionTimeout", e); }, "",
         "EdgeConnectionFailed " + e + " one"},
        {[&] { http.edgeInfrastructureEvent("edge.successful.failover.certValidationError", e); }, "",
         "EdgeConnectionFailed " + e + " one"},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.unresolvedHostError", e); }, "",
         "EdgeUnresolvedHost " + e + " cluster"},
        {[&] { http.edgeInfrastructureEvent("edge.successful.failover.unresolvedHostError", e); }, "",
         "EdgeUnresolvedHost " + e + " one"},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.internalServerError", e); }, "",
         "EdgeInternalServerErrorEvent " + e},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.serviceUnavailable", e); }, "",
         "EdgeServiceUnavailableEvent " + e},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.nextHopFailed", e); }, "",
         "EdgeNextHopFailed " + e},
        // Near misses name nothing.
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.edge.serviceUnavailableX", e); }, "", ""},
        {[&] { http.edgeInfrastructureEvent("edge.successful.failover.oauthExpired", e); }, "", ""},
        {[&] { http.edgeInfrastructureEvent("oxlnetutils.http.hostUnreachableError", e); }, "", ""},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        cases[i].report();
        ASSERT_TRUE(idle());
        const auto hints = state->detection->hints->take();
        const auto events = infrastructure->take();
        EXPECT_EQ(hints, cases[i].hint.empty() ? std::vector<std::string>{} : std::vector{cases[i].hint});
        EXPECT_EQ(events, cases[i].event.empty() ? std::vector<std::string>{} : std::vector{cases[i].event});
    }
}

// Reports from many threads and many reporter objects are handled one at a time on the one
// reporter thread, each thread's reports in the order it made them.
TEST_F(NetworkEventReporterTest, EventsKeepTheirOrderUnderLoadOnOneNamedThread) {
    publishState();
    constexpr int THREADS = 8;
    constexpr int PER_THREAD = 300;
    std::vector<std::thread> producers;
    for (int t = 0; t < THREADS; ++t) {
        producers.emplace_back([t] {
            NetworkEventReporterImpl own;  // objects hold nothing: all share the queue
            for (int i = 0; i < PER_THREAD; ++i) {
                if (i % 2 == 0) {
                    own.hintNetworkIsInUse(std::to_string(t) + ":" + std::to_string(i));
                } else {
                    own.edgeInfrastructureEvent("oxlnetutils.edge.nextHopFailed",
                                                std::to_string(t) + ":" + std::to_string(i));
                }
            }
        });
    }
    for (auto& p : producers) {
        p.join();
    }
    ASSERT_TRUE(idle());
    const auto hints = state->detection->hints->take();
    const auto events = infrastructure->take();
    ASSERT_EQ(hints.size() + events.size(), static_cast<std::size_t>(THREADS * PER_THREAD));
    std::map<int, int> last;
    for (const auto& h : hints) {
        const auto colon = h.find(':');
        const int t = std::stoi(h.substr(6, colon - 6));
        const int i = std::stoi(h.substr(colon + 1));
        EXPECT_GT(i, last.count(t) ? last[t] : -1) << h;
        last[t] = i;
    }
    last.clear();
    for (const auto& ev : events) {
        const auto space = ev.find(' ');
        const auto colon = ev.find(':');
        const int t = std::stoi(ev.substr(space + 1, colon - space - 1));
        const int i = std::stoi(ev.substr(colon + 1));
        EXPECT_GT(i, last.count(t) ? last[t] : -1) << ev;
        last[t] = i;
    }
    EXPECT_EQ(state->detection->hints->threads().size(), 1u);
}

// Nothing reaches the edge side before the state exists, while the reporter is disabled (the events wait
// unhandled), or after stop() (they are dropped; a later enable does not bring them back).
TEST_F(NetworkEventReporterTest, EventsAreDroppedBeforeInitialisationWhileDisabledAndAfterStop) {
    oxl::test::LogCapture log;
    reporter->hintNetworkInterfaceMightHaveDropped("early");
    reporter->edgeInfrastructureEvent("oxlnetutils.edge.nextHopFailed", "edge1");
    ASSERT_TRUE(idle());
    EXPECT_EQ(log.count("Event ignored. Edge not initialized."), 2u);
    publishState();
    EXPECT_TRUE(state->detection->hints->take().empty());
    EXPECT_TRUE(infrastructure->take().empty());

    NetworkEventReporterImpl::disableNetworkEventReporterForTesting();
    reporter->hintNetworkIsInUse("held");
    reporter->edgeInfrastructureEvent("oxlnetutils.edge.nextHopFailed", "edge1");
    EXPECT_FALSE(NetworkEventReporterImpl::waitUntilIdleForTesting(200));
    EXPECT_EQ(NetworkEventReporterImpl::queuedEventsForTesting(), 3u) << "two events and the idle marker";
    EXPECT_TRUE(state->detection->hints->take().empty());
    EXPECT_TRUE(infrastructure->take().empty());

    NetworkEventReporterImpl::enableNetworkEventReporterForTesting();
    reporter->hintNetworkIsInUse("after enable");
    ASSERT_TRUE(idle());
    EXPECT_EQ(state->detection->hints->take(), std::vector<std::string>{"inUse after enable"});

    NetworkEventReporterImpl::stop();
    reporter->hintNetworkIsInUse("after stop");
    reporter->edgeInfrastructureEvent("oxlnetutils.edge.nextHopFailed", "edge1");
    EXPECT_FALSE(NetworkEventReporterImpl::waitUntilIdleForTesting(200));
    NetworkEventReporterImpl::enableNetworkEventReporterForTesting();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(state->detection->hints->take().empty());
    EXPECT_TRUE(infrastructure->take().empty());
}

}  // namespace
}  // namespace oxl::netutils

// The address-change monitor in a network namespace of its own: the test thread moves into a new namespace
// (threads it starts, and the commands it runs, follow it) and changes addresses on its loopback interface.
#include <sched.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "edge/IpInterfaceChangeMonitor.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "support/LogCapture.h"
#include "support/ProcessThreads.h"
#include "support/WaitFor.h"
#include "unit/edge/EdgeTestSupport.h"

namespace oxl::edge {
namespace {

using Clock = std::chrono::steady_clock;

using oxl::test::waitFor;

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `body` on a thread inside a new network namespace; returns an empty string or why that failed.
std::string inNewNetworkNamespace(const std::function<void()>& body) {
    std::string failure;
    std::thread thread([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            failure = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
            return;
        }
        if (!run("ip link set lo up")) {
            failure = "cannot run 'ip link set lo up' in the new namespace";
            return;
        }
        body();
    });
    thread.join();
    return failure;
}

using CapturingController = test::CapturingTransitionController;

TEST(IpInterfaceChangeMonitorTest, SendsADelayedEventOnlyWhenTheAddressSetChanges) {
    CapturingController controller;
    const std::string failure = inNewNetworkNamespace([&] {
        oxl::test::LogCapture log;
        {
            IpInterfaceChangeMonitor monitor(&controller);
            ASSERT_TRUE(monitor.start());
            // The thread names itself once it runs.
            EXPECT_TRUE(waitFor([] { return oxl::test::countThreadsNamed("IpIfChangeMon") == 1; },
                                std::chrono::seconds(10)));

            ASSERT_TRUE(run("ip addr add 10.200.0.1/32 dev lo"));
            ASSERT_TRUE(waitFor([&] { return controller.size() == 1; }, std::chrono::seconds(10)));
            EXPECT_EQ(controller.descriptions()[0], "IpInterfaceChanged (delay 300 ms)");

            // Same addresses, new lifetimes: a notification, but no event.
            ASSERT_TRUE(run("ip -4 addr change 10.200.0.1/32 dev lo valid_lft 3600 preferred_lft 3600"));
            EXPECT_TRUE(
                waitFor([&] { return log.contains("Not updating to new network, Address has not changed."); },
                        std::chrono::seconds(10)));

            ASSERT_TRUE(run("ip addr add fd00::5/128 dev lo nodad"));
            ASSERT_TRUE(waitFor([&] { return controller.size() == 2; }, std::chrono::seconds(10)));
            ASSERT_TRUE(run("ip addr del 10.200.0.1/32 dev lo"));
            ASSERT_TRUE(waitFor([&] { return controller.size() == 3; }, std::chrono::seconds(10)));
        }
        EXPECT_EQ(oxl::test::countThreadsNamed("IpIfChangeMon"), 0u)
            << "the monitor thread ends with its owner";
        EXPECT_TRUE(log.contains("Monitor exited run loop."));
    });
    if (!failure.empty()) {
        GTEST_SKIP() << "no network namespace for this test: " << failure;
    }
    EXPECT_EQ(controller.size(), 3u);
}

// Writes `count` "addr add" lines for /32 addresses under 10.100.0.0/16 and 10.101.0.0/16 into a batch
// file for `ip -batch`; returns its path.
std::string addressBatch(int count, const std::string& name) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream out(path);
    for (int i = 0; i < count; ++i) {
        out << "addr add 10." << 100 + i / 65536 << "." << (i / 256) % 256 << "." << i % 256
            << "/32 dev lo\n";
    }
    return path;
}

// Thousands of changes while the monitor is busy overflow its notification socket; the monitor reads the
// overflow, rescans and goes on watching.
TEST(IpInterfaceChangeMonitorTest, KeepsWatchingAfterTheNotificationSocketOverflows) {
    CapturingController controller;
    const std::string batch = addressBatch(2000, "overflow.batch");
    const std::string failure = inNewNetworkNamespace([&] {
        oxl::test::LogCapture log(OXL_LEVEL_WARN);
        IpInterfaceChangeMonitor monitor(&controller, 0);
        ASSERT_TRUE(monitor.start());
        controller.hold();
        ASSERT_TRUE(run("ip addr add 10.200.0.6/32 dev lo"));
        ASSERT_TRUE(controller.waitUntilHeld());
        // Far more notifications than the socket's buffer holds arrive while the monitor cannot read.
        ASSERT_TRUE(run("ip -batch " + batch));
        controller.release();
        EXPECT_TRUE(waitFor([&] { return controller.size() >= 2; }, std::chrono::seconds(10)))
            << "the rescan after the overflow reports the new addresses";
        const size_t before = controller.size();
        ASSERT_TRUE(run("ip addr add 10.200.0.7/32 dev lo"));
        EXPECT_TRUE(waitFor([&] { return controller.size() > before; }, std::chrono::seconds(10)))
            << "a change after the overflow is still reported";
        EXPECT_TRUE(monitor.isRunning());
        for (const auto& record : log.records()) {
            EXPECT_GT(record.level, OXL_LEVEL_ERROR) << record.message;
        }
        EXPECT_TRUE(log.contains("Address-change notifications overflowed")) << "the overflow was seen";
        monitor.stop();
        EXPECT_FALSE(monitor.isRunning());
    });
    std::remove(batch.c_str());
    if (!failure.empty()) {
        GTEST_SKIP() << "no network namespace for this test: " << failure;
    }
}

// The thread can end without stop(): poll() fails once the process may not hold two descriptors. Then
// isRunning() says so, and start() brings the monitor back.
TEST(IpInterfaceChangeMonitorTest, ReportsNotRunningWhenItsThreadEndsOnAnError) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime needs descriptors of its own for its checks; with the limit at one it reports
    // valid objects as invalid.
    GTEST_SKIP() << "the descriptor limit this test sets breaks the sanitizer runtime";
#endif
    CapturingController controller;
    const std::string failure = inNewNetworkNamespace([&] {
        oxl::test::LogCapture log(OXL_LEVEL_WARN);
        IpInterfaceChangeMonitor monitor(&controller, 0);
        ASSERT_TRUE(monitor.start());
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        // The change is made by a child forked before the limit drops, so the child keeps the usual one.
        ASSERT_TRUE(run("(sleep 0.3; ip addr add 10.200.0.8/32 dev lo) &"));
        rlimit tight = limit;
        tight.rlim_cur = 1;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const bool ended =
            waitFor([&] { return log.contains("returned unexpected value"); }, std::chrono::seconds(10));
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
        ASSERT_TRUE(ended) << "the monitor's wait should have failed";
        EXPECT_TRUE(waitFor([&] { return !monitor.isRunning(); }, std::chrono::seconds(10)));

        ASSERT_TRUE(monitor.start());
        EXPECT_TRUE(monitor.isRunning());
        const size_t before = controller.size();
        ASSERT_TRUE(run("ip addr add 10.200.0.9/32 dev lo"));
        EXPECT_TRUE(waitFor([&] { return controller.size() > before; }, std::chrono::seconds(10)));
    });
    if (!failure.empty()) {
        GTEST_SKIP() << "no network namespace for this test: " << failure;
    }
}

class CountingInternalTester : public InternalNetworkVisibilityTester {
  public:
    CountingInternalTester()
        : InternalNetworkVisibilityTester(
              "corp.test", {},
              std::make_shared<EnterpriseNetworkSensor>(EnterpriseNetworkSensorStrategy::ASSUME_NOT_VISIBLE,
                                                        "corp.test")) {}
    bool test() override {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(Clock::now());
        return false;
    }
    std::vector<Clock::time_point> times() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> times_;
};

class FixedEdgeSensor : public BriselEdgeServiceSensor {
  public:
    FixedEdgeSensor()
        : BriselEdgeServiceSensor(BriselEdgeServiceSensorStrategy::FIND_BRISEL_EDGE_RECORD, "corp.test") {}
    bool evaluate(Output out) const override {
        *out++ = EdgeServiceRecordData("edge.corp.test", 443);
        return true;
    }
};

class Operations : public InternalConnectivityObserver {
  public:
    void onInternalConnectivityAvailable(uint32_t, const ServiceRecord&, const std::string&) override {
        add("InternalAvailable");
    }
    void onInternalConnectivityUnavailable(uint32_t, const std::string&) override {
        add("InternalUnavailable");
    }
    void onEdgeConnectivityAvailable(uint32_t, const std::vector<EdgeServiceRecordData>&,
                                     const std::string& name) override {
        add("EdgeAvailable/" + name);
    }
    void onEdgeConnectivityUnavailable(uint32_t, const std::string&) override { add("EdgeUnavailable"); }
    void onInternalAndEdgeConnectivityUnavailable(uint32_t, const std::string&) override {
        add("BothUnavailable");
    }
    void onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(
        uint32_t, const std::vector<EdgeServiceRecordData>&, const std::string& name) override {
        add("InternalUnavailableEdgeAvailable/" + name);
    }
    void onConfirmingDirectConnectivity(uint32_t, const std::string&) override { add("Confirming"); }
    std::vector<std::string> list() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ops_;
    }

  private:
    void add(std::string op) {
        std::lock_guard<std::mutex> lock(mutex_);
        ops_.push_back(std::move(op));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> ops_;
};

TEST(IpInterfaceChangeMonitorTest, AddressChangeReachesOutsideThenInsideMachineAfterTheDelay) {
    auto internal = std::make_shared<CountingInternalTester>();
    auto operations = std::make_shared<Operations>();
    Clock::time_point changed;
    const std::string failure = inNewNetworkNamespace([&] {
        auto controller = EdgeTransitionDetectionControllerImpl::build();
        controller->setMockInternalNetworkVisibilityTester(internal);
        controller->setMockEdgeServiceSensor(std::make_shared<FixedEdgeSensor>());
        controller->registerInternalConnectivityObserver(operations);
        controller->start();
        DetectionParameters parameters;
        controller->enqueueEvent(
            EdgeTransitionDetectionController::createStartPollingFromOutsideEvent(parameters));
        controller->enqueueEvent(
            EdgeTransitionDetectionController::createStartMonitoringFromInsideEvent(parameters));
        ASSERT_TRUE(
            waitFor([&] { return controller->getDetectDirectConnectUnavailableFsmState() == "Monitoring"; },
                    std::chrono::seconds(10)));
        changed = Clock::now();
        ASSERT_TRUE(run("ip addr add 10.200.0.2/32 dev lo"));
        ASSERT_TRUE(waitFor([&] { return internal->times().size() == 2; }, std::chrono::seconds(10)));
        controller->stop();
    });
    if (!failure.empty()) {
        GTEST_SKIP() << "no network namespace for this test: " << failure;
    }
    const auto times = internal->times();
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[0] - changed, std::chrono::milliseconds(300));
    EXPECT_EQ(operations->list(),
              (std::vector<std::string>{"EdgeAvailable/StartPolling", "EdgeAvailable/IpInterfaceChanged",
                                        "InternalUnavailableEdgeAvailable/IpInterfaceChanged"}));
}

// 3,000 addresses added at once: the monitor sees many notifications, but the machines get one change
// event per event delay at most, not one per notification.
TEST(IpInterfaceChangeMonitorTest, ABurstOfChangesCoalescesIntoFewTransitionEvents) {
    auto internal = std::make_shared<CountingInternalTester>();
    const std::string batch = addressBatch(3000, "burst.batch");
    size_t events = 0;
    std::chrono::milliseconds burst{0};
    const std::string failure = inNewNetworkNamespace([&] {
        oxl::test::LogCapture log(OXL_LEVEL_INFO);
        const auto processedChanges = [&] { return log.count("processing Event IpInterfaceChanged"); };
        auto controller = EdgeTransitionDetectionControllerImpl::build();
        controller->setMockInternalNetworkVisibilityTester(internal);
        controller->setMockEdgeServiceSensor(std::make_shared<FixedEdgeSensor>());
        controller->start();
        controller->enqueueEvent(
            EdgeTransitionDetectionController::createStartPollingFromOutsideEvent(DetectionParameters()));
        ASSERT_TRUE(
            waitFor([&] { return controller->getDetectDirectConnectAvailableFsmState() == "Polling"; },
                    std::chrono::seconds(10)));

        const auto start = Clock::now();
        ASSERT_TRUE(run("ip -batch " + batch));
        burst = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        ASSERT_TRUE(waitFor([&] { return processedChanges() >= 1; }, std::chrono::seconds(10)));
        // Settled: no further change event for well over one event delay.
        events = processedChanges();
        for (int quiet = 0; quiet < 15;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const size_t now = processedChanges();
            quiet = now == events ? quiet + 1 : 0;
            events = now;
        }
        controller->stop();
    });
    std::remove(batch.c_str());
    if (!failure.empty()) {
        GTEST_SKIP() << "no network namespace for this test: " << failure;
    }
    // Each event holds the machines for its 300 ms delay, and changes during it ride along: one event per
    // delay while the burst lasts, plus the first, the last, and one for the monitor lagging behind.
    const size_t bound = 3 + static_cast<size_t>(burst.count() / IpInterfaceChangeMonitor::EVENT_DELAY_MS);
    EXPECT_GE(events, 1u);
    EXPECT_LE(events, bound) << "burst of " << burst.count() << " ms";
}

}  // namespace
}  // namespace oxl::edge

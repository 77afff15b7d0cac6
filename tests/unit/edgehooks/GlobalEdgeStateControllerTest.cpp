// Publication of the global edge state and the accessor's wait for it.
#include "oxl/netutils/GlobalEdgeStateController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "EdgeHooksTestSupport.h"
#include "support/LogCapture.h"

namespace oxl::netutils {
namespace {

using Clock = std::chrono::steady_clock;

TEST(GlobalEdgeStateControllerTest, AccessorWaitsOneSecondThenThrows) {
    GlobalEdgeStateController::resetForTesting();
    oxl::test::LogCapture log;
    ASSERT_FALSE(GlobalEdgeStateController::isInitialized());

    const auto start = Clock::now();
    try {
        GlobalEdgeStateController::getGlobalEdgeState();
        FAIL() << "no exception without a published state";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(),
                     "Unable to access GlobalEdgeState instance. GlobalEdgeStateController not initialized. "
                     "Call init method before");
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(950));
    EXPECT_EQ(log.count("GlobalEdgeStateController not initialized", "oxl.netutils"), 1U);
}

TEST(GlobalEdgeStateControllerTest, WaitingReadersGetAStatePublishedMeanwhile) {
    GlobalEdgeStateController::resetForTesting();
    auto state = std::make_shared<oxl::test::RecordingEdgeState>();

    // Two readers: a manual-reset wake-up must release both, not only one.
    auto reader = [] { return GlobalEdgeStateController::getGlobalEdgeState(); };
    auto first = std::async(std::launch::async, reader);
    auto second = std::async(std::launch::async, reader);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto published = Clock::now();
    GlobalEdgeStateController::setInstanceForTesting(state);

    EXPECT_EQ(first.get(), state);
    EXPECT_EQ(second.get(), state);
    // Woken by the publication rather than by the end of the wait.
    EXPECT_LT(Clock::now() - published, std::chrono::milliseconds(900));
    GlobalEdgeStateController::resetForTesting();
}

TEST(GlobalEdgeStateControllerTest, PublishResetAndNull) {
    GlobalEdgeStateController::resetForTesting();
    oxl::test::LogCapture log;
    auto state = std::make_shared<oxl::test::RecordingEdgeState>();
    auto other = std::make_shared<oxl::test::RecordingEdgeState>();

    GlobalEdgeStateController::setInstanceForTesting(state);
    EXPECT_TRUE(GlobalEdgeStateController::isInitialized());
    EXPECT_EQ(GlobalEdgeStateController::getGlobalEdgeState(), state);

    GlobalEdgeStateController::setInstanceForTesting(nullptr);  // ignored
    EXPECT_EQ(GlobalEdgeStateController::getGlobalEdgeState(), state);

    GlobalEdgeStateController::setInstanceForTesting(other);
    EXPECT_EQ(GlobalEdgeStateController::getGlobalEdgeState(), other);

    GlobalEdgeStateController::resetForTesting();
    EXPECT_TRUE(log.contains("Resetting GlobalEdgeStateController"));
    EXPECT_FALSE(GlobalEdgeStateController::isInitialized());
    // The controller no longer keeps the dropped state alive.
    EXPECT_EQ(other.use_count(), 1);
    EXPECT_THROW(GlobalEdgeStateController::getGlobalEdgeState(), std::logic_error);
}

TEST(GlobalEdgeStateTest, ResultEnumerationsPrintGapsAsUnexpected) {
    using G = oxl::edge::GlobalEdgeState::GetEdgeConfigurationResult;
    using T = oxl::edge::GlobalEdgeState::TerminateEdgeSessionResult;
    std::ostringstream os;
    os << G::TOO_MANY_REQUESTS << "," << static_cast<G::Result>(13) << "," << T::UNKNOWN_ERROR << ","
       << static_cast<T::Result>(3);
    EXPECT_EQ(os.str(), "TOO_MANY_REQUESTS,Unexpected value (13),UNKNOWN_ERROR,Unexpected value (3)");
}

}  // namespace
}  // namespace oxl::netutils

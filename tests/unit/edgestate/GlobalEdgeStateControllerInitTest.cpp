#include <gtest/gtest.h>

#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/EdgeInfrastructureEventControllerImpl.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "support/LogCapture.h"

namespace oxl::netutils {
namespace {

// Building the subsystem queries nothing (detection is lazy), so no DNS server is needed here.
TEST(GlobalEdgeStateControllerInitTest, InitBuildsAndPublishesTheSubsystemAndResetTearsItDown) {
    GlobalEdgeStateController::resetForTesting();
    oxl::test::LogCapture log;
    GlobalEdgeStateController::init("corp.test", "ext.test");
    ASSERT_TRUE(GlobalEdgeStateController::isInitialized());
    auto state = std::dynamic_pointer_cast<oxl::edge::GlobalEdgeStateImpl>(
        GlobalEdgeStateController::getGlobalEdgeState());
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->getEdgeDomain(), "corp.test");
    EXPECT_FALSE(state->isOnHold());
    auto detection = state->getEdgeDetectionController();
    ASSERT_NE(detection, nullptr);
    EXPECT_NE(detection->getEdgeTransitionDetectionController(), nullptr);
    auto infrastructure = std::dynamic_pointer_cast<oxl::edge::EdgeInfrastructureEventControllerImpl>(
        oxl::edge::EdgeInfrastructureEventController::getInstance());
    ASSERT_NE(infrastructure, nullptr);
    EXPECT_EQ(infrastructure->getName(), "Edge Infr Ctrl");
    const auto messages = log.messages();
    const auto at = [&](const std::string& text) {
        return std::find_if(messages.begin(), messages.end(),
                            [&](const std::string& m) { return m.find(text) != std::string::npos; }) -
               messages.begin();
    };
    EXPECT_LT(at("Initializing GlobalEdgeStateController. Domains: Internal-corp.test, External-ext.test"),
              at("GlobalEdgeStateController initialized."));
    EXPECT_LT(at("GlobalEdgeStateController initialized."), static_cast<long>(messages.size()));

    GlobalEdgeStateController::reset();
    EXPECT_FALSE(GlobalEdgeStateController::isInitialized());
    EXPECT_EQ(std::dynamic_pointer_cast<oxl::edge::EdgeInfrastructureEventControllerImpl>(
                  oxl::edge::EdgeInfrastructureEventController::getInstance()),
              nullptr);
    // The state is only held here now; its threads go with it.
    std::weak_ptr<oxl::edge::GlobalEdgeStateImpl> gone = state;
    infrastructure.reset();
    detection.reset();
    state.reset();
    EXPECT_TRUE(gone.expired());
}

}  // namespace
}  // namespace oxl::netutils

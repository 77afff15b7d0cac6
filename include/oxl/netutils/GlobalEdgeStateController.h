// Publishes the process-wide global edge state. Readers that come before the state is published wait a
// moment for it (start-up races), then fail loudly: asking without initialising is a programming error.
#pragma once

#include <memory>

#include "oxl/runtime/TestHook.h"

namespace oxl::edge {
class GlobalEdgeState;
}

namespace oxl::netutils {

class GlobalEdgeStateController {
  public:
    GlobalEdgeStateController() = delete;

    // Waits up to one second for a state to be published; throws std::logic_error if none arrives.
    static std::shared_ptr<oxl::edge::GlobalEdgeState> getGlobalEdgeState();
    static bool isInitialized();
    // Drop the published state.
    static void reset();
    OXL_TEST_HOOK static void resetForTesting();

    // Publishes a state of the caller's choosing, as initialisation would.
    OXL_TEST_HOOK static void setInstanceForTesting(std::shared_ptr<oxl::edge::GlobalEdgeState> state);

  protected:
    // Publishes the state and wakes every reader waiting for it; null is ignored.
    static void install(std::shared_ptr<oxl::edge::GlobalEdgeState> state);
};

}  // namespace oxl::netutils

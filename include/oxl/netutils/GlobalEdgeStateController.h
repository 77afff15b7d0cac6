// Builds and publishes the process-wide global edge state. Readers that come before the state is published
// wait a moment for it (start-up races), then fail loudly: asking without initialising is a programming
// error.
#pragma once

#include <memory>
#include <string>

#include "oxl/runtime/TestHook.h"

namespace oxl::edge {
class GlobalEdgeState;
}

namespace oxl::netutils {

class GlobalEdgeStateController {
  public:
    GlobalEdgeStateController() = delete;

    // The first call builds the edge subsystem for the two domains (edge detection, transition detection,
    // the configuration request, the state, the infrastructure event controller) and publishes the state;
    // later calls update the domains.
    static void init(const std::string& internalDomain, const std::string& externalDomain);

    // Waits up to one second for a state to be published; throws std::logic_error if none arrives.
    static std::shared_ptr<oxl::edge::GlobalEdgeState> getGlobalEdgeState();
    static bool isInitialized();
    // Drops the published state and stops the threads of the subsystem init built (no network traffic:
    // ending the edge session is the host's call to the state's stop()).
    static void reset();
    OXL_TEST_HOOK static void resetForTesting();

    // Publishes a state of the caller's choosing, as initialisation would.
    OXL_TEST_HOOK static void setInstanceForTesting(std::shared_ptr<oxl::edge::GlobalEdgeState> state);

  protected:
    // Publishes the state and wakes every reader waiting for it; null is ignored.
    static void install(std::shared_ptr<oxl::edge::GlobalEdgeState> state);
};

}  // namespace oxl::netutils

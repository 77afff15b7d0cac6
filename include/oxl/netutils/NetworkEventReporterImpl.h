// Queues every report on one process-wide worker thread ("NetEventReport"), so that a transfer thread never
// waits and events reach the edge subsystems one at a time, in the order they were reported. The objects
// themselves hold nothing: any number of them share the one queue.
#pragma once

#include <cstddef>
#include <string>

#include "oxl/netutils/NetworkEventReporter.h"
#include "oxl/runtime/TestHook.h"

namespace oxl::netutils {

class NetworkEventReporterImpl : public NetworkEventReporter {
  public:
    static constexpr const char* THREAD_POOL_NAME = "NetEventReport";
    static constexpr unsigned int THREAD_POOL_IDLE_SECONDS = 60;

    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override;
    void hintNetworkStackNotReady(const std::string& label) override;
    void hintNetworkIsInUse(const std::string& label) override;
    void hintHostOsIpInterfaceChanged(const std::string& label) override;
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override;

    // Shut-down: drops the queue and ends the thread; later reports are dropped.
    static void stop();

    // What the worker thread does with each event: the hints go to the network sensing of the edge
    // detection, edge events to the infrastructure event controller. Both need an initialised edge state.
    static void hintNetworkInterfaceMightHaveDroppedImpl(const std::string& label);
    static void hintNetworkStackNotReadyImpl(const std::string& label);
    static void hintNetworkIsInUseImpl(const std::string& label);
    static void hintHostOsIpInterfaceChangedImpl(const std::string& label);
    static void edgeInfrastructureEventImpl(const std::string& label, const std::string& server);

    // A pool without threads: events are queued and never handled.
    OXL_TEST_HOOK static void disableNetworkEventReporterForTesting();
    // A fresh one-thread pool (also after stop()).
    OXL_TEST_HOOK static void enableNetworkEventReporterForTesting();
    // Waits until every event reported before the call has been handled; false when that did not happen
    // within `timeoutMs` (the reporter is disabled or stopped, or an event is stuck).
    OXL_TEST_HOOK static bool waitUntilIdleForTesting(long timeoutMs);
    // Events queued and not yet handled.
    OXL_TEST_HOOK static std::size_t queuedEventsForTesting();
};

}  // namespace oxl::netutils

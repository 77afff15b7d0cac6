// Durations and test seams of the direct-connect state machines. The defaults are the production values;
// tests shorten the durations and install their own testers and edge sensor.
#pragma once

#include <cstdint>
#include <memory>

#include "oxl/edge/BriselEdgeServiceSensor.h"
#include "oxl/edge/InternalNetworkVisibilityTester.h"
#include "oxl/edge/NetworkTester.h"

namespace oxl::edge {

struct DirectConnectFsmSettings {
    // Outside: one retry this long after entering Polling without a visible edge.
    std::uint32_t pollRetryDelayMs = 2000;
    // Outside: after an interface change, probe this often ...
    std::uint32_t retrySchedulePeriodMs = 3000;
    // ... until this long after the last change.
    std::uint32_t retryScheduleWindowMs = 16000;
    // Outside: connection timeout of the direct connectivity test.
    std::int32_t directTestTimeoutSec = 5;

    // Inside: delayed sensing after a "stack not ready" hint, pushed out by later hints up to the limit.
    std::int64_t delayedSensingDelayMs = 5000;
    std::int64_t delayedSensingLimitMs = 20000;
    std::int64_t delayedSensingToleranceMs = 100;

    // Used instead of the machines' own testers when set.
    std::shared_ptr<NetworkTester> mockDirectConnectivityTester;
    std::shared_ptr<InternalNetworkVisibilityTester> mockInternalNetworkVisibilityTester;
    // Used instead of a DNS-backed edge sensor for the parameters' external domain when set.
    std::shared_ptr<BriselEdgeServiceSensor> edgeServiceSensor;
};

}  // namespace oxl::edge

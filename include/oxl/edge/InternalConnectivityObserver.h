// What the edge transition detection found out. Every call carries the event's sequence number first and the
// name of the event that led to it last; calls arrive on the transition controller's event thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "oxl/edge/EdgeTransitionDetectionTypes.h"

namespace oxl::edge {

class InternalConnectivityObserver {
  public:
    virtual ~InternalConnectivityObserver() = default;
    virtual void onInternalConnectivityAvailable(std::uint32_t seq, const ServiceRecord& record,
                                                 const std::string& eventName) = 0;
    virtual void onInternalConnectivityUnavailable(std::uint32_t seq, const std::string& eventName) = 0;
    virtual void onEdgeConnectivityAvailable(std::uint32_t seq,
                                             const std::vector<EdgeServiceRecordData>& records,
                                             const std::string& eventName) = 0;
    virtual void onEdgeConnectivityUnavailable(std::uint32_t seq, const std::string& eventName) = 0;
    virtual void onInternalAndEdgeConnectivityUnavailable(std::uint32_t seq,
                                                          const std::string& eventName) = 0;
    virtual void onInternalConnectivityUnavailableAndEdgeConnectivityAvailable(
        std::uint32_t seq, const std::vector<EdgeServiceRecordData>& records,
        const std::string& eventName) = 0;
    virtual void onConfirmingDirectConnectivity(std::uint32_t seq, const std::string& eventName) = 0;
};

}  // namespace oxl::edge

// Watches the kernel's address notifications (rtnetlink) on a thread of its own and queues an
// IpInterfaceChanged event into the transition controller when the set of local addresses changed.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "oxl/edge/EdgeTransitionDetectionController.h"

namespace oxl::edge {

// The local unicast addresses (text) seen in one scan.
class IpInterfaceChangeLocalAddress {
  public:
    void addLocalIPAddress(const std::string& address) { addresses_.insert(address); }
    const std::set<std::string>& getAddresses() const { return addresses_; }
    bool operator==(const IpInterfaceChangeLocalAddress&) const = default;

  private:
    std::set<std::string> addresses_;
};

class IpInterfaceChangeMonitor {
  public:
    static constexpr std::uint32_t EVENT_DELAY_MS = 300;

    // The controller may be null (changes are then only logged); it must outlive the monitor's thread.
    explicit IpInterfaceChangeMonitor(EdgeTransitionDetectionController* controller,
                                      std::uint32_t eventDelayMs = EVENT_DELAY_MS);
    // Stops the thread.
    ~IpInterfaceChangeMonitor();
    IpInterfaceChangeMonitor(const IpInterfaceChangeMonitor&) = delete;
    IpInterfaceChangeMonitor& operator=(const IpInterfaceChangeMonitor&) = delete;

    // False when the notification socket or the thread could not be set up (logged).
    bool start();
    void stop();
    bool isRunning() const;

    // Every unicast address of every interface, logged at debug level.
    static IpInterfaceChangeLocalAddress scanLocalAddresses();

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace oxl::edge

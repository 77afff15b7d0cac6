// Application-state and power events. The host application posts them; the monitor delivers each event to
// the registered observers on its own thread, in the order posted.
#pragma once

#include <chrono>
#include <memory>
#include <ostream>

namespace OXLSystemMonitor {

enum class AppEventType : int {
    UNKNOWN = 0,
    RESUMED = 1,
    WAKEUP_IN_BACKGROUND = 2,
    ENTERED_BACKGROUND = 3,
    ENTERED_FOREGROUND = 4,
};

enum class PowerEventType : int {
    UNKNOWN = 0,
    SUSPEND = 1,
    RESUME = 2,
};

std::ostream& operator<<(std::ostream& os, AppEventType type);
std::ostream& operator<<(std::ostream& os, PowerEventType type);

class AppEventObserver {
  public:
    virtual ~AppEventObserver() = default;
    virtual void onAppEvent(AppEventType type) = 0;
};

class PowerEventObserver {
  public:
    virtual ~PowerEventObserver() = default;
    virtual void onPowerEvent(PowerEventType type) = 0;
};

class SystemMonitor {
  public:
    virtual ~SystemMonitor() = default;

    // Observers are held weakly; one that has gone is skipped and forgotten. Registering twice is a no-op.
    virtual void registerAppEventObserver(const std::weak_ptr<AppEventObserver>& observer) = 0;
    virtual void registerPowerEventObserver(const std::weak_ptr<PowerEventObserver>& observer) = 0;
    // Safe from any thread, also from inside a delivery and from the observer's destructor.
    virtual void deregisterAppEventObserver(const AppEventObserver* observer) = 0;
    virtual void deregisterPowerEventObserver(const PowerEventObserver* observer) = 0;

    // Queue an event for delivery on the monitor's thread; returns at once.
    virtual void postAppEvent(AppEventType type) = 0;
    virtual void postPowerEvent(PowerEventType type) = 0;

    // Waits until every event posted so far has been delivered; false on timeout.
    virtual bool waitUntilIdle(std::chrono::milliseconds timeout) = 0;
};

class SystemMonitorFactory {
  public:
    // The process-wide monitor (created on first use unless one was installed).
    static std::shared_ptr<SystemMonitor> getInstance();
    // Installs another monitor (e.g. in tests); null restores a fresh default monitor on next use.
    static void setInstance(std::shared_ptr<SystemMonitor> monitor);
};

}  // namespace OXLSystemMonitor

// Auto-reset or manual-reset event.
#pragma once

#include "oxl/runtime/Mutex.h"

namespace oxl {

class Event {
  public:
    // An auto-reset event lets one waiter through per set(); a manual-reset one stays set until reset().
    explicit Event(bool autoReset = true);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Always true.
    bool set();
    // Waits until set; always true.
    bool wait();
    // True when set within timeoutMs, false on timeout (at once for a negative timeout).
    bool wait(long timeoutMs);
    // Clears a manual-reset event (true); false on an auto-reset event.
    bool reset();
    bool isAutoReset() const { return autoReset_; }

  private:
    const bool autoReset_;
    bool signalled_ = false;
    Mutex mutex_;
    Condition condition_;
};

}  // namespace oxl

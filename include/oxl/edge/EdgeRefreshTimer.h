// The one-shot timer that renews the edge session cookie before it expires, at a share (70 % unless set
// otherwise) of the cookie's remaining lifetime. It only queues the refresh on the edge state's pool.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "oxl/runtime/Task.h"
#include "oxl/runtime/Timer.h"

namespace oxl::edge {

class GlobalEdgeStateImpl;

class EdgeRefreshTimer : public oxl::Timer {
    struct Token {};

  public:
    // Longest wait the timer service takes in one go (about 24 days); a longer lifetime is renewed early.
    static constexpr long MAX_SECONDS = 2'147'483L;

    // Armed for (int)((expirationDate - now) * rate) seconds; null (nothing armed) when the cookie has
    // already expired or the timer service refuses the period. Times in seconds since 1970.
    static std::shared_ptr<EdgeRefreshTimer> buildInstance(const std::weak_ptr<GlobalEdgeStateImpl>& state,
                                                           long expirationDate, long now, float rate);
    EdgeRefreshTimer(Token, std::weak_ptr<GlobalEdgeStateImpl> state, long fireTime, long seconds);
    ~EdgeRefreshTimer() override;

    // Queues the refresh unless the timer was killed or the state has gone.
    void onTimer() override;

    // now >= the fire time (the process-wide override when one is set).
    bool isRefreshTimerExpired(long now) const;
    // Expired, but its renewal has not started and the fire time is less than RUN_GRACE_SECONDS behind:
    // the clock reads whole seconds while the timer counts from the moment it was armed, so it runs up to
    // a second after the clock shows its fire time.
    bool isAboutToRun(long now) const;
    // The renewal this timer asked for has started (it was run, or a refresh took it over).
    void markRun() { run_ = true; }
    static constexpr long RUN_GRACE_SECONDS = 2;
    // False when the timer had already been killed.
    bool killRefreshTimer();
    bool isKilled() const;
    long getFireTime() const { return fireTime_; }
    long getSeconds() const { return seconds_; }

  private:
    // The fire time, or the process-wide override when one is set.
    long effectiveFireTime() const;

    const std::weak_ptr<GlobalEdgeStateImpl> state_;
    const long fireTime_;
    const long seconds_;
    mutable std::mutex killableMutex_;
    bool killed_ = false;
    std::atomic<bool> run_{false};
};

// Runs the refresh on the state's pool.
class EdgeRefreshTimerTask : public oxl::Task {
  public:
    explicit EdgeRefreshTimerTask(std::weak_ptr<GlobalEdgeStateImpl> state) : state_(std::move(state)) {}
    void execute() override;

  private:
    std::weak_ptr<GlobalEdgeStateImpl> state_;
};

}  // namespace oxl::edge

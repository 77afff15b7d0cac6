#include "oxl/edge/EdgeRefreshTimer.h"

#include <cmath>

#include "edge/GlobalEdgeStateLog.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"

namespace oxl::edge {

std::shared_ptr<EdgeRefreshTimer> EdgeRefreshTimer::buildInstance(
    const std::weak_ptr<GlobalEdgeStateImpl>& state, long expirationDate, long now, float rate) {
    if (expirationDate <= now) {
        OXL_LOG_WARN(stateLogger(), "Cookie expiration date: " << expirationDate << " <= current date: "
                                                               << now << ", no timer will be set");
        return nullptr;
    }
    // The rate is taken as the decimal it was written as: 0.7 of an hour is 2520 s, not 2519.
    const double decimalRate = std::round(static_cast<double>(rate) * 1e6) / 1e6;
    const double share = static_cast<double>(expirationDate - now) * decimalRate + 1e-9;
    const long seconds = share >= static_cast<double>(MAX_SECONDS) ? MAX_SECONDS : static_cast<long>(share);
    OXL_LOG_INFO(stateLogger(), "About to set the EdgeRefreshTimer to be " << seconds << " seconds");
    auto timer = std::make_shared<EdgeRefreshTimer>(Token{}, state, now + seconds, seconds);
    if (timer->setTimer(static_cast<unsigned int>(seconds * 1000)) != 0) {
        OXL_LOG_ERROR(stateLogger(),
                      "The timer service refused a refresh timer of " << seconds << " seconds");
        return nullptr;
    }
    return timer;
}

EdgeRefreshTimer::EdgeRefreshTimer(Token, std::weak_ptr<GlobalEdgeStateImpl> state, long fireTime,
                                   long seconds)
    : state_(std::move(state)), fireTime_(fireTime), seconds_(seconds) {}

EdgeRefreshTimer::~EdgeRefreshTimer() {
    killTimer();
    OXL_LOG_DEBUG(stateLogger(), "EdgeRefreshTimer killed.");
}

void EdgeRefreshTimer::onTimer() {
    // Declared first so that it is released last, after the lock: it may hold the last reference to the
    // state, whose destruction destroys this timer.
    std::shared_ptr<GlobalEdgeStateImpl> state;
    const std::lock_guard<std::mutex> lock(killableMutex_);
    if (killed_) {
        OXL_LOG_INFO(stateLogger(),
                     "The edgeRefreshTimer_ has been killed. Not refreshing the EDGE credentials");
        return;
    }
    state = state_.lock();
    if (!state) {
        OXL_LOG_WARN(stateLogger(),
                     "Unable to lock GlobalEdgeState, will not perform the Edge cookie refresh.");
        return;
    }
    state->scheduleRefresh();
}

long EdgeRefreshTimer::effectiveFireTime() const {
    const long override = detail::refreshFireTimeOverride();
    return override != 0 ? override : fireTime_;
}

bool EdgeRefreshTimer::isRefreshTimerExpired(long now) const {
    const bool expired = now >= effectiveFireTime();
    OXL_LOG_DEBUG(stateLogger(), (expired ? "It is expired" : "It is not expired"));
    return expired;
}

bool EdgeRefreshTimer::isAboutToRun(long now) const {
    const long fireTime = effectiveFireTime();
    return !run_ && now >= fireTime && now < fireTime + RUN_GRACE_SECONDS;
}

bool EdgeRefreshTimer::killRefreshTimer() {
    {
        const std::lock_guard<std::mutex> lock(killableMutex_);
        if (killed_) {
            return false;
        }
        killed_ = true;
        OXL_LOG_DEBUG(stateLogger(), "Killing timer");
    }
    // Outside the lock: killTimer waits for a running onTimer, which takes it.
    killTimer();
    return true;
}

bool EdgeRefreshTimer::isKilled() const {
    const std::lock_guard<std::mutex> lock(killableMutex_);
    return killed_;
}

void EdgeRefreshTimerTask::execute() {
    auto state = state_.lock();
    if (!state) {
        OXL_LOG_WARN(stateLogger(),
                     "No global edge state pointer available! Unexpected condition. Aborting the refresh");
        return;
    }
    OXL_LOG_INFO(stateLogger(), "Starting the edge refresh");
    state->refreshEdgeConfiguration();
}

}  // namespace oxl::edge

#include "oxl/edge/AsyncGetEdgeConfigTask.h"

#include <exception>

#include "edge/GlobalEdgeStateLog.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"

namespace oxl::edge {

AsyncGetEdgeConfigTask::AsyncGetEdgeConfigTask(std::weak_ptr<GlobalEdgeStateImpl> state,
                                               std::shared_ptr<GetEdgeConfigurationListener> listener,
                                               std::vector<std::string> services,
                                               GlobalEdgeState::RequestId requestId)
    : state_(std::move(state)),
      listener_(std::move(listener)),
      services_(std::move(services)),
      requestId_(requestId) {}

void AsyncGetEdgeConfigTask::execute() {
    using Result = GlobalEdgeState::GetEdgeConfigurationResult;
    OXL_LOG_DEBUG(stateLogger(), "Executing AsyncGetEdgeConfigTask [" << requestId_ << "]");
    Result result(Result::INTERNAL_ERROR);
    if (auto state = state_.lock()) {
        result = state->runAsyncRequest(services_);
    } else {
        OXL_LOG_ERROR(stateLogger(),
                      "Failed to achieve temporary ownership of GlobalEdgeState. Notify "
                      "GetEdgeConfigurationListener with error: INTERNAL_ERROR");
    }
    // The listener is the caller's code: what it throws stays on its side.
    try {
        listener_->onEdgeConfigurationRetrieved(requestId_, result);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(stateLogger(),
                      "The GetEdgeConfigurationListener of request " << requestId_ << " threw: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(stateLogger(),
                      "The GetEdgeConfigurationListener of request " << requestId_ << " threw");
    }
}

void NotifyObserversEdgeConfigIsAvailable::execute() {
    auto state = state_.lock();
    if (!state) {
        OXL_LOG_WARN(stateLogger(), "No global edge state pointer available! Unexpected condition. Aborting");
        return;
    }
    state->notifyObserversOfConfigAvailable();
}

}  // namespace oxl::edge

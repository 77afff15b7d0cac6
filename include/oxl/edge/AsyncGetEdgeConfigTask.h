// The tasks the global edge state runs on its "GlobEdgeState" pool: one asynchronous configuration request,
// and the notice to observers that a configuration is available.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/runtime/Task.h"

namespace oxl::edge {

class GlobalEdgeStateImpl;

class AsyncGetEdgeConfigTask : public oxl::Task {
  public:
    AsyncGetEdgeConfigTask(std::weak_ptr<GlobalEdgeStateImpl> state,
                           std::shared_ptr<GetEdgeConfigurationListener> listener,
                           std::vector<std::string> services, GlobalEdgeState::RequestId requestId);
    // Runs the request and tells the listener, once, whatever happened.
    void execute() override;
    GlobalEdgeState::RequestId getRequestId() const { return requestId_; }

  private:
    std::weak_ptr<GlobalEdgeStateImpl> state_;
    std::shared_ptr<GetEdgeConfigurationListener> listener_;
    std::vector<std::string> services_;
    GlobalEdgeState::RequestId requestId_;
};

class NotifyObserversEdgeConfigIsAvailable : public oxl::Task {
  public:
    explicit NotifyObserversEdgeConfigIsAvailable(std::weak_ptr<GlobalEdgeStateImpl> state)
        : state_(std::move(state)) {}
    void execute() override;

  private:
    std::weak_ptr<GlobalEdgeStateImpl> state_;
};

}  // namespace oxl::edge

// Tells a fixed list of observers that visibility changed, on a worker pool.
#pragma once

#include <memory>
#include <vector>

#include "oxl/edge/VisibilityChangeObserver.h"
#include "oxl/runtime/Task.h"

namespace oxl::edge {

class VisibilityChangedTask : public oxl::Task {
  public:
    explicit VisibilityChangedTask(std::vector<std::shared_ptr<VisibilityChangeObserver>> observers);
    void execute() override;

  private:
    const std::vector<std::shared_ptr<VisibilityChangeObserver>> observers_;
};

}  // namespace oxl::edge

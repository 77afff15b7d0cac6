// Delivers one network-sensing event to a fixed list of observers on a worker pool.
#pragma once

#include <memory>
#include <vector>

#include "oxl/edge/NetworkSensingObserver.h"
#include "oxl/runtime/Task.h"

namespace oxl::edge {

class NetworkSensingEventTask : public oxl::Task {
  public:
    NetworkSensingEventTask(NetworkSensingEvent event,
                            std::vector<std::shared_ptr<NetworkSensingObserver>> observers);
    void execute() override;

  private:
    const NetworkSensingEvent event_;
    const std::vector<std::shared_ptr<NetworkSensingObserver>> observers_;
};

}  // namespace oxl::edge

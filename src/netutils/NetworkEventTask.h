// One reported network event waiting for the "NetEventReport" thread.
#pragma once

#include <iosfwd>
#include <string>

#include "oxl/runtime/Task.h"

namespace oxl::netutils {

class NetworkEventTask : public oxl::Task {
  public:
    // The numbers follow the reporter's operations in declaration order.
    enum Type {
        HINT_NETWORK_INTERFACE_MIGHT_HAVE_DROPPED = 0,
        HINT_NETWORK_STACK_NOT_READY = 1,
        HINT_NETWORK_IS_IN_USE = 2,
        HINT_HOST_OS_IP_INTERFACE_CHANGED = 3,
        EDGE_INFRASTRUCTURE_EVENT = 4,
    };

    NetworkEventTask(Type type, std::string label);
    // Only an EDGE_INFRASTRUCTURE_EVENT carries a server; for any other type the call is logged and ignored.
    void setServerForEdgeEvent(const std::string& server);
    void execute() override;

    Type getType() const { return type_; }
    const std::string& getLabel() const { return label_; }
    const std::string& getServer() const { return server_; }

  private:
    const Type type_;
    const std::string label_;
    std::string server_;
};

}  // namespace oxl::netutils

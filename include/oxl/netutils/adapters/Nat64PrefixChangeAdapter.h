// Forgets the discovered NAT64 prefixes when the edge detection sees the host's addresses change, so that
// the next synthesis discovers them again on the new network.
#pragma once

#include <memory>

#include "oxl/edge/NetworkSensingObserver.h"

namespace oxl::ip {
class Nat64Prefix;
}

namespace oxl::netutils::adapters {

class Nat64PrefixChangeAdapter : public oxl::edge::NetworkSensingObserver {
  public:
    static constexpr const char* IP_INTERFACE_CHANGED = "IpInterfaceChanged";

    // Over the process's NAT64 prefix object.
    static std::shared_ptr<Nat64PrefixChangeAdapter> buildNat64PrefixChangeAdapter();
    // Null means the process's object.
    static std::shared_ptr<Nat64PrefixChangeAdapter> buildNat64PrefixChangeAdapter(
        std::shared_ptr<oxl::ip::Nat64Prefix> nat64Prefix);

    explicit Nat64PrefixChangeAdapter(std::shared_ptr<oxl::ip::Nat64Prefix> nat64Prefix);

    void onNetworkSensingEvent(const oxl::edge::NetworkSensingEvent& event) override;

  private:
    std::shared_ptr<oxl::ip::Nat64Prefix> nat64Prefix_;
};

}  // namespace oxl::netutils::adapters

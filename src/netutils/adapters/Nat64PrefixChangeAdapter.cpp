#include "oxl/netutils/adapters/Nat64PrefixChangeAdapter.h"

#include <utility>

#include "oxl/ip/Nat64Prefix.h"
#include "oxl/log/Log.h"

namespace oxl::netutils::adapters {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.adapters");
    return l;
}
}  // namespace

std::shared_ptr<Nat64PrefixChangeAdapter> Nat64PrefixChangeAdapter::buildNat64PrefixChangeAdapter() {
    return buildNat64PrefixChangeAdapter(nullptr);
}

std::shared_ptr<Nat64PrefixChangeAdapter> Nat64PrefixChangeAdapter::buildNat64PrefixChangeAdapter(
    std::shared_ptr<oxl::ip::Nat64Prefix> nat64Prefix) {
    if (!nat64Prefix) {
        nat64Prefix = oxl::ip::Nat64Prefix::buildNat64Prefix();
    }
    return std::make_shared<Nat64PrefixChangeAdapter>(std::move(nat64Prefix));
}

Nat64PrefixChangeAdapter::Nat64PrefixChangeAdapter(std::shared_ptr<oxl::ip::Nat64Prefix> nat64Prefix)
    : nat64Prefix_(std::move(nat64Prefix)) {}

void Nat64PrefixChangeAdapter::onNetworkSensingEvent(const oxl::edge::NetworkSensingEvent& event) {
    if (event.eventName != IP_INTERFACE_CHANGED) {
        return;
    }
    if (!nat64Prefix_) {
        OXL_LOG_WARN(logger(), "No nat64 prefix object to reset");
        return;
    }
    OXL_LOG_INFO(logger(), "resetting nat64 prefix due to network change");
    nat64Prefix_->clearCache();
}

}  // namespace oxl::netutils::adapters

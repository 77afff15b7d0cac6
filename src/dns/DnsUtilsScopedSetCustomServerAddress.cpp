#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "dns/DnsServerAddress.h"
#include "oxl/log/Log.h"

namespace oxl::dns {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.dns");
    return l;
}

struct Entry {
    uint64_t id;
    detail::DnsServerAddress address;
};

// The live instances in order of activation; the last one is in force.
struct Overrides {
    std::mutex mutex;
    std::vector<Entry> entries;
    uint64_t nextId = 1;
};

Overrides& overrides() {
    static Overrides o;
    return o;
}

}  // namespace

namespace detail {
std::optional<DnsServerAddress> currentCustomServer() {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    if (o.entries.empty()) {
        return std::nullopt;
    }
    return o.entries.back().address;
}
}  // namespace detail

DnsUtilsScopedSetCustomServerAddress::DnsUtilsScopedSetCustomServerAddress(const std::string& serverAddress)
    : serverAddress_(serverAddress) {
    activate();
}

DnsUtilsScopedSetCustomServerAddress::DnsUtilsScopedSetCustomServerAddress(
    const DnsUtilsScopedSetCustomServerAddress& other)
    : serverAddress_(other.serverAddress_) {
    activate();
}

DnsUtilsScopedSetCustomServerAddress& DnsUtilsScopedSetCustomServerAddress::operator=(
    const DnsUtilsScopedSetCustomServerAddress& other) {
    if (this != &other) {
        deactivate();
        serverAddress_ = other.serverAddress_;
        activate();
    }
    return *this;
}

DnsUtilsScopedSetCustomServerAddress::~DnsUtilsScopedSetCustomServerAddress() {
    deactivate();
}

void DnsUtilsScopedSetCustomServerAddress::activate() {
    const auto parsed = detail::parseDnsServerAddress(serverAddress_);
    if (!parsed) {
        OXL_LOG_ERROR(logger(),
                      "Invalid DNS server address, keeping the current setting: '" << serverAddress_ << "'");
        return;
    }
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    entryId_ = o.nextId++;
    o.entries.push_back(Entry{entryId_, *parsed});
    OXL_LOG_DEBUG(logger(), "DNS queries now go to " << parsed->toString());
}

void DnsUtilsScopedSetCustomServerAddress::deactivate() {
    if (entryId_ == 0) {
        return;
    }
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    std::erase_if(o.entries, [this](const Entry& e) { return e.id == entryId_; });
    entryId_ = 0;
    OXL_LOG_DEBUG(logger(), "DNS queries go to " << (o.entries.empty() ? std::string("the system's servers")
                                                                       : o.entries.back().address.toString())
                                                 << " again");
}

bool DnsUtilsScopedSetCustomServerAddress::isValidServerAddress(const std::string& serverAddress) {
    return detail::parseDnsServerAddress(serverAddress).has_value();
}

std::string DnsUtilsScopedSetCustomServerAddress::getCurrentServerAddress() {
    const auto current = detail::currentCustomServer();
    return current ? current->toString() : std::string();
}

}  // namespace oxl::dns

#include "dns/DnsServerAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace oxl::dns::detail {

namespace {

bool parsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

std::string DnsServerAddress::toString() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(family, bytes.data(), text, sizeof(text)) == nullptr) {
        return {};
    }
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about chained operator+ at -O3.
    std::string out;
    if (family == AF_INET6) {
        out.append("[").append(text).append("]");
    } else {
        out.append(text);
    }
    out.append(":").append(std::to_string(port));
    return out;
}

std::optional<DnsServerAddress> parseDnsServerAddress(const std::string& text) {
    DnsServerAddress address;
    std::string host;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !parsePort(rest.substr(1), address.port))) {
            return std::nullopt;
        }
        address.family = AF_INET6;
    } else if (std::count(text.begin(), text.end(), ':') > 1) {
        host = text;  // bare IPv6, no port possible
        address.family = AF_INET6;
    } else {
        const auto colon = text.find(':');
        host = text.substr(0, colon);
        if (colon != std::string::npos && !parsePort(text.substr(colon + 1), address.port)) {
            return std::nullopt;
        }
        address.family = AF_INET;
    }
    // inet_pton would stop at a NUL byte and take "127.0.0.1\0anything" for 127.0.0.1.
    if (host.empty() || host.find('\0') != std::string::npos ||
        inet_pton(address.family, host.c_str(), address.bytes.data()) != 1) {
        return std::nullopt;
    }
    return address;
}

}  // namespace oxl::dns::detail

// The --dns-server option shared by the DNS commands.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxlnet/Command.h"

namespace oxlnet {

// Takes "--dns-server ADDR[:PORT]" from args. Returns false (after printing the error) when the value is
// not a usable address; otherwise `scope` points every DNS query at it until it is destroyed.
inline bool takeDnsServerOption(Args& args,
                                std::optional<oxl::dns::DnsUtilsScopedSetCustomServerAddress>& scope,
                                int& exitStatus) {
    std::string server;
    if (!takeOption(args, "--dns-server", server)) {
        return true;
    }
    if (!oxl::dns::DnsUtilsScopedSetCustomServerAddress::isValidServerAddress(server)) {
        exitStatus = usageError("invalid DNS server address '" + server +
                                "' (expected ADDR or ADDR:PORT, port 1-65535)");
        return false;
    }
    scope.emplace(server);
    return true;
}

// The single positional argument; false (after printing the error) when missing, empty or not alone.
inline bool takeSingleArgument(Args& args, const std::string& what, std::string& value, int& exitStatus) {
    if (args.size() != 1 || args[0].empty() || args[0].rfind("--", 0) == 0) {
        exitStatus =
            usageError(args.empty() || args[0].empty() ? "missing " + what
                                                       : "unexpected arguments; expected one " + what);
        return false;
    }
    value = args[0];
    return true;
}

}  // namespace oxlnet

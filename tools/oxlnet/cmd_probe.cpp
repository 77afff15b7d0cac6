#include <iostream>
#include <string>

#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/HostnameValidator.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxlnet/Command.h"

namespace oxlnet {

namespace {

// Digits only, no sign, no overflow; false for anything else.
bool parseNumber(const std::string& text, unsigned long long limit, unsigned long long& value) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > limit) {
            return false;
        }
    }
    return true;
}

// Text made only of digits and dots is meant as an IPv4 address, text with a colon as an IPv6 one; reject
// it early when it is not one, instead of sending it to the resolver.
bool looksNumericButIsNot(const std::string& host) {
    const bool dottedDigits = host.find_first_not_of("0123456789.") == std::string::npos;
    if (dottedDigits) {
        return !oxl::ip::IpUtils::isIpv4Address(host);
    }
    return host.find(':') != std::string::npos && !oxl::ip::IpUtils::isIpv6Address(host);
}

int runProbe(const Args& input) {
    Args args = input;
    std::string timeoutText = "5";
    takeOption(args, "--timeout", timeoutText);
    const bool v4 = takeFlag(args, "--ipv4-only");
    const bool v6 = takeFlag(args, "--ipv6-only");
    if (v4 && v6) {
        return usageError("probe: --ipv4-only and --ipv6-only exclude each other");
    }
    if (args.size() != 2) {
        return usageError("probe: expected HOST PORT [--timeout S] [--ipv4-only|--ipv6-only]");
    }
    const std::string& host = args[0];
    if (host.empty()) {
        return usageError("probe: the host name is empty");
    }
    if (looksNumericButIsNot(host) || !oxl::ip::HostnameValidator::isValidHostname(host)) {
        return usageError("probe: malformed host or address '" + host + "'");
    }
    unsigned long long port = 0;
    if (!parseNumber(args[1], 65535, port) || port == 0) {
        return usageError("probe: the port must be a number from 1 to 65535, not '" + args[1] + "'");
    }
    unsigned long long timeout = 0;
    if (!parseNumber(timeoutText, 2147483647ULL, timeout) || timeout == 0) {
        return usageError("probe: the timeout must be a whole number of seconds from 1, not '" + timeoutText +
                          "'");
    }
    if (oxl::netutils::GlobalInitLibCurlOnly() != 0) {
        std::cerr << "oxlnet: probe: libcurl could not be initialised" << std::endl;
        return 1;
    }

    using oxl::ip::IpFamilyPreferencePolicy;
    auto policy = v4   ? IpFamilyPreferencePolicy::IPV4_ONLY_POLICY
                  : v6 ? IpFamilyPreferencePolicy::IPV6_ONLY_POLICY
                       : IpFamilyPreferencePolicy::DUAL_STACK_POLICY;
    auto info = oxl::ip::ConnectionInformation::buildConnectionInformationWithStaticPolicy(policy);
    const auto result = info->getConnectionInformationForHost(host, static_cast<uint32_t>(port),
                                                              static_cast<uint32_t>(timeout));
    std::cout << result << std::endl;
    if (!result.getLocalAddress().isEmpty()) {
        std::cout << "local  " << result.getLocalAddress() << std::endl;
    }
    if (!result.getDestinationAddress().isEmpty()) {
        std::cout << "remote " << result.getDestinationAddress() << std::endl;
    }
    info.reset();
    oxl::netutils::GlobalCleanup();
    return result.getResult() == oxl::ip::ConnectionInformationResult::Success ? 0 : 1;
}

}  // namespace

OXLNET_COMMAND("probe", "HOST PORT [--timeout S] [--ipv4-only|--ipv6-only]",
               "opens a TCP connection (nothing sent) and prints the local and remote addresses used",
               runProbe);

}  // namespace oxlnet

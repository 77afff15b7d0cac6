// IP address texts (DNS answers, URLs, the tool's arguments), host-and-port joining, NAT64 prefixes found in
// synthesised addresses, and name-server addresses.
#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "dns/DnsAnswerParser.h"
#include "dns/DnsServerAddress.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/ip/IpAddress.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/ip/Ipv4Address.h"
#include "oxl/ip/Ipv6Address.h"
#include "oxl/ip/Nat64PrefixImpl.h"
#include "oxl/ip/Nat64PrefixParser.h"

using oxl::ip::IpAddress;
using oxl::ip::IpUtils;

namespace {

void checkAddress(const std::string& text) {
    const IpAddress address = IpAddress::createIpAddress(text);
    const bool hasNul = text.find('\0') != std::string::npos;
    if (address.isEmpty()) {
        OXL_FUZZ_CHECK(!IpUtils::isIpAddress(text), "an address the factory refused: " + text);
        return;
    }
    OXL_FUZZ_CHECK(!hasNul, "a text with a NUL byte is an address");
    OXL_FUZZ_CHECK(address.getAddress() == text, "the text changed");
    OXL_FUZZ_CHECK(address.isIpv4Address() != address.isIpv6Address(), "both or neither family: " + text);
    const std::vector<uint8_t> bytes = address.getBytes();
    OXL_FUZZ_CHECK(bytes.size() == (address.isIpv4Address() ? 4u : 16u), "byte form of " + text);
    OXL_FUZZ_CHECK(oxl::ip::Ipv4Address::createIpv4Address(text).isEmpty() != address.isIpv4Address(),
                   "IPv4 factory disagrees on " + text);
    OXL_FUZZ_CHECK(oxl::ip::Ipv6Address::createIpv6Address(text).isEmpty() != address.isIpv6Address(),
                   "IPv6 factory disagrees on " + text);
}

void checkNat64(const std::string& text) {
    const auto v6 = oxl::ip::Ipv6Address::createIpv6Address(text);
    const oxl::ip::Nat64PrefixParser parser(v6);
    const std::vector<uint8_t> prefix = parser.getPrefix();
    const std::size_t position = parser.getPosition();
    OXL_FUZZ_CHECK(prefix.size() == position, "prefix length " + std::to_string(prefix.size()));
    if (position == 0) {
        return;
    }
    // What the prefix gives for the well-known address holds that prefix again, at the same place.
    const std::vector<uint8_t> bytes = v6.getBytes();
    const std::vector<uint8_t> wellKnown = {192, 0, 0, 170};
    const std::string synthesised = oxl::ip::Nat64PrefixImpl::synthesise(prefix, position, wellKnown);
    OXL_FUZZ_CHECK(!synthesised.empty(), "no synthesis at " + std::to_string(position));
    const oxl::ip::Nat64PrefixParser again(oxl::ip::Ipv6Address::createIpv6Address(synthesised));
    OXL_FUZZ_CHECK(again.getPosition() == position && again.getPrefix() == prefix,
                   "round trip of " + text + " through " + synthesised);
}

void checkHostAndPort(const std::string& host, unsigned int port) {
    const std::string joined = IpUtils::appendPortToAddress(host, port);
    if (joined.empty()) {
        return;
    }
    OXL_FUZZ_CHECK(port > 0 && port < 65536, "port " + std::to_string(port) + " accepted");
    const std::string url = "http://" + joined + "/";
    OXL_FUZZ_CHECK(oxl::http::HttpUtils::extractPortFromHttpUrl(url) == port, "port lost in " + url);
    OXL_FUZZ_CHECK(oxl::http::HttpUtils::extractHostFromHttpUrl(url) == host, "host lost in " + url);
}

void checkServerAddress(const std::string& text) {
    const auto parsed = oxl::dns::detail::parseDnsServerAddress(text);
    if (!parsed) {
        return;
    }
    OXL_FUZZ_CHECK(text.find('\0') == std::string::npos, "a server address with a NUL byte");
    OXL_FUZZ_CHECK(parsed->port != 0, "port 0");
    const auto again = oxl::dns::detail::parseDnsServerAddress(parsed->toString());
    OXL_FUZZ_CHECK(again && *again == *parsed, "round trip of " + text + " through " + parsed->toString());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const unsigned int port = input.ConsumeIntegral<unsigned int>() % 70000;
    const std::string text = input.ConsumeRemainingBytesAsString();
    checkAddress(text);
    checkNat64(text);
    checkHostAndPort(text, port);
    checkServerAddress(text);
    (void)oxl::dns::detail::reverseNameFor(text);
    return 0;
}

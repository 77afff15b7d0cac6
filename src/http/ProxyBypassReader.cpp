#include "oxl/http/ProxyBypassReader.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/TextUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
using oxl::common::text::toLower;
using oxl::common::text::trim;
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

struct Address {
    int family = AF_UNSPEC;
    std::array<unsigned char, 16> bytes{};
    unsigned bits() const { return family == AF_INET ? 32 : 128; }
};

std::string_view withoutBrackets(std::string_view text) {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

std::optional<Address> parseAddress(std::string_view text) {
    text = withoutBrackets(text);
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string copy(text);
    Address address;
    if (inet_pton(AF_INET, copy.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET;
        return address;
    }
    if (inet_pton(AF_INET6, copy.c_str(), address.bytes.data()) == 1) {
        address.family = AF_INET6;
        return address;
    }
    return std::nullopt;
}

bool samePrefix(const Address& a, const Address& b, unsigned bits) {
    const unsigned whole = bits / 8;
    if (std::memcmp(a.bytes.data(), b.bytes.data(), whole) != 0) {
        return false;
    }
    const unsigned rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const auto mask = static_cast<unsigned char>(0xFFu << (8 - rest));
    return (a.bytes[whole] & mask) == (b.bytes[whole] & mask);
}

// "address/bits" with bits within the family's length.
std::optional<std::pair<Address, unsigned>> parseCidr(std::string_view token) {
    const auto slash = token.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto network = parseAddress(token.substr(0, slash));
    const std::string_view digits = token.substr(slash + 1);
    if (!network || digits.empty() || digits.size() > 3) {
        return std::nullopt;
    }
    unsigned bits = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        bits = bits * 10 + static_cast<unsigned>(c - '0');
    }
    if (bits > network->bits()) {
        return std::nullopt;
    }
    return std::make_pair(*network, bits);
}

// Leftmost occurrence of `needle` in `text` at or after `from` (Knuth-Morris-Pratt: linear, whatever the
// input).
std::size_t findFrom(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty()) {
        return from;
    }
    std::vector<std::size_t> border(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) {
            k = border[k - 1];
        }
        if (needle[i] == needle[k]) {
            ++k;
        }
        border[i] = k;
    }
    for (std::size_t i = from, k = 0; i < text.size(); ++i) {
        while (k > 0 && text[i] != needle[k]) {
            k = border[k - 1];
        }
        if (text[i] == needle[k]) {
            ++k;
        }
        if (k == needle.size()) {
            return i + 1 - needle.size();
        }
    }
    return std::string_view::npos;
}

// Whole-text match where "*" is any run of characters and everything else is literal. The pieces between
// stars are placed leftmost, one after the other, before the anchored tail: if any placement works, that
// one does.
bool globMatch(std::string_view text, std::string_view pattern) {
    const auto firstStar = pattern.find('*');
    if (firstStar == std::string_view::npos) {
        return text == pattern;
    }
    const auto lastStar = pattern.rfind('*');
    const std::string_view head = pattern.substr(0, firstStar);
    const std::string_view tail = pattern.substr(lastStar + 1);
    if (text.size() < head.size() + tail.size() || text.substr(0, head.size()) != head ||
        text.substr(text.size() - tail.size()) != tail) {
        return false;
    }
    const std::string_view middle = text.substr(0, text.size() - tail.size());
    std::size_t pos = head.size();
    std::size_t piece = firstStar + 1;
    while (piece < lastStar) {
        const auto end = pattern.find('*', piece);
        const std::string_view needle = pattern.substr(piece, end - piece);
        piece = end + 1;
        const auto found = findFrom(middle, needle, pos);
        if (found == std::string_view::npos) {
            return false;
        }
        pos = found + needle.size();
    }
    return true;
}

bool legacyMatch(const std::string& host, const std::string& token) {
    // The last occurrence ends at the host's end exactly when the host ends with the token.
    if (token.empty() || host.size() <= token.size() ||
        host.compare(host.size() - token.size(), token.size(), token) != 0) {
        return false;
    }
    const auto pos = host.size() - token.size();
    if (host[pos - 1] != '.') {
        return false;
    }
    OXL_LOG_DEBUG(logger(), "Match found comparing token: \"" << token << "\" and hostname: \"" << host
                                                              << "\" at position: " << pos);
    return true;
}

bool tokenMatches(const std::string& host, const std::optional<Address>& hostAddress,
                  const std::string& token) {
    bool matched = false;
    if (const auto cidr = parseCidr(token)) {
        matched = hostAddress && hostAddress->family == cidr->first.family &&
                  samePrefix(*hostAddress, cidr->first, cidr->second);
    } else if (const auto address = parseAddress(token)) {
        matched = hostAddress && hostAddress->family == address->family &&
                  samePrefix(*hostAddress, *address, address->bits());
    } else if (hostAddress) {
        // An address has no domain: only a pattern with a wildcard applies to it.
        matched = token.find('*') != std::string::npos && globMatch(host, token);
    } else if (legacyMatch(host, token)) {
        return true;
    } else {
        matched = globMatch(host, token);
    }
    if (matched) {
        OXL_LOG_DEBUG(logger(), "Host: " << host << ", matched token: " << token);
    }
    return matched;
}
}  // namespace

ProxyBypassReader::ProxyBypassReader(const std::string& bypassList) : bypassList_(bypassList) {
    std::string::size_type pos = 0;
    while ((pos = bypassList.find_first_not_of(";, ", pos)) != std::string::npos) {
        const auto end = bypassList.find_first_of(";, ", pos);
        tokens_.push_back(bypassList.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end;
    }
}

ProxyBypassReader::~ProxyBypassReader() = default;

bool ProxyBypassReader::isProxyRequired(std::string host) {
    if (host.empty()) {
        OXL_LOG_WARN(logger(), "Hostname is empty, default to using the proxy");
        return true;
    }
    const auto& tokens = getTokens();
    if (tokens.empty()) {
        OXL_LOG_DEBUG(logger(), "Bypass List is empty, default to using the proxy");
        return true;
    }
    host = toLower(std::string(withoutBrackets(host)));
    const std::optional<Address> hostAddress = parseAddress(host);
    bool proxyRequired = true;
    for (const auto& raw : tokens) {
        const std::string token = toLower(trim(raw, " \t"));
        if (!token.empty() && tokenMatches(host, hostAddress, token)) {
            proxyRequired = false;
            break;
        }
    }
    OXL_LOG_DEBUG(logger(), "proxyRequired: " << std::boolalpha << proxyRequired);
    return proxyRequired;
}

}  // namespace oxl::http

#include "oxl/http/EnvironmentProxySettingsSource.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "common/TextUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
using oxl::common::text::toLower;
using oxl::common::text::toUpper;
using oxl::common::text::trim;
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

bool isIpv6(const std::string& text) {
    unsigned char buffer[16];
    return inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool isIpv4(const std::string& text) {
    unsigned char buffer[4];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1;
}

// "address/bits" as curl reads it; the address may be an IPv6 literal in brackets. Empty when the token is
// not a usable CIDR range.
std::string cidrToken(const std::string& token) {
    const auto slash = token.find('/');
    if (slash == std::string::npos) {
        return {};
    }
    std::string address = token.substr(0, slash);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    const std::string bits = token.substr(slash + 1);
    const unsigned maximum = isIpv4(address) ? 32 : isIpv6(address) ? 128 : 0;
    if (maximum == 0 || bits.empty() || bits.size() > 3 ||
        !std::all_of(bits.begin(), bits.end(), [](unsigned char c) { return std::isdigit(c); }) ||
        static_cast<unsigned>(std::stoul(bits)) > maximum) {
        return {};
    }
    return address + "/" + bits;
}

// Characters that may appear in a host name or address token; anything else would either be read as a
// pattern by the bypass reader or could never match a host.
bool isPlainHostToken(const std::string& token) {
    return !token.empty() && std::all_of(token.begin(), token.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':';
    });
}
}  // namespace

EnvironmentProxySettingsSource::EnvironmentProxySettingsSource()
    : lookup_([](const std::string& name) -> std::optional<std::string> {
          const char* value = std::getenv(name.c_str());
          if (value == nullptr) {
              return std::nullopt;
          }
          return std::string(value);
      }) {}

EnvironmentProxySettingsSource::EnvironmentProxySettingsSource(Lookup lookup) : lookup_(std::move(lookup)) {}

EnvironmentProxySettingsSource::~EnvironmentProxySettingsSource() = default;

std::optional<std::string> EnvironmentProxySettingsSource::variable(const std::string& lowerCaseName) const {
    // Like curl, an empty value counts as not set, so the upper-case spelling is consulted next.
    for (const auto& name : {lowerCaseName, toUpper(lowerCaseName)}) {
        auto value = lookup_ ? lookup_(name) : std::nullopt;
        if (value && !trim(*value).empty()) {
            return trim(*value);
        }
    }
    return std::nullopt;
}

bool EnvironmentProxySettingsSource::read(UserProxySettings& settings, std::string& /*error*/) {
    settings = UserProxySettings{};
    std::string proxy;
    const std::pair<const char*, const char*> variables[] = {
        {"http_proxy", "http="}, {"https_proxy", "https="}, {"all_proxy", ""}};
    for (const auto& [name, prefix] : variables) {
        const auto value = variable(name);
        if (!value) {
            continue;
        }
        const std::string entry = proxyFromEnvironmentValue(name, *value);
        if (entry.empty()) {
            continue;
        }
        if (!proxy.empty()) {
            proxy += ';';
        }
        proxy += prefix;
        proxy += entry;
    }
    if (!proxy.empty()) {
        settings.proxy = proxy;
    }
    if (const auto noProxy = variable("no_proxy")) {
        settings.proxyBypass = bypassListFromNoProxy(*noProxy);
    }
    return true;
}

std::string EnvironmentProxySettingsSource::proxyFromEnvironmentValue(const std::string& variable,
                                                                      const std::string& value) {
    std::string rest = trim(value);
    const auto schemeEnd = rest.find("://");
    std::string prefix;
    if (schemeEnd != std::string::npos) {
        const std::string scheme = toLower(rest.substr(0, schemeEnd));
        if (scheme == "https") {
            prefix = "https://";  // the proxy itself is spoken to over TLS
        } else if (scheme != "http") {
            OXL_LOG_WARN(logger(), "Proxy scheme " << scheme << " of " << variable
                                                   << " is not supported, the value is ignored");
            return {};
        }
        rest = rest.substr(schemeEnd + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    // User information is a secret and the system proxy carries no credentials.
    const auto at = rest.rfind('@');
    if (at != std::string::npos) {
        OXL_LOG_INFO(logger(), "Credentials in " << variable << " are not used");
        rest = rest.substr(at + 1);
    }
    const bool usable =
        !rest.empty() && rest[0] != ':' && rest.find_first_of(" \t\r\n;,=") == std::string::npos;
    if (!usable) {
        OXL_LOG_WARN(logger(), "The value of " << variable << " is not a proxy address, it is ignored");
        return {};
    }
    return prefix + rest;
}

std::string EnvironmentProxySettingsSource::bypassListFromNoProxy(const std::string& noProxy) {
    const std::string whole = trim(noProxy);
    if (whole == "*") {
        return "*";
    }
    std::vector<std::string> tokens;
    std::string::size_type pos = 0;
    while ((pos = whole.find_first_not_of(", \t", pos)) != std::string::npos) {
        const auto end = whole.find_first_of(", \t", pos);
        std::string token =
            toLower(whole.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end;
        const std::string original = token;
        if (token.find('/') != std::string::npos) {
            token = cidrToken(token);
            if (token.empty()) {
                OXL_LOG_WARN(logger(), "no_proxy entry '" << original << "' cannot be used, it is ignored");
                continue;
            }
        } else {
            if (token.size() > 2 && token.front() == '[' && token.back() == ']') {
                token = token.substr(1, token.size() - 2);
            }
            if (!token.empty() && token.front() == '.') {
                token.erase(0, 1);
            }
            const bool hasColon = token.find(':') != std::string::npos;
            if (!isPlainHostToken(token) || token.front() == '.' || (hasColon && !isIpv6(token))) {
                OXL_LOG_WARN(logger(), "no_proxy entry '" << original << "' cannot be used, it is ignored");
                continue;
            }
        }
        if (std::find(tokens.begin(), tokens.end(), token) == tokens.end()) {
            tokens.push_back(token);
        }
    }
    std::string bypass;
    for (const auto& token : tokens) {
        bypass += (bypass.empty() ? "" : ";") + token;
    }
    return bypass;
}

}  // namespace oxl::http

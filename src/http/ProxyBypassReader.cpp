#include "oxl/http/ProxyBypassReader.h"

#include <algorithm>
#include <cctype>
#include <regex>

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

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

bool legacyMatch(const std::string& host, const std::string& token) {
    const auto pos = host.rfind(token);
    if (token.empty() || pos == std::string::npos || pos == 0 || pos + token.size() != host.size() ||
        host[pos - 1] != '.') {
        return false;
    }
    OXL_LOG_DEBUG(logger(), "Match found comparing token: \"" << token << "\" and hostname: \"" << host
                                                              << "\" at position: " << pos);
    return true;
}

bool patternMatch(const std::string& host, const std::string& token) {
    std::string pattern = token;
    replaceAll(pattern, ".", "\\.");
    replaceAll(pattern, "*", ".*");
    try {
        const std::regex expression(pattern, std::regex::ECMAScript);
        if (std::regex_match(host, expression)) {
            OXL_LOG_DEBUG(logger(), "Host: " << host << ", matched token: " << token);
            return true;
        }
    } catch (const std::regex_error& e) {
        OXL_LOG_WARN(logger(), "Regex failed: " << e.what());
    }
    return false;
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
    host = toLower(std::move(host));
    bool proxyRequired = true;
    for (const auto& raw : tokens) {
        const std::string token = toLower(trim(raw, " \t"));
        if (legacyMatch(host, token) || patternMatch(host, token)) {
            proxyRequired = false;
            break;
        }
    }
    OXL_LOG_DEBUG(logger(), "proxyRequired: " << std::boolalpha << proxyRequired);
    return proxyRequired;
}

}  // namespace oxl::http

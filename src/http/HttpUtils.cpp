#include "oxl/http/HttpUtils.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

constexpr auto npos = std::string::npos;

bool isEmptyInput(const std::string& text) {
    if (text.empty()) {
        OXL_LOG_WARN(logger(), "url is empty");
        return true;
    }
    return false;
}

// Index just after the first "://", or 0.
size_t authorityStart(const std::string& url) {
    const size_t marker = url.find("://");
    return marker == npos ? 0 : marker + 3;
}

// The smaller of two positions, npos counting as infinitely far.
size_t earlier(size_t a, size_t b) {
    return std::min(a, b);
}
}  // namespace

std::string HttpUtils::extractProtocolFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return {};
    }
    const size_t marker = url.find("://");
    if (marker == npos || marker == 0) {
        return {};
    }
    return url.substr(0, marker);
}

std::string HttpUtils::extractRequestFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return {};
    }
    const size_t slash = url.find('/', authorityStart(url));
    if (slash == npos) {
        return {};
    }
    return url.substr(slash);
}

std::string HttpUtils::extractHostFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return {};
    }
    size_t start = authorityStart(url);
    if (start >= url.size()) {
        return {};
    }
    size_t end = npos;
    if (checkUrlForIpV6(url)) {
        OXL_LOG_INFO(logger(), "URL is IPv6");
        if (url.find('[') != npos) {
            ++start;
        }
        end = earlier(url.find('/', start), url.find(']', start));
    } else {
        end = earlier(url.find('/', start), url.find(':', start));
    }
    if (end == npos) {
        end = url.size();
    }
    if (end < start) {
        return {};
    }
    return url.substr(start, end - start);
}

unsigned int HttpUtils::extractPortFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return 0;
    }
    size_t start = authorityStart(url);
    const size_t slash = url.find('/', start);
    if (checkUrlForIpV6(url)) {
        const size_t close = url.find(']', start);
        // Also covers an unbracketed literal, whose colons are not ports.
        if (close == npos || close >= slash) {
            return 0;
        }
        start = close + 1;
    }
    const size_t colon = url.find(':', start);
    if (colon == npos || (slash != npos && colon > slash)) {
        return 0;
    }
    size_t pos = colon + 1;
    if (pos >= url.size() || !std::isdigit(static_cast<unsigned char>(url[pos]))) {
        return 0;
    }
    unsigned long long value = 0;
    for (; pos < url.size() && std::isdigit(static_cast<unsigned char>(url[pos])); ++pos) {
        value = value * 10 + static_cast<unsigned>(url[pos] - '0');
        if (value > std::numeric_limits<unsigned int>::max()) {
            return 0;
        }
    }
    return static_cast<unsigned int>(value);
}

std::string HttpUtils::extractBaseUrlFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return {};
    }
    const size_t slashes = url.find("//");
    if (slashes == npos) {
        return {};
    }
    const size_t end = url.find('/', slashes + 2);
    return url.substr(0, end);
}

std::string HttpUtils::extractFilenameFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return {};
    }
    const size_t last = url.rfind('/');
    if (last == npos || last + 1 >= url.size()) {
        return {};
    }
    return url.substr(last + 1);
}

std::string HttpUtils::extractFqdnFromStr(const std::string& text) {
    if (isEmptyInput(text)) {
        return {};
    }
    const size_t slash = text.find('/');
    const size_t start = slash == npos ? 0 : slash + 2;
    if (start >= text.size()) {
        return {};
    }
    size_t end = earlier(text.find('/', start), text.find(':', start));
    if (end == npos) {
        end = text.size();
    }
    return text.substr(start, end - start);
}

std::string HttpUtils::extractHostnameFromStr(const std::string& text) {
    if (isEmptyInput(text)) {
        return {};
    }
    const size_t slash = text.find('/');
    const size_t start = slash == npos ? 0 : slash + 2;
    if (start >= text.size()) {
        return {};
    }
    const size_t stop = earlier(text.find('/', start), text.find(':', start));
    if (stop != npos && oxl::ip::IpUtils::isIpAddress(text.substr(start, stop - start))) {
        return text.substr(start, stop - start);
    }
    size_t end = earlier(stop, text.find('.', start));
    if (end == npos) {
        end = text.size();
    }
    return text.substr(start, end - start);
}

std::string HttpUtils::extractFullDomainFromHttpUrl(const std::string& url) {
    if (isEmptyInput(url)) {
        return {};
    }
    const std::string host = extractHostFromHttpUrl(url);
    const size_t dot = host.find('.');
    if (dot == npos) {
        OXL_LOG_INFO(logger(), "Url is not FQDN");
        return {};
    }
    std::string domain = host.substr(dot + 1);
    OXL_LOG_INFO(logger(), "Extracted domain from home ZDS URI is " << domain);
    const bool hasLetter = std::any_of(domain.begin(), domain.end(),
                                       [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
    if (!hasLetter) {
        OXL_LOG_INFO(logger(), "Domain contains no letters- assume it is IP address");
        return {};
    }
    return domain;
}

bool HttpUtils::checkUrlForIpV6(const std::string& url) {
    if (isEmptyInput(url)) {
        return false;
    }
    const size_t start = authorityStart(url);
    const size_t slash = url.find('/', start);
    std::string authority = url.substr(start, slash == npos ? npos : slash - start);
    const size_t open = authority.find('[');
    const size_t close = authority.find(']');
    if (open != npos && close != npos) {
        if (close < open) {
            return false;
        }
        authority = authority.substr(open + 1, close - open - 1);
    }
    return oxl::ip::IpUtils::isIpv6Address(authority);
}

std::string HttpUtils::encodeForHttp(const std::string& text) {
    if (isEmptyInput(text)) {
        return {};
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0x20 || byte >= 0x80) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace oxl::http

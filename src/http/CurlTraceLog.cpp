// What a transfer writes to the log about itself: libcurl's trace (verbose) output, the phase timings, and
// the redaction rules every transfer log line goes through (URLs, file paths, header values).
#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string_view>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// Response headers whose values may appear in the log.
bool isLoggableResponseHeader(const std::string& name) {
    static constexpr std::array<const char*, 18> ALLOWED = {"CACHE-CONTROL",
                                                            "CONNECTION",
                                                            "CONTENT-LENGTH",
                                                            "CONTENT-TYPE",
                                                            "DATE",
                                                            "EXPIRES",
                                                            "HOST",
                                                            "PRAGMA",
                                                            "PROXY-AUTHENTICATE",
                                                            "PROXY-CONNECTION",
                                                            "RETRY-AFTER",
                                                            "SERVER",
                                                            "TRACKINGID",
                                                            "TRANSFER-ENCODING",
                                                            "USER-AGENT",
                                                            "VARY",
                                                            "WWW-AUTHENTICATE",
                                                            "X-CF-REQUESTID"};
    for (const char* allowed : ALLOWED) {
        if (strcasecmp(name.c_str(), allowed) == 0) {
            return true;
        }
    }
    return false;
}

// RFC 9110 token characters, the only ones a header name is made of.
bool isTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

constexpr const char* HIDDEN = "[...]";

// Every "scheme://..." in the text, up to a blank or a quote, by its loggable form.
std::string hideUrls(const std::string& text) {
    std::string out;
    size_t from = 0;
    for (size_t marker; (marker = text.find("://", from)) != std::string::npos;) {
        size_t start = marker;
        while (start > from && (std::isalnum(static_cast<unsigned char>(text[start - 1])) != 0 ||
                                text[start - 1] == '+' || text[start - 1] == '-' || text[start - 1] == '.')) {
            --start;
        }
        size_t end = marker + 3;
        while (end < text.size() && std::strchr(" \t'\"<>", text[end]) == nullptr) {
            ++end;
        }
        out.append(text, from, start - from);
        out += CurlHttpUtils::loggableUrl(text.substr(start, end - start));
        from = end;
    }
    out.append(text, from, std::string::npos);
    return out;
}

// "... with user 'NAME'" (libcurl's line for the authentication it sends, to the server or the proxy).
std::string hideUserName(const std::string& text) {
    static const std::string MARKER = "with user '";
    const auto start = text.find(MARKER);
    if (start == std::string::npos) {
        return text;
    }
    const auto valueStart = start + MARKER.size();
    const auto end = text.rfind('\'');
    std::string out = text.substr(0, valueStart) + HIDDEN + "'";
    if (end != std::string::npos && end >= valueStart) {
        out.append(text, end + 1, std::string::npos);
    }
    return out;
}

// "Added cookie NAME="VALUE" for domain D, path P, expire E" (also "Replaced cookie"): the value may itself
// hold quotes, so it runs to the last " for domain ".
std::string hideCookieValue(const std::string& text) {
    const auto cookie = text.find("cookie ");
    if (cookie == std::string::npos) {
        return text;
    }
    const auto valueStart = text.find("=\"", cookie);
    if (valueStart == std::string::npos) {
        return text;
    }
    const auto end = text.rfind("\" for domain ");
    std::string out = text.substr(0, valueStart + 2) + HIDDEN;
    if (end != std::string::npos && end >= valueStart + 2) {
        out.append(text, end, std::string::npos);
    } else {
        out += "\"";
    }
    return out;
}

// A request header libcurl traces as text, "[name: value]" (HTTP/2 requests): its value by the request
// allow-list; pseudo-headers other than the request target are harmless.
std::string hideBracketedHeader(const std::string& text) {
    const auto open = text.find('[');
    const auto close = text.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return text;
    }
    const auto colon = text.find(": ", open);
    if (colon == std::string::npos || colon > close) {
        return text;
    }
    const std::string name = text.substr(open + 1, colon - open - 1);
    const bool pseudo = !name.empty() && name[0] == ':';
    if (!isToken(pseudo ? name.substr(1) : name)) {
        return text;
    }
    const bool shown = pseudo ? name != ":path" : isLoggableRequestHeader(name);
    if (shown) {
        return text;
    }
    return text.substr(0, colon + 2) + "Redacted" + text.substr(close);
}

std::string trimLineEnd(const char* data, size_t size) {
    std::string text(data, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

struct Phase {
    const char* marker;
    const char* label;
};
constexpr std::array<Phase, 7> PHASES = {{{"About to", " pre connect phase: '"},
                                          {"  Trying", " pre connect phase: '"},
                                          {"Connected", " post connect phase: '"},
                                          {"handshake, Client hello", " SSL handshake phase: '"},
                                          {"SSL connection using", " post SSL handshake phase: '"},
                                          {"Server auth using", " auth phase: '"},
                                          {"Proxy auth using", " auth phase: '"}}};

long msSince(std::chrono::steady_clock::time_point start) {
    if (start == std::chrono::steady_clock::time_point{}) {
        return 0;
    }
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

void logHeaderBlock(const HttpRequestData& requestData, bool incoming, const char* data, size_t size) {
    std::istringstream lines(std::string(data, size));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        OXL_LOG_TRACE(logger(), "Request " << requestData.formattedRequestID() << (incoming ? " < " : " > ")
                                           << CurlHttpUtils::loggableTracedHeaderLine(line, incoming));
    }
}

// Phase lines are written at debug, every other line at trace; a line that will not be written is not
// even copied.
void logText(const HttpRequestData& requestData, const char* data, size_t size, bool trace) {
    const std::string_view raw(data, size);
    const Phase* matched = nullptr;
    for (const auto& phase : PHASES) {
        if (raw.find(phase.marker) != std::string_view::npos) {
            matched = &phase;
            break;
        }
    }
    if (matched == nullptr && !trace) {
        return;
    }
    const std::string text = CurlHttpUtils::loggableInfoText(trimLineEnd(data, size));
    if (matched == nullptr) {
        OXL_LOG_TRACE(logger(), "Request " << requestData.formattedRequestID() << " * " << text);
        return;
    }
    OXL_LOG_DEBUG(logger(), "Request " << requestData.formattedRequestID() << matched->label << text
                                       << "' after " << msSince(requestData.configuredAt()) << " ms");
    if (text.find("SSL connection using") != std::string::npos) {
        OXL_LOG_DEBUG(logger(), "Request " << requestData.formattedRequestID() << " TLS version '"
                                           << CurlHttpUtils::getSslVersion(text) << "' cipher suite '"
                                           << CurlHttpUtils::getCipherSuite(text) << "'");
    }
}
}  // namespace

int CurlHttpUtils::traceCallback(CURL* /*handle*/, curl_infotype type, char* data, size_t size,
                                 void* userData) {
    // Verbose mode stays on for every transfer, so this runs for every line libcurl has: with the log
    // levels off it must cost nothing but the level checks.
    if (!OXLLog_isDebugEnabled(logger())) {
        return 0;
    }
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr || data == nullptr) {
        return 0;
    }
    const bool trace = OXLLog_isTraceEnabled(logger());
    try {
        switch (type) {
            case CURLINFO_TEXT:
                logText(*requestData, data, size, trace);
                break;
            case CURLINFO_HEADER_OUT:
            case CURLINFO_HEADER_IN:
                if (trace) {
                    logHeaderBlock(*requestData, type == CURLINFO_HEADER_IN, data, size);
                }
                break;
            case CURLINFO_DATA_OUT:
                OXL_LOG_TRACE(logger(), "Request " << requestData->formattedRequestID() << " sent " << size
                                                   << " bytes of body");
                break;
            case CURLINFO_DATA_IN:
                OXL_LOG_TRACE(logger(), "Request " << requestData->formattedRequestID() << " received "
                                                   << size << " bytes of body");
                break;
            default:
                break;
        }
    } catch (...) {
        // libcurl calls from C; a failed log line is not worth a transfer.
    }
    return 0;
}

void CurlHttpUtils::logOperationTiming(HttpRequestData& requestData) {
    CURL* handle = requestData.getCurlHandle();
    if (handle == nullptr || !OXLLog_isDebugEnabled(logger())) {
        return;
    }
    static const std::array<std::pair<CURLINFO, const char*>, 7> TIMERS = {{
        {CURLINFO_NAMELOOKUP_TIME_T, "name lookup"},
        {CURLINFO_CONNECT_TIME_T, "connect"},
        {CURLINFO_APPCONNECT_TIME_T, "ssl connect"},
        {CURLINFO_PRETRANSFER_TIME_T, "pre-transfer"},
        {CURLINFO_STARTTRANSFER_TIME_T, "start-transfer"},
        {CURLINFO_TOTAL_TIME_T, "total"},
        {CURLINFO_REDIRECT_TIME_T, "redirect"},
    }};
    std::ostringstream text;
    for (const auto& [info, name] : TIMERS) {
        curl_off_t micros = 0;
        text << ", " << name << " ";
        if (curl_easy_getinfo(handle, info, &micros) == CURLE_OK) {
            text << micros / 1000 << "." << (micros % 1000) / 100 << " ms";
        } else {
            text << "unavailable (failed to get)";
        }
    }
    OXL_LOG_DEBUG(logger(), "Request " << requestData.formattedRequestID() << " timing" << text.str());
}

std::string CurlHttpUtils::loggableUrl(const std::string& url) {
    const auto schemeEnd = url.find("://");
    const size_t authorityStart = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
    const auto authorityEnd = url.find_first_of("/?#", authorityStart);
    std::string authority =
        url.substr(authorityStart,
                   authorityEnd == std::string::npos ? std::string::npos : authorityEnd - authorityStart);
    // User information in the authority is a credential.
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        authority = "[...]@" + authority.substr(at + 1);
    }
    std::string text = url.substr(0, authorityStart);
    text += authority;
    if (authorityEnd != std::string::npos) {
        text += "/[...]";
    }
    return text;
}

std::string CurlHttpUtils::loggableUrl(const Request& request) {
    auto options = request.getOptions();
    return options ? loggableUrl(options->url) : std::string();
}

std::string CurlHttpUtils::loggableFilePath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return path;
    }
    return "[...]" + path.substr(slash);
}

std::string CurlHttpUtils::loggableFilePath(const RequestWrapper& wrapper) {
    return loggableFilePath(wrapper.getFilePath());
}

std::string CurlHttpUtils::loggableHeaderLine(const std::string& line) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        return line;
    }
    const std::string name = line.substr(0, colon);
    if (isLoggableRequestHeader(name)) {
        return line;
    }
    return name + ": Redacted";
}

std::string CurlHttpUtils::loggableTracedHeaderLine(const std::string& line, bool incoming) {
    if (line.compare(0, 5, "HTTP/") == 0) {
        return line;  // status line
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos && isToken(line.substr(0, colon))) {
        if (!incoming) {
            return loggableHeaderLine(line);
        }
        const auto valueStart = line.find_first_not_of(" \t", colon + 1);
        return loggableResponseHeader({line.substr(0, colon), valueStart == std::string::npos
                                                                  ? std::string()
                                                                  : line.substr(valueStart)});
    }
    // A request line: its target may carry tokens.
    const auto firstSpace = line.find(' ');
    const auto lastSpace = line.rfind(' ');
    if (!incoming && firstSpace != std::string::npos && lastSpace > firstSpace &&
        isToken(line.substr(0, firstSpace)) && line.compare(lastSpace + 1, 5, "HTTP/") == 0) {
        return line.substr(0, firstSpace) + " /[...]" + line.substr(lastSpace);
    }
    return HIDDEN;
}

std::string CurlHttpUtils::loggableInfoText(const std::string& text) {
    return hideBracketedHeader(hideCookieValue(hideUserName(hideUrls(text))));
}

std::string CurlHttpUtils::loggableResponseHeader(const HttpHeader& header) {
    return header.first + ": " +
           (isLoggableResponseHeader(header.first) ? header.second : "Redacted by client");
}

std::string CurlHttpUtils::normalizeIp(const std::string& ip) {
    std::string text;
    for (char c : ip) {
        if (c != '[' && c != ']' && c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            text += c;
        }
    }
    return text;
}

std::string CurlHttpUtils::getResolvedIp(const std::string& traceLine) {
    const std::string marker = "Trying ";
    const auto start = traceLine.find(marker);
    if (start == std::string::npos) {
        return {};
    }
    std::string address = traceLine.substr(start + marker.size());
    const auto dots = address.find("...");
    if (dots != std::string::npos) {
        address.resize(dots);
    }
    if (!address.empty() && address.front() == '[') {
        const auto close = address.find(']');
        return close == std::string::npos ? std::string() : normalizeIp(address.substr(0, close + 1));
    }
    const auto colon = address.rfind(':');
    // One colon separates the port of an IPv4 address; more mean an unbracketed IPv6 address and its port.
    if (colon != std::string::npos) {
        address.resize(colon);
    }
    return normalizeIp(address);
}

std::string CurlHttpUtils::getSslVersion(const std::string& traceLine) {
    const std::string marker = "SSL connection using ";
    const auto start = traceLine.find(marker);
    if (start == std::string::npos) {
        return {};
    }
    const auto from = start + marker.size();
    const auto end = traceLine.find(" / ", from);
    return traceLine.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string CurlHttpUtils::getCipherSuite(const std::string& traceLine) {
    const std::string marker = "SSL connection using ";
    const auto start = traceLine.find(marker);
    if (start == std::string::npos) {
        return {};
    }
    const auto sep = traceLine.find(" / ", start + marker.size());
    if (sep == std::string::npos) {
        return {};
    }
    const auto from = sep + 3;
    const auto end = traceLine.find(" / ", from);
    return traceLine.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace oxl::http

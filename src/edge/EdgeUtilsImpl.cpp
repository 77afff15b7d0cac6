#include "oxl/edge/EdgeUtilsImpl.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/runtime/Base64.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::edge {

namespace {

using oxl::common::Cookie;
using oxl::http::HttpUtils;
using Transform = EdgeUtils::TransformHttpUrlResult;

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

// libcurl marks HttpOnly cookies by this prefix on the domain field.
constexpr const char* HTTP_ONLY_PREFIX = "#HttpOnly_";

// Asking before initialisation is a programming error of the host; to a transformation it only means that
// no edge configuration is available.
std::shared_ptr<GlobalEdgeState> globalEdgeState() {
    try {
        return oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState();
    } catch (const std::logic_error&) {
        return nullptr;
    }
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Whether `path` continues, after its leading "/", with the whole tokenized segment `token`. The segment
// must end there: another internal server's token may start with the same characters.
bool pathStartsWithToken(const std::string& path, const std::string& token) {
    if (token.empty() || path.size() < token.size() + 1 || path.compare(1, token.size(), token) != 0) {
        return false;
    }
    return path.size() == token.size() + 1 || path[token.size() + 1] == '/';
}

// "https://h?q" and "https://h/?q" name the same resource, but the URL helpers read the host of the first
// up to the next "/" or ":"; the path is made explicit before the URL is taken apart.
std::string withExplicitPath(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = url.find_first_of("/?#", authority);
    if (end == std::string::npos || url[end] == '/') {
        return url;
    }
    return url.substr(0, end) + "/" + url.substr(end);
}

// "https://EDGE:PORT/<token><path and query of url>", or "" when the edge address cannot take a port.
std::string edgeUrl(const EdgeServiceLocation& server, const std::string& token, const std::string& request) {
    const std::string hostAndPort = oxl::ip::IpUtils::appendPortToAddress(server.address, server.tlsPort);
    if (hostAndPort.empty()) {
        OXL_LOG_ERROR(logger(), "Unable to append the port to this hostname: " << server.address);
        return {};
    }
    return "https://" + hostAndPort + "/" + token + request;
}

void replaceDomainInCookieRawFormat(std::string& line, const Cookie& cookie, const std::string& host,
                                    const std::string& edgeHost) {
    std::string domain = cookie.getDomain();
    if (domain.rfind(HTTP_ONLY_PREFIX, 0) == 0) {
        domain.erase(0, std::char_traits<char>::length(HTTP_ONLY_PREFIX));
    }
    if (!equalsIgnoreCase(domain, host) && !(domain.size() == host.size() + 1 && domain[0] == '.' &&
                                             equalsIgnoreCase(std::string_view(domain).substr(1), host))) {
        OXL_LOG_DEBUG(logger(), "Host : " << host << " not found in Cookie Domain: " << domain);
        return;
    }
    const std::size_t at = line.find(domain);
    if (at != std::string::npos) {
        line.replace(at, domain.size(), edgeHost);
        OXL_LOG_DEBUG(logger(), "Replace Http Cookie Domain from: " << domain << " to " << edgeHost);
    }
}

void replacePathInCookieRawFormat(std::string& line, const Cookie& cookie, const std::string& token) {
    const std::string path = cookie.getPath();
    if (path.size() < 2 || pathStartsWithToken(path, token)) {
        return;
    }
    // The domain and flag fields hold no "/", so the first match is the path field.
    const std::size_t at = line.find(path);
    if (at == std::string::npos) {
        OXL_LOG_DEBUG(logger(), "Nothing will be added to Http Cookie Path: " << path);
        return;
    }
    line.insert(at, "/" + token);
    OXL_LOG_DEBUG(logger(), "Adding tokenizedBaseUrlEncoded: "
                                << token << " to the front of Http Cookie Path: " << path);
}

class GetHttpCookiesEdgeConfigListener : public GetEdgeConfigurationListener {
  public:
    void onEdgeConfigurationRetrieved(GlobalEdgeState::RequestId requestId,
                                      const GlobalEdgeState::GetEdgeConfigurationResult& result) override {
        OXL_LOG_DEBUG(logger(), "getEdgeConfigurationAsync triggered by getHttpCookies : requestId: "
                                    << requestId << " result : " << result.result);
    }
};

}  // namespace

Transform::Result EdgeUtilsImpl::buildTokenizedBaseUrlEncoded(const std::string& original, std::string& out) {
    out.clear();
    const std::string url = withExplicitPath(original);
    const auto state = globalEdgeState();
    std::string text = state ? state->getEdgeDomain() : std::string();
    if (text.empty()) {
        OXL_LOG_WARN(logger(), "Edge domain is not set");
        return Transform::EDGE_DOMAIN_NOT_SET;
    }
    const std::string protocol = HttpUtils::extractProtocolFromHttpUrl(url);
    const std::string host = protocol.empty() ? std::string() : HttpUtils::extractHostFromHttpUrl(url);
    if (host.empty()) {
        OXL_LOG_WARN(logger(), "The URL has no " << (protocol.empty() ? "protocol" : "host"));
        return Transform::MALFORMED_REQUEST;
    }
    text += "/" + protocol + "/" + host;
    if (const unsigned int port = HttpUtils::extractPortFromHttpUrl(url); port != 0) {
        text += "/" + std::to_string(port);
    }
    OXL_LOG_DEBUG(logger(), "Base Url before encoding: " << text);
    out = oxl::Base64urlEncoding::instance().encode(text);
    return Transform::SUCCESS;
}

Transform EdgeUtilsImpl::transformHttpUrl(const std::string& url) {
    return transform(url, nullptr);
}

Transform EdgeUtilsImpl::transformHttpUrl(const std::string& url, const EdgeServiceLocation& edgeServer) {
    return transform(url, &edgeServer);
}

Transform EdgeUtilsImpl::transform(const std::string& url, const EdgeServiceLocation* edgeServer) {
    if (url.empty()) {
        OXL_LOG_ERROR(logger(), "Failed to transform Url because the original Url is empty.");
        return Transform({}, Transform::MALFORMED_REQUEST);
    }
    const auto state = globalEdgeState();
    const auto config = state ? state->getEdgeConfiguration()
                              : GlobalEdgeState::GetEdgeConfigurationResult(
                                    GlobalEdgeState::GetEdgeConfigurationResult::INTERNAL_ERROR);
    using Config = GlobalEdgeState::GetEdgeConfigurationResult;
    if (config.result == Config::EDGE_AUTHENTICATION_FAILED) {
        OXL_LOG_ERROR(logger(), "Edge Authentication has failed, returning.");
        return Transform({}, Transform::EDGE_AUTHENTICATION_FAILED);
    }
    if (config.result == Config::SSL_CONNECTION_ERROR && edgeServer == nullptr) {
        OXL_LOG_ERROR(logger(), "Edge Connection has failed with an SSL/TLS error, returning.");
        return Transform({}, Transform::EDGE_SSL_CONNECTION_ERROR);
    }
    if (config.result != Config::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Failed to transform Url because Edge Configuration is not available.");
        return Transform({}, Transform::EDGE_CONFIG_UNAVAILABLE);
    }
    const EdgeService http = config.edgeConfig.getHttpEdgeService();
    if (!http.isServiceAvailable()) {
        OXL_LOG_ERROR(logger(), "Failed to transform Url because Edge Http Server is not available.");
        return Transform({}, Transform::HTTP_EDGE_SERVER_UNAVAILABLE);
    }
    if (edgeServer != nullptr && std::find(http.serverLocations.begin(), http.serverLocations.end(),
                                           *edgeServer) == http.serverLocations.end()) {
        OXL_LOG_ERROR(logger(),
                      "Failed to transform Url because there's no matched HttpEdgeService found in Edge "
                      "Configuration.");
        return Transform({}, Transform::HTTP_EDGE_SERVER_UNAVAILABLE);
    }
    std::string token;
    const Transform::Result encoded = buildTokenizedBaseUrlEncoded(url, token);
    if (encoded != Transform::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Failed to encode Url with TransformHttpUrlResult: " << encoded);
        return Transform({}, encoded);
    }
    const std::string request = HttpUtils::extractRequestFromHttpUrl(withExplicitPath(url));
    std::deque<std::string> urls;
    if (edgeServer != nullptr) {
        urls.push_back(edgeUrl(*edgeServer, token, request));
    } else {
        for (const auto& server : http.serverLocations) {
            urls.push_back(edgeUrl(server, token, request));
        }
    }
    return Transform(urls, token, Transform::SUCCESS);
}

Transform::Result EdgeUtilsImpl::transformHttpCookies(const std::string& requestUrl,
                                                      const std::vector<Cookie>& cookies,
                                                      const TransformHttpUrlResult& transformResult,
                                                      std::vector<Cookie>& outCookies) {
    if (transformResult.result != Transform::SUCCESS) {
        OXL_LOG_ERROR(logger(), "TransformHttpUrl has failed. No cookie will be transformed.");
        return transformResult.result;
    }
    const std::string host =
        requestUrl.empty() ? std::string() : HttpUtils::extractHostFromHttpUrl(withExplicitPath(requestUrl));
    if (host.empty()) {
        OXL_LOG_ERROR(logger(),
                      "Malformed original Url: " << oxl::http::CurlHttpUtils::loggableUrl(requestUrl)
                                                 << ". No cookie will be transformed.");
        return Transform::MALFORMED_REQUEST;
    }
    std::vector<Cookie> produced;
    for (const auto& url : transformResult.urls) {
        const std::string edgeHost = url.empty() ? std::string() : HttpUtils::extractHostFromHttpUrl(url);
        if (edgeHost.empty()) {
            continue;
        }
        for (const auto& cookie : cookies) {
            const oxl::WipedString original(cookie.getRawFormat());
            // Room for both rewrites up front: a reallocation would free a clear copy unwiped.
            std::string line;
            line.reserve(original.size() + edgeHost.size() + transformResult.tokenizedBaseUrlEncoded.size() +
                         2);
            line.assign(original.str());
            replaceDomainInCookieRawFormat(line, cookie, host, edgeHost);
            replacePathInCookieRawFormat(line, cookie, transformResult.tokenizedBaseUrlEncoded);
            if (!equalsIgnoreCase(line, original.view())) {
                produced.emplace_back(line);
            }
            oxl::secureWipe(line);
        }
    }
    outCookies.insert(outCookies.end(), produced.begin(), produced.end());
    return Transform::SUCCESS;
}

Transform::Result EdgeUtilsImpl::removeTransformedCookies(std::vector<Cookie>& cookies,
                                                          const std::string& url) {
    std::string token;
    const Transform::Result result = buildTokenizedBaseUrlEncoded(url, token);
    if (result != Transform::SUCCESS) {
        OXL_LOG_ERROR(logger(), "Failed to get tokenizedBaseUrlEncoded. No cookie modification happened.");
        return result;
    }
    const auto removed = std::erase_if(
        cookies, [&token](const Cookie& cookie) { return pathStartsWithToken(cookie.getPath(), token); });
    OXL_LOG_DEBUG(logger(), "Removed " << removed << " transformed cookies");
    return Transform::SUCCESS;
}

std::vector<Cookie> EdgeUtilsImpl::getHttpCookies() {
    const auto state = globalEdgeState();
    if (!state) {
        OXL_LOG_ERROR(logger(),
                      "cached edge config not available, returning empty http cookies, initialResult: "
                          << GlobalEdgeState::GetEdgeConfigurationResult::INTERNAL_ERROR);
        return {};
    }
    GlobalEdgeState::RequestId requestId = 0;
    const auto result =
        state->getEdgeConfigurationAsync(std::make_shared<GetHttpCookiesEdgeConfigListener>(), requestId);
    if (result.result == GlobalEdgeState::GetEdgeConfigurationResult::SUCCESS) {
        return result.edgeConfig.getCookies();
    }
    OXL_LOG_WARN(logger(), "cached edge config not available, returning empty http cookies, initialResult: "
                               << result.result);
    if (requestId != 0) {
        OXL_LOG_INFO(logger(), "an async GetEdgeConfig has been queued, requestId: " << requestId);
    }
    return {};
}

std::shared_ptr<Credentials> EdgeUtilsImpl::getCredentials() {
    const auto state = globalEdgeState();
    return state ? state->getEdgeCredentials() : nullptr;
}

}  // namespace oxl::edge

#include "oxl/netutils/adapters/EdgeHttpAdapter.h"

#include <curl/curl.h>

#include <cstdlib>
#include <ctime>
#include <exception>
#include <string_view>

#include "common/TextUtils.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/edge/Credentials.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/Request.h"
#include "oxl/http/Response.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxl/runtime/SecureString.h"

namespace oxl::netutils::adapters {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.adapters");
    return l;
}

// What one Set-Cookie header says; the value is a secret and wiped with the struct.
struct SetCookie {
    std::string name;
    std::string value;
    std::string domain;
    std::string path = "/";
    bool secure = false;
    // Max-Age of zero or less, or an Expires date that has passed: the edge ends the cookie.
    bool clears = false;
    ~SetCookie() { oxl::secureWipe(value); }
};

// In place, so that no second copy of a cookie value is left behind.
void unquote(std::string& text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text.pop_back();
        text.erase(0, 1);
    }
}

// RFC 6265 section 5.2, reduced to what decides which cookie it is and whether it is cleared.
bool parseSetCookie(const std::string& header, std::time_t now, SetCookie& out) {
    using oxl::common::text::toLower;
    using oxl::common::text::trim;
    std::size_t start = 0;
    bool first = true;
    while (start <= header.size()) {
        std::size_t end = header.find(';', start);
        if (end == std::string::npos) {
            end = header.size();
        }
        const std::string_view part(header.data() + start, end - start);
        const std::size_t eq = part.find('=');
        std::string key = trim(part.substr(0, eq));
        if (first) {
            if (eq == std::string_view::npos || key.empty()) {
                return false;
            }
            out.name = std::move(key);
            out.value = trim(part.substr(eq + 1));
            unquote(out.value);
            first = false;
        } else {
            key = toLower(key);
            const std::string value =
                eq == std::string_view::npos ? std::string() : trim(part.substr(eq + 1));
            if (key == "secure") {
                out.secure = true;
            } else if (key == "path" && !value.empty() && value.front() == '/') {
                out.path = value;
            } else if (key == "domain" && !value.empty()) {
                out.domain = toLower(value.front() == '.' ? value.substr(1) : value);
            } else if (key == "max-age") {
                char* stop = nullptr;
                const long long seconds = std::strtoll(value.c_str(), &stop, 10);
                if (!value.empty() && stop != nullptr && *stop == '\0') {
                    out.clears = seconds <= 0;
                }
            } else if (key == "expires") {
                const std::time_t when = curl_getdate(value.c_str(), nullptr);
                if (when != -1) {
                    out.clears = when <= now;
                }
            }
        }
        start = end + 1;
    }
    return !first;
}

// One cookie per Set-Cookie header of the answer, as the cookie engine keeps it. A cleared cookie the
// engine no longer holds is written out here with an expiry in the past; a cookie the engine refused
// (another domain, say) is left out.
std::vector<oxl::common::Cookie> cookiesSetBy(const oxl::http::Response& answer, const std::string& url) {
    std::vector<oxl::common::Cookie> result;
    if (!answer.headers) {
        return result;
    }
    const std::time_t now = std::time(nullptr);
    for (const auto& [headerName, headerValue] : *answer.headers) {
        if (oxl::common::text::toLower(headerName) != "set-cookie") {
            continue;
        }
        SetCookie set;
        if (!parseSetCookie(headerValue, now, set)) {
            OXL_LOG_DEBUG(logger(), "Ignoring a Set-Cookie header without a cookie name");
            continue;
        }
        const oxl::common::Cookie* kept = nullptr;
        for (const auto& cookie : answer.cookies) {
            if (cookie.getName() != set.name) {
                continue;
            }
            std::string value = cookie.getValue();
            unquote(value);
            if (value == set.value) {
                kept = &cookie;
            }
            oxl::secureWipe(value);
        }
        if (kept != nullptr) {
            result.push_back(*kept);
        } else if (set.clears) {
            const bool tailMatch = !set.domain.empty();
            const std::string domain =
                tailMatch ? "." + set.domain : oxl::http::HttpUtils::extractHostFromHttpUrl(url);
            std::string line = domain + "\t" + (tailMatch ? "TRUE" : "FALSE") + "\t" + set.path + "\t" +
                               (set.secure ? "TRUE" : "FALSE") + "\t1\t" + set.name + "\t";
            line.reserve(line.size() + set.value.size());
            line += set.value;
            result.emplace_back(line);
            oxl::secureWipe(line);
        } else {
            OXL_LOG_WARN(logger(), "The cookie engine refused the cookie " << set.name << " the edge set");
        }
    }
    return result;
}

}  // namespace

EdgeHttpAdapter::EdgeHttpAdapter() = default;
EdgeHttpAdapter::~EdgeHttpAdapter() = default;

void EdgeHttpAdapter::setCustomHttpClientForTesting(std::shared_ptr<oxl::http::BasicHttpClient> client) {
    const std::lock_guard<std::mutex> lock(mutex_);
    client_ = std::move(client);
}

std::shared_ptr<oxl::http::BasicHttpClient> EdgeHttpAdapter::client() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!client_) {
        // The configuration request never goes through the edge itself: no transformer, and the client's
        // own policies start with the never-use-edge policy.
        auto verifier =
            std::make_shared<HttpCertAdapter>(oxl::cert::CertVerifierFactory::createCertVerifier());
        client_ =
            oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(nullptr, verifier, nullptr, nullptr);
    }
    return client_;
}

EdgeHttpAdapter::Result EdgeHttpAdapter::mapResult(oxl::http::HttpClientResult::Result result) {
    using H = oxl::http::HttpClientResult;
    switch (result) {
        case H::SUCCESS:
            return SUCCESS;
        case H::URL_NOT_SET_ERROR:
        case H::HTTP_CONFIGURATION_ERROR:
            return INTERNAL_ERROR;
        case H::UNRESOLVED_HOST_ERROR:
            return FAILED_TO_RESOLVE_HOST;
        case H::HOST_UNREACHABLE_ERROR:
        case H::CONNECTION_TIMEOUT_ERROR:
            return CONNECTION_FAILED;
        case H::CERTIFICATE_VALIDATION_ERROR:
        case H::CLIENT_CERTIFICATE_ERROR:
            return CERTIFICATE_VALIDATION_ERROR;
        case H::SSL_CONNECTION_ERROR:
            return SSL_CONNECTION_ERROR;
        case H::RESPONSE_TOO_LARGE_ERROR:
            return RESPONSE_TOO_LARGE;
        default:
            return UNKNOWN_ERROR;
    }
}

EdgeHttpAdapter::Result EdgeHttpAdapter::execute(const oxl::edge::HttpClientRequest& request,
                                                 oxl::edge::HttpClientResponse& response) {
    try {
        auto http = client();
        auto httpRequest = std::make_shared<oxl::http::Request>(request.url);
        auto options = httpRequest->getOptions();
        options->method = oxl::http::HttpMethod::GET;
        options->followRedirects = false;
        options->connectionTimeout = CONNECTION_TIMEOUT_MS;
        options->transferTimeout = TRANSFER_TIMEOUT_MS;
        options->maxResponseBodySize = maxResponseBodySize_;
        options->credentials =
            std::make_shared<oxl::edge::Credentials>(request.username, request.password, request.oauthToken);
        options->authType = request.oauthToken.empty() ? oxl::http::AuthenticationType::BASIC
                                                       : oxl::http::AuthenticationType::BEARER_TOKEN;
        if (!request.xAuthCookie.isEmpty()) {
            options->cookies.push_back(request.xAuthCookie);
        }
        options->headers->emplace_back("User-Agent", CLIENT_IDENTIFIER);

        oxl::http::Response httpResponse;
        const oxl::http::HttpClientResult::Result result = http->execute(httpRequest, httpResponse);
        OXL_LOG_DEBUG(logger(), "Edge configuration transfer ended with " << result << ", HTTP status "
                                                                          << httpResponse.responseCode);

        response.httpCode =
            httpResponse.responseCode > 0 ? static_cast<unsigned int>(httpResponse.responseCode) : 0;
        response.body = httpResponse.getBodyAsString();
        // Counted from the answer's own Set-Cookie headers: the cookie engine also holds the cookie sent
        // along, which the edge may set again unchanged, or clear to end the session.
        response.cookies = cookiesSetBy(httpResponse, request.url);
        return mapResult(result);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Edge configuration transfer failed unexpectedly: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "Edge configuration transfer failed unexpectedly");
    }
    return INTERNAL_ERROR;
}

}  // namespace oxl::netutils::adapters

// Rewrites requests for internal servers so that they travel through an HTTP edge server: the internal
// target goes Base64url-encoded into the first path segment (the tokenized base URL), and cookies the
// internal server set are rewritten for the edge host. Reads the edge configuration and domain from the
// global edge state. One process-wide instance (getInstance()); safe from any thread.
#pragma once

#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "oxl/common/Cookie.h"
#include "oxl/edge/Credentials.h"
#include "oxl/edge/EdgeServiceLocation.h"

namespace oxl::edge {

class EdgeUtils {
  public:
    struct TransformHttpUrlResult {
        enum Result : int {
            SUCCESS = 0,
            EDGE_CONFIG_UNAVAILABLE = 1,
            // No HTTP edge server, or the one asked for is not in the configuration.
            HTTP_EDGE_SERVER_UNAVAILABLE = 2,
            EDGE_DOMAIN_NOT_SET = 3,
            // The URL is empty, or its protocol or host is.
            MALFORMED_REQUEST = 4,
            EDGE_AUTHENTICATION_FAILED = 5,
            EDGE_SSL_CONNECTION_ERROR = 6,
        };

        TransformHttpUrlResult(const std::deque<std::string>& urls,
                               const std::string& tokenizedBaseUrlEncoded, Result result)
            : urls(urls), tokenizedBaseUrlEncoded(tokenizedBaseUrlEncoded), result(result) {}
        TransformHttpUrlResult(const std::deque<std::string>& urls, Result result)
            : urls(urls), result(result) {}

        // One URL per HTTP edge server, the first to try first.
        std::deque<std::string> urls;
        std::string tokenizedBaseUrlEncoded;
        Result result;
    };
    using Result = TransformHttpUrlResult::Result;

    virtual ~EdgeUtils();

    // The URL rewritten for one given HTTP edge server of the configuration.
    virtual TransformHttpUrlResult transformHttpUrl(const std::string& url,
                                                    const EdgeServiceLocation& edgeServer) = 0;
    // The URL rewritten for every HTTP edge server, in configuration order (the failover list).
    virtual TransformHttpUrlResult transformHttpUrl(const std::string& url) = 0;
    // Appends to `outCookies`, per transformed URL, a copy of each cookie of `cookies` rewritten for that
    // edge host (domain of the request's host replaced, path prefixed with the tokenized base URL); cookies
    // the rewriting leaves unchanged are not copied. Nothing is appended on failure.
    virtual Result transformHttpCookies(const std::string& requestUrl,
                                        const std::vector<oxl::common::Cookie>& cookies,
                                        const TransformHttpUrlResult& transformResult,
                                        std::vector<oxl::common::Cookie>& outCookies) = 0;
    // Removes the cookies whose path starts with the tokenized base URL of `url`.
    virtual Result removeTransformedCookies(std::vector<oxl::common::Cookie>& cookies,
                                            const std::string& url) = 0;
    // The cookies of the held edge configuration (the session cookie among them); empty when none is held
    // yet (a request for one is then queued).
    virtual std::vector<oxl::common::Cookie> getHttpCookies() = 0;
    // The edge session's credentials; null when none are set.
    virtual std::shared_ptr<Credentials> getCredentials() = 0;
    // The client identifier the edge sees as User-Agent.
    virtual std::string getUserAgent() const = 0;
    // Base64url of "<edge domain>/<scheme>/<host>[/<port>]".
    virtual Result buildTokenizedBaseUrlEncoded(const std::string& url, std::string& out) = 0;

    // The process-wide instance (an EdgeUtilsImpl unless replaced).
    static std::shared_ptr<EdgeUtils>& getInstance();
};

std::ostream& operator<<(std::ostream& os, EdgeUtils::TransformHttpUrlResult::Result result);

}  // namespace oxl::edge

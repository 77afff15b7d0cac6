#include "oxl/netutils/adapters/EdgeHttpAdapter.h"

#include <ctime>
#include <exception>

#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/edge/Credentials.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/Request.h"
#include "oxl/http/Response.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"

namespace oxl::netutils::adapters {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils.adapters");
    return l;
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
        response.cookies.clear();
        const long now = static_cast<long>(std::time(nullptr));
        for (const auto& cookie : httpResponse.cookies) {
            // The cookie engine also holds the cookie sent along, and keeps a cleared cookie with a past
            // expiry; neither was set by this answer.
            const long expiry = cookie.getExpirationDate();
            if (cookie == request.xAuthCookie || (expiry != 0 && expiry <= now)) {
                continue;
            }
            response.cookies.push_back(cookie);
        }
        return mapResult(result);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Edge configuration transfer failed unexpectedly: " << e.what());
    } catch (...) {
        OXL_LOG_ERROR(logger(), "Edge configuration transfer failed unexpectedly");
    }
    return INTERNAL_ERROR;
}

}  // namespace oxl::netutils::adapters

// The TLS hook: called by libcurl for every new TLS connection of a transfer, it puts the acceptable
// protocol versions on the context and hands certificate verification to the library's own verifier, with
// the identities the connection is checked against.
#include <openssl/ssl.h>

#include <exception>

#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/OpenSSLOptions.h"
#include "oxl/http/SslUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}
}  // namespace

CURLcode CurlHttpUtils::curlSSLCallback(CURL* handle, void* sslCtx, void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    auto* ctx = static_cast<SSL_CTX*>(sslCtx);
    if (requestData == nullptr || ctx == nullptr) {
        OXL_LOG_ERROR(logger(), "The TLS hook got no request data or no TLS context");
        return CURLE_SSL_CONNECT_ERROR;
    }
    if (SSL_CTX_get_verify_mode(ctx) != SSL_VERIFY_NONE) {
        // Peer verification is off for the server (TransferOptions::tls) and on for an HTTPS proxy, so this
        // is the proxy's handshake: libcurl verifies the proxy's certificate and name itself.
        return CURLE_OK;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    try {
        auto options = requestData->getOptions();
        const long acceptable = options ? options->acceptableTlsProtocols : AcceptableTlsProtocols::ALL;
        if (!OpenSSLOptions::apply(ctx, OpenSSLOptions::getOptions(acceptable))) {
            return CURLE_SSL_CONNECT_ERROR;
        }

        char* url = nullptr;
        if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || url == nullptr) {
            OXL_LOG_ERROR(logger(), "Failed to get last url from Curl");
        }
        const std::string host = url != nullptr ? HttpUtils::extractHostFromHttpUrl(url) : std::string();
        CertIdentity& identity = requestData->certIdentity();
        if (host.empty()) {
            OXL_LOG_ERROR(logger(), "fqdn not set");
        } else {
            OXL_LOG_DEBUG(logger(), "fqdn :" << host);
            if (identity.identifierToDisplay.empty()) {
                identity.identifierToDisplay = host;
                identity.identifierDerived = true;
            }
            if (identity.serverFqdn.empty()) {
                identity.serverFqdn = host;
                if (identity.referenceIdentifiers.empty()) {
                    identity.referencesDerived = true;
                }
            }
        }
        SSL_CTX_set_cert_verify_callback(ctx, &SslUtils::verifyCb, &identity);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "The TLS hook failed: " << e.what());
        return CURLE_SSL_CONNECT_ERROR;
    }
    return CURLE_OK;
}

}  // namespace oxl::http

#include "http/HttpsProxyOptions.h"

#include <strings.h>

#include <cstdlib>

#include "oxl/cert/platform/PlatformCertVerifier.h"

namespace oxl::http::detail {

bool isHttpsProxy(const std::string& server) {
    return server.size() > 8 && ::strncasecmp(server.c_str(), "https://", 8) == 0;
}

CURLcode applyHttpsProxyTls(CURL* handle) {
    CURLcode rc = curl_easy_setopt(handle, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    if (rc == CURLE_OK) {
        rc = curl_easy_setopt(handle, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    }
    const std::string trustFile = oxl::cert::PlatformCertVerifier::getDefaultTrustSettings().trustFile;
    const char* envFile = std::getenv("SSL_CERT_FILE");
    const char* envDir = std::getenv("SSL_CERT_DIR");
    if (rc == CURLE_OK && !trustFile.empty()) {
        // The host's trust file replaces the system store, as it does for the platform verifier.
        rc = curl_easy_setopt(handle, CURLOPT_PROXY_CAINFO, trustFile.c_str());
        if (rc == CURLE_OK) {
            rc = curl_easy_setopt(handle, CURLOPT_PROXY_CAPATH, static_cast<char*>(nullptr));
        }
        return rc;
    }
    if (rc == CURLE_OK && envFile != nullptr && *envFile != '\0') {
        rc = curl_easy_setopt(handle, CURLOPT_PROXY_CAINFO, envFile);
    }
    if (rc == CURLE_OK && envDir != nullptr && *envDir != '\0') {
        rc = curl_easy_setopt(handle, CURLOPT_PROXY_CAPATH, envDir);
    }
    return rc;
}

}  // namespace oxl::http::detail

// libcurl settings for a proxy that is spoken to over TLS ("https://host:port").
#pragma once

#include <curl/curl.h>

#include <string>

namespace oxl::http::detail {

// True when the proxy entry names the https scheme (in any case).
bool isHttpsProxy(const std::string& server);

// The proxy's own certificate is verified by libcurl, peer and host name, against the platform verifier's
// trust file when the host has set one, else against the system store as OpenSSL finds it (SSL_CERT_FILE and
// SSL_CERT_DIR honoured). The server's certificate behind the proxy is still judged by the TLS hook.
CURLcode applyHttpsProxyTls(CURL* handle);

}  // namespace oxl::http::detail

// Turns one HttpRequestData into a configured libcurl easy handle (method and body, callbacks,
// authentication, proxy, time-outs, TLS hook, headers, cookies) and reads status, addresses and cookies
// back after the transfer. All functions are static and report failures as false with one log line.
// The configuration runs as named option steps (src/http/TransferOptions*.cpp); the trace log and every
// redaction rule of transfer log lines live in src/http/CurlTraceLog.cpp, the TLS hook in
// src/http/CurlTlsHook.cpp, the read-back in src/http/TransferReadBack.cpp.
#pragma once

#include <curl/curl.h>

#include <string>

#include "oxl/http/HttpHeaders.h"
#include "oxl/http/HttpRequestData.h"

namespace oxl::http {

// The transfer's data callbacks, supplied by the client that runs the transfer. A null member is not
// installed, except `write`: without one the body is appended to the response.
//   write    -> CURLOPT_WRITEFUNCTION,    CURLOPT_WRITEDATA    = HttpRequestData*
//   header   -> CURLOPT_HEADERFUNCTION,   CURLOPT_HEADERDATA   = HttpRequestData*
//   progress -> CURLOPT_XFERINFOFUNCTION, CURLOPT_XFERINFODATA = HttpRequestData* (with CURLOPT_NOPROGRESS
//               0; with or without a listener, since it notices cancellations)
//   read     -> CURLOPT_READFUNCTION,     CURLOPT_READDATA     = RequestWrapper* (uploads from a file)
struct TransferCallbacks {
    curl_write_callback write = nullptr;
    curl_write_callback header = nullptr;
    curl_xferinfo_callback progress = nullptr;
    curl_read_callback read = nullptr;
};

class CurlHttpUtils {
  public:
    CurlHttpUtils() = delete;

    // Resets the borrowed handle and configures it from the request. The request data must stay alive and
    // at the same address until the transfer is over (libcurl and the TLS hook point into it). False when
    // the request data holds no connection, an upload/download file cannot be opened, or libcurl refuses
    // an option.
    static bool configureEasyRequest(HttpRequestData& requestData, const TransferCallbacks& callbacks = {});

    // Sets the options URL (percent-encoded, stored back) on the borrowed handle, e.g. after a failover.
    static bool setUrl(HttpRequestData& requestData);
    // Replaces the request headers on the handle; the list is kept in the request data.
    static bool setHeaders(HttpRequestData& requestData, const HttpHeaders& headers);
    static bool setHeadersFromHttpRequestData(HttpRequestData& requestData);
    // Hands the options' cookies to the cookie engine (which must be on).
    static bool setCookies(HttpRequestData& requestData);
    // Replaces the response's cookies with the engine's cookie list.
    static bool storeCookies(HttpRequestData& requestData);
    // Adds "Authorization: Bearer <token>" from the credentials to the request headers.
    static bool addOauthToken(HttpRequestData& requestData);
    // Sets CURLOPT_USERPWD again from the credentials.
    static bool resetCurlPassword(HttpRequestData& requestData);
    // Builds the multipart body from the options' parts and sets it on the handle.
    static bool configureMultiformRequest(HttpRequestData& requestData);

    // CURLINFO_RESPONSE_CODE into the response.
    static bool getResponseCode(HttpRequestData* requestData);
    // Primary (server) and local address of the connection into the response.
    static bool getIpAddress(HttpRequestData& requestData);

    // True (and an error log naming the option) when code is not CURLE_OK.
    static bool isSetOptError(CURLcode code, const std::string& optionName,
                              const HttpRequestData* requestData = nullptr);
    // Only 200 counts.
    static bool isResponseSuccessful(long responseCode) { return responseCode == 200; }
    // Scheme "file", any case.
    static bool isFileProtocol(const std::string& url);
    // The URL with its path (and query) replaced by "/[...]".
    static std::string loggableUrl(const std::string& url);
    static std::string loggableUrl(const Request& request);
    // The file path with its directories replaced by "[...]".
    static std::string loggableFilePath(const RequestWrapper& wrapper);
    static std::string loggableFilePath(const std::string& path);
    // A request header line for the log: the value is "Redacted" unless the name is on the allow-list.
    static std::string loggableHeaderLine(const std::string& line);
    // A response header for the log, "Name: value": the value is "Redacted by client" unless the name is
    // on the response allow-list.
    static std::string loggableResponseHeader(const HttpHeader& header);
    // A header line libcurl traces: a status line as it is, a request line without its target, a header
    // line by the allow-list of its direction; anything else is hidden.
    static std::string loggableTracedHeaderLine(const std::string& line, bool incoming);
    // libcurl's informational text with URLs in their loggable form and cookie values, user names and
    // header values off the request allow-list hidden.
    static std::string loggableInfoText(const std::string& text);

    // Helpers for the trace log: "[::1]" -> "::1"; the address in "  Trying 127.0.0.1:8080..."; the version
    // and cipher suite in "SSL connection using TLSv1.3 / TLS_AES_256_GCM_SHA384".
    static std::string normalizeIp(const std::string& ip);
    static std::string getResolvedIp(const std::string& traceLine);
    static std::string getSslVersion(const std::string& traceLine);
    static std::string getCipherSuite(const std::string& traceLine);

    // Logs libcurl's phase timers for the transfer ("name lookup", "connect", ... "total", "redirect").
    static void logOperationTiming(HttpRequestData& requestData);

    // The libcurl trace callback (CURLOPT_DEBUGFUNCTION, user data HttpRequestData*).
    static int traceCallback(CURL* handle, curl_infotype type, char* data, size_t size, void* requestData);
    // The TLS hook (CURLOPT_SSL_CTX_FUNCTION, user data HttpRequestData*).
    static CURLcode curlSSLCallback(CURL* handle, void* sslCtx, void* requestData);
};

}  // namespace oxl::http

#include "oxl/http/CurlHttpUtils.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>

#include "http/HttpsProxyOptions.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/OpenSSLOptions.h"
#include "oxl/http/ProxyBypassReader.h"
#include "oxl/http/SslUtils.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

constexpr long DEFAULT_CONNECTION_TIMEOUT_MS = 60000;
constexpr long DEFAULT_LOW_SPEED_TIME_S = 10;

CURL* handleOf(const HttpRequestData& requestData) {
    const auto& connection = requestData.getCurlConnection();
    return connection ? connection->getHandle() : nullptr;
}

// Used when the client supplies no write callback, so that libcurl never writes a body to stdout.
size_t appendToBody(char* data, size_t size, size_t count, void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr) {
        return 0;
    }
    const size_t bytes = size * count;
    auto& body = requestData->getResponse().body;
    if (!body) {
        body = Response::makeBody();
    }
    body->insert(body->end(), data, data + bytes);
    return bytes;
}

// -1 when the file cannot be opened.
curl_off_t fileSize(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        OXL_LOG_ERROR(logger(), "Unable to open the file in order to get the size.");
        return -1;
    }
    curl_off_t size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = static_cast<curl_off_t>(std::ftell(file));
    }
    std::fclose(file);
    OXL_LOG_DEBUG(logger(), "file size:" << size);
    return size;
}

bool testOpenForRead(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

// Opens for appending so that an existing file is not truncated; a file created only by the test is removed.
bool testOpenForWrite(const std::string& path) {
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    if (!existed) {
        std::remove(path.c_str());
    }
    return true;
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

void logHeaderBlock(const HttpRequestData& requestData, const char* direction, const char* data,
                    size_t size) {
    std::istringstream lines(std::string(data, size));
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::string shown;
        if (first && direction[0] == '>') {
            // Request line: the path may carry tokens.
            const auto firstSpace = line.find(' ');
            const auto lastSpace = line.rfind(' ');
            shown = (firstSpace != std::string::npos && lastSpace > firstSpace)
                        ? line.substr(0, firstSpace) + " /[...]" + line.substr(lastSpace)
                        : line;
        } else if (first) {
            shown = line;  // status line
        } else {
            shown = CurlHttpUtils::loggableHeaderLine(line);
        }
        first = false;
        OXL_LOG_TRACE(logger(),
                      "Request " << requestData.formattedRequestID() << " " << direction << " " << shown);
    }
}
}  // namespace

#define OXL_SET_OR_FAIL(handle, option, value)                                                 \
    do {                                                                                       \
        if (isSetOptError(curl_easy_setopt((handle), option, value), #option, &requestData)) { \
            return false;                                                                      \
        }                                                                                      \
    } while (false)

bool CurlHttpUtils::isSetOptError(CURLcode code, const std::string& optionName,
                                  const HttpRequestData* requestData) {
    if (code == CURLE_OK) {
        return false;
    }
    OXL_LOG_ERROR(logger(),
                  "Failed to set option :" << optionName << " (" << curl_easy_strerror(code) << ")"
                                           << (requestData ? " for request " : "")
                                           << (requestData ? requestData->formattedRequestID() : ""));
    return true;
}

bool CurlHttpUtils::configureEasyRequest(HttpRequestData& requestData, const TransferCallbacks& callbacks) {
    auto options = requestData.getOptions();
    auto request = requestData.getRequest();
    if (!options || !request) {
        OXL_LOG_ERROR(logger(),
                      "Unable to configure the easy request. The provided HttpRequestData has no request");
        return false;
    }
    OXL_LOG_DEBUG(logger(), "Configuring request " << loggableUrl(options->url) << " method "
                                                   << options->method << " request "
                                                   << requestData.formattedRequestID());
    CURL* handle = handleOf(requestData);
    if (handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to configure the easy request. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }

    // Nothing from an earlier transfer survives; only then may the buffers it pointed into be released.
    // libcurl's reset forgets the list of cookie files without freeing it; clear it first.
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
    curl_easy_reset(handle);
    requestData.form_.reset();
    requestData.headers_ = CurlHeaders();
    oxl::secureWipe(requestData.requestBody_);
    requestData.getCurlConnection()->clearErrorBuffer();
    requestData.configuredAt_ = std::chrono::steady_clock::now();
    requestData.pinning_ = NamePinning::instance().applyTo(handle);
    if (!requestData.pinning_.ok()) {
        isSetOptError(CURLE_BAD_FUNCTION_ARGUMENT, "CURLOPT_RESOLVE", &requestData);
        return false;
    }

    // Headers.
    if (!setHeadersFromHttpRequestData(requestData)) {
        return false;
    }
    if (callbacks.header != nullptr) {
        OXL_SET_OR_FAIL(handle, CURLOPT_HEADERFUNCTION, callbacks.header);
        OXL_SET_OR_FAIL(handle, CURLOPT_HEADERDATA, &requestData);
    }

    // URL.
    if (!setUrl(requestData)) {
        return false;
    }

    // Files.
    RequestWrapper& wrapper = requestData.getWrapper();
    const auto operation = wrapper.getOperation();
    if (operation == HTTPFileOperation::UPLOAD) {
        if (!testOpenForRead(wrapper.getFilePath())) {
            OXL_LOG_ERROR(logger(), "Unable to open file to upload -" << loggableFilePath(wrapper));
            return false;
        }
        OXL_LOG_DEBUG(logger(), "Successfully test-opened file with read option");
        if (callbacks.read == nullptr) {
            OXL_LOG_ERROR(logger(),
                          "No read callback for the upload of request " << requestData.formattedRequestID());
            return false;
        }
    } else if (operation == HTTPFileOperation::DOWNLOAD) {
        if (!testOpenForWrite(wrapper.getFilePath())) {
            OXL_LOG_ERROR(logger(), "Unable to open file to download -" << loggableFilePath(wrapper));
            return false;
        }
        OXL_LOG_DEBUG(logger(), "Successfully test-opened file with write option");
    }

    // Method and body.
    const bool upload = operation == HTTPFileOperation::UPLOAD;
    const bool multiform = !options->multiformParts.empty();
    auto setBody = [&]() -> bool {
        requestData.requestBody_ = options->body.getString();
        OXL_SET_OR_FAIL(handle, CURLOPT_POSTFIELDS, requestData.requestBody_.c_str());
        OXL_SET_OR_FAIL(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                        static_cast<curl_off_t>(requestData.requestBody_.size()));
        return true;
    };
    switch (options->method) {
        case HttpMethod::POST:
            OXL_SET_OR_FAIL(handle, CURLOPT_POST, 1L);
            if (upload) {
                const curl_off_t size = fileSize(wrapper.getFilePath());
                if (size < 0) {
                    return false;
                }
                OXL_SET_OR_FAIL(handle, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
                OXL_SET_OR_FAIL(handle, CURLOPT_READFUNCTION, callbacks.read);
                OXL_SET_OR_FAIL(handle, CURLOPT_READDATA, &wrapper);
                OXL_SET_OR_FAIL(handle, CURLOPT_POSTFIELDSIZE_LARGE, size);
                OXL_SET_OR_FAIL(handle, CURLOPT_INFILESIZE_LARGE, size);
            } else if (!multiform && !setBody()) {
                return false;
            }
            break;
        case HttpMethod::PUT:
            if (upload) {
                const curl_off_t size = fileSize(wrapper.getFilePath());
                if (size < 0) {
                    return false;
                }
                OXL_SET_OR_FAIL(handle, CURLOPT_UPLOAD, 1L);
                OXL_SET_OR_FAIL(handle, CURLOPT_READFUNCTION, callbacks.read);
                OXL_SET_OR_FAIL(handle, CURLOPT_READDATA, &wrapper);
                OXL_SET_OR_FAIL(handle, CURLOPT_INFILESIZE_LARGE, size);
            } else {
                OXL_SET_OR_FAIL(handle, CURLOPT_CUSTOMREQUEST, "PUT");
                if (!setBody()) {
                    return false;
                }
            }
            break;
        case HttpMethod::DELETE:
            OXL_SET_OR_FAIL(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
            break;
        case HttpMethod::OPTIONS:
            OXL_SET_OR_FAIL(handle, CURLOPT_CUSTOMREQUEST, "OPTIONS");
            break;
        case HttpMethod::GET:
        default:
            OXL_SET_OR_FAIL(handle, CURLOPT_HTTPGET, 1L);
            break;
    }

    // Body sink.
    OXL_SET_OR_FAIL(handle, CURLOPT_WRITEFUNCTION,
                    callbacks.write != nullptr ? callbacks.write : &appendToBody);
    OXL_SET_OR_FAIL(handle, CURLOPT_WRITEDATA, &requestData);

    // Authentication.
    const auto& credentials = options->credentials;
    switch (options->authType.getValue()) {
        case AuthenticationType::BASIC:
            OXL_SET_OR_FAIL(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            if (credentials && !resetCurlPassword(requestData)) {
                return false;
            }
            break;
        case AuthenticationType::BEARER_TOKEN:
            if (credentials && !addOauthToken(requestData)) {
                return false;
            }
            break;
        case AuthenticationType::NTLM:
            OXL_SET_OR_FAIL(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NTLM));
            if (credentials) {
                if (!resetCurlPassword(requestData)) {
                    return false;
                }
            } else {
                // An empty user name asks for the logged-on user's own credentials.
                OXL_SET_OR_FAIL(handle, CURLOPT_USERNAME, "");
            }
            break;
        default:
            break;
    }

    // Proxy. An explicit empty proxy keeps libcurl from taking one from the environment on its own.
    bool proxyConfigured = false;
    std::shared_ptr<Proxy> proxy = request->getProxy();
    if (proxy && !proxy->getProxyServer().empty()) {
        OXL_LOG_DEBUG(logger(), "Proxy set, comparing the host to the proxy bypass list");
        ProxyBypassReader bypass(proxy->getBypassList());
        if (bypass.isProxyRequired(HttpUtils::extractHostFromHttpUrl(options->url))) {
            proxyConfigured = true;
            const std::string& server = proxy->getProxyServer();
            OXL_LOG_INFO(logger(), "Configuring proxy data for request " << requestData.formattedRequestID()
                                                                         << " " << proxy->serialize());
            OXL_SET_OR_FAIL(handle, CURLOPT_PROXY, server.c_str());
            // Request headers may carry tokens: they go to the server only, never in a CONNECT.
            OXL_SET_OR_FAIL(handle, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
            OXL_SET_OR_FAIL(handle, CURLOPT_PROXYHEADER, static_cast<curl_slist*>(nullptr));
            std::string withScheme = server;
            if (server.find("://") == std::string::npos) {
                withScheme = "http://";
                withScheme += server;
            }
            const bool httpsProxy = detail::isHttpsProxy(server);
            if (HttpUtils::extractPortFromHttpUrl(withScheme) == 0) {
                OXL_LOG_DEBUG(logger(), " Use default proxy port " << (httpsProxy ? 443 : 80) << ".");
                OXL_SET_OR_FAIL(handle, CURLOPT_PROXYPORT, httpsProxy ? 443L : 80L);
            }
            long proxyType = CURLPROXY_HTTP;
            switch (proxy->getProxyType()) {
                case ProxyType::HTTP:
                    proxyType = CURLPROXY_HTTP;
                    break;
                case ProxyType::HTTP_1_0:
                    proxyType = CURLPROXY_HTTP_1_0;
                    break;
                case ProxyType::SOCKS4:
                    proxyType = CURLPROXY_SOCKS4;
                    break;
                case ProxyType::SOCKS4A:
                    proxyType = CURLPROXY_SOCKS4A;
                    break;
                case ProxyType::SOCKS5:
                    proxyType = CURLPROXY_SOCKS5;
                    break;
                case ProxyType::SOCKS5_HOSTNAME:
                    proxyType = CURLPROXY_SOCKS5_HOSTNAME;
                    break;
            }
            if (httpsProxy && (proxyType == CURLPROXY_HTTP || proxyType == CURLPROXY_HTTP_1_0)) {
                proxyType = CURLPROXY_HTTPS;
            }
            OXL_SET_OR_FAIL(handle, CURLOPT_PROXYTYPE, proxyType);
            if (proxyType == CURLPROXY_HTTPS &&
                isSetOptError(detail::applyHttpsProxyTls(handle), "proxy TLS options", &requestData)) {
                return false;
            }
            OXL_LOG_DEBUG(logger(), " Set authentication.");
            // Without a user name nothing is set: empty credentials would be offered to a challenging proxy.
            if (!proxy->getUsername().empty()) {
                OXL_SET_OR_FAIL(handle, CURLOPT_PROXYUSERNAME, proxy->getUsername().c_str());
                oxl::WipedString password =
                    proxy->getPassword() ? proxy->getPassword()->getWiped() : oxl::WipedString();
                OXL_SET_OR_FAIL(handle, CURLOPT_PROXYPASSWORD, password.c_str());
            }
            switch (proxy->getAuthenticationType()) {
                case ProxyAuthentication::ANY:
                    OXL_SET_OR_FAIL(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
                    break;
                case ProxyAuthentication::BASIC:
                    OXL_SET_OR_FAIL(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
                    break;
                case ProxyAuthentication::DIGEST:
                    OXL_SET_OR_FAIL(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_DIGEST));
                    break;
                case ProxyAuthentication::NTLM:
                    OXL_SET_OR_FAIL(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NTLM));
                    break;
            }
            // The bypass decision above is the only one; libcurl must not consult no_proxy on its own.
            OXL_SET_OR_FAIL(handle, CURLOPT_NOPROXY, "");
        }
    }
    if (!proxyConfigured) {
        OXL_SET_OR_FAIL(handle, CURLOPT_PROXY, "");
    }

    // Diagnostics.
    OXL_SET_OR_FAIL(handle, CURLOPT_ERRORBUFFER, requestData.getCurlConnection()->getErrorBuffer());
    OXL_SET_OR_FAIL(handle, CURLOPT_DEBUGFUNCTION, &CurlHttpUtils::traceCallback);
    OXL_SET_OR_FAIL(handle, CURLOPT_DEBUGDATA, &requestData);

    // Multipart body.
    if (multiform && !configureMultiformRequest(requestData)) {
        return false;
    }

    if (options->followRedirects) {
        OXL_SET_OR_FAIL(handle, CURLOPT_FOLLOWLOCATION, 1L);
    }
    if (options->forbidReuse) {
        OXL_LOG_INFO(logger(), "Setting curl option CURLOPT_FORBID_REUSE to true");
        OXL_SET_OR_FAIL(handle, CURLOPT_FORBID_REUSE, 1L);
    }

    if (request->getListener() && callbacks.progress != nullptr) {
        OXL_SET_OR_FAIL(handle, CURLOPT_NOPROGRESS, 0L);
        OXL_SET_OR_FAIL(handle, CURLOPT_XFERINFOFUNCTION, callbacks.progress);
        OXL_SET_OR_FAIL(handle, CURLOPT_XFERINFODATA, &requestData);
    }

    // Everything libcurl has to say goes to the trace callback.
    OXL_SET_OR_FAIL(handle, CURLOPT_VERBOSE, 1L);

    if (wrapper.isFileTransfer()) {
        const long lowSpeedTime =
            options->lowSpeedTime > 0 ? options->lowSpeedTime : DEFAULT_LOW_SPEED_TIME_S;
        OXL_LOG_DEBUG(logger(), "Setting low transfer speed timeout value in seconds to :" << lowSpeedTime);
        OXL_SET_OR_FAIL(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        OXL_SET_OR_FAIL(handle, CURLOPT_LOW_SPEED_TIME, lowSpeedTime);
    }

    // TLS: every new connection is verified by the library's own verifier through the TLS hook; no session
    // is resumed, and host names are checked by the verifier, not by libcurl.
    OXL_SET_OR_FAIL(handle, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    OXL_SET_OR_FAIL(handle, CURLOPT_SSL_VERIFYHOST, 0L);
    // The hook turns peer verification on for the server's handshake; left on here, it would be on for an
    // HTTPS proxy's handshake too, and the hook could not tell the two apart.
    OXL_SET_OR_FAIL(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    OXL_SET_OR_FAIL(handle, CURLOPT_SSL_CTX_FUNCTION, &CurlHttpUtils::curlSSLCallback);
    OXL_SET_OR_FAIL(handle, CURLOPT_SSL_CTX_DATA, &requestData);

    // Cookies: the engine on without a file, emptied of what an earlier transfer on this handle left.
    OXL_SET_OR_FAIL(handle, CURLOPT_COOKIEFILE, "");
    OXL_SET_OR_FAIL(handle, CURLOPT_COOKIELIST, "ALL");
    if (!setCookies(requestData)) {
        return false;
    }

    OXL_SET_OR_FAIL(handle, CURLOPT_NOSIGNAL, 1L);

    const long connectTimeout =
        options->connectionTimeout > 0 ? options->connectionTimeout : DEFAULT_CONNECTION_TIMEOUT_MS;
    const long transferTimeout = options->transferTimeout > 0 ? options->transferTimeout : 0;
    OXL_SET_OR_FAIL(handle, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
    OXL_SET_OR_FAIL(handle, CURLOPT_TIMEOUT_MS, transferTimeout);
    OXL_LOG_DEBUG(logger(), "Request " << requestData.formattedRequestID() << " configured with:"
                                       << " connection timeout " << connectTimeout << " msec"
                                       << ", transfer timeout " << transferTimeout << " msec");
    return true;
}

bool CurlHttpUtils::setUrl(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    CURL* handle = handleOf(requestData);
    if (!options || handle == nullptr) {
        OXL_LOG_ERROR(
            logger(),
            "Unable to set the URL. The provided HttpRequestData does not own an EasyCURLConnection");
        return false;
    }
    options->url = HttpUtils::encodeForHttp(options->url);
    OXL_LOG_DEBUG(logger(), "Encoded URL:" << loggableUrl(options->url));
    OXL_SET_OR_FAIL(handle, CURLOPT_URL, options->url.c_str());
    return true;
}

bool CurlHttpUtils::setHeaders(HttpRequestData& requestData, const HttpHeaders& headers) {
    CURL* handle = handleOf(requestData);
    if (handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to set the headers. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    CurlHeaders list(headers);
    if (!list.ok()) {
        OXL_LOG_ERROR(logger(),
                      "Unable to build the header list for request " << requestData.formattedRequestID());
        return false;
    }
    // The old list stays alive until libcurl points at the new one.
    OXL_SET_OR_FAIL(handle, CURLOPT_HTTPHEADER, list.get());
    requestData.headers_ = std::move(list);
    return true;
}

bool CurlHttpUtils::setHeadersFromHttpRequestData(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    static const HttpHeaders NONE;
    return setHeaders(requestData, (options && options->headers) ? *options->headers : NONE);
}

bool CurlHttpUtils::setCookies(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    CURL* handle = handleOf(requestData);
    if (!options || handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to set the cookies. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    if (options->cookies.empty()) {
        return true;
    }
    std::string names;
    for (const auto& cookie : options->cookies) {
        std::string raw = cookie.getRawFormat();
        const CURLcode code = curl_easy_setopt(handle, CURLOPT_COOKIELIST, raw.c_str());
        oxl::secureWipe(raw);
        if (isSetOptError(code, "CURLOPT_COOKIELIST", &requestData)) {
            return false;
        }
        names += " ";
        names += cookie.getName();
    }
    OXL_LOG_DEBUG(logger(), "Request " << requestData.formattedRequestID() << " cookies:" << names);
    return true;
}

bool CurlHttpUtils::storeCookies(HttpRequestData& requestData) {
    CURL* handle = handleOf(requestData);
    if (handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to store the cookies. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &list) != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "failed to get list of cookies");
        return false;
    }
    struct Holder {
        curl_slist* list;
        ~Holder() {
            for (curl_slist* entry = list; entry != nullptr; entry = entry->next) {
                if (entry->data != nullptr) {
                    OPENSSL_cleanse(entry->data, std::strlen(entry->data));
                }
            }
            curl_slist_free_all(list);
        }
    } holder{list};
    auto& cookies = requestData.getResponse().cookies;
    if (!cookies.empty()) {
        OXL_LOG_DEBUG(logger(), "removing " << cookies.size() << " previously stored cookies");
        cookies.clear();
    }
    for (curl_slist* entry = list; entry != nullptr; entry = entry->next) {
        if (entry->data != nullptr) {
            std::string line(entry->data);
            cookies.emplace_back(line);
            oxl::secureWipe(line);
        }
    }
    return true;
}

bool CurlHttpUtils::addOauthToken(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    if (!options || !options->credentials || options->credentials->token.empty()) {
        OXL_LOG_ERROR(logger(), "No OAuth token available for request " << requestData.formattedRequestID());
        return false;
    }
    HttpHeaders headers = options->headers ? *options->headers : HttpHeaders();
    {
        oxl::WipedString token = options->credentials->token.getWiped();
        std::string value;
        value.reserve(7 + token.size());
        value += "Bearer ";
        value += token.str();
        headers.emplace_back("Authorization", value);
        oxl::secureWipe(value);
    }
    const bool ok = setHeaders(requestData, headers);
    oxl::secureWipe(headers.back().second);
    return ok;
}

bool CurlHttpUtils::resetCurlPassword(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    CURL* handle = handleOf(requestData);
    if (!options || !options->credentials || handle == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to set the credentials for request " << requestData.formattedRequestID());
        return false;
    }
    std::string userPassword = options->credentials->username;
    {
        oxl::WipedString password = options->credentials->password.getWiped();
        userPassword += ":";
        userPassword += password.str();
    }
    const CURLcode code = curl_easy_setopt(handle, CURLOPT_USERPWD, userPassword.c_str());
    oxl::secureWipe(userPassword);
    return !isSetOptError(code, "CURLOPT_USERPWD", &requestData);
}

bool CurlHttpUtils::configureMultiformRequest(HttpRequestData& requestData) {
    auto options = requestData.getOptions();
    CURL* handle = handleOf(requestData);
    if (!options || handle == nullptr) {
        return false;
    }
    requestData.form_.reset(curl_mime_init(handle));
    if (!requestData.form_) {
        OXL_LOG_ERROR(logger(), "Fail to add multiform part - CURLcode:" << CURLE_OUT_OF_MEMORY);
        return false;
    }
    for (const auto& part : options->multiformParts) {
        if (!part) {
            continue;
        }
        curl_mimepart* mimePart = curl_mime_addpart(requestData.form_.get());
        CURLcode code =
            mimePart != nullptr ? curl_mime_name(mimePart, part->name.c_str()) : CURLE_OUT_OF_MEMORY;
        if (code == CURLE_OK) {
            switch (part->kind) {
                case MultiformPart::STRING:
                case MultiformPart::BUFFER: {
                    oxl::WipedString content = part->content.getWiped();
                    code = curl_mime_data(mimePart, content.str().data(), content.size());
                    if (code == CURLE_OK && part->kind == MultiformPart::BUFFER) {
                        code = curl_mime_filename(mimePart, part->name.c_str());
                    }
                    break;
                }
                case MultiformPart::FILE:
                    code = curl_mime_filedata(mimePart, part->filePath.c_str());
                    break;
            }
        }
        if (code == CURLE_OK && !part->contentType.empty()) {
            code = curl_mime_type(mimePart, part->contentType.c_str());
        }
        if (code == CURLE_OK && part->headers && !part->headers->empty()) {
            curl_slist* list = nullptr;
            for (const auto& [name, value] : *part->headers) {
                std::string line = name;
                line += ": ";
                line += value;
                curl_slist* extended = curl_slist_append(list, line.c_str());
                if (extended == nullptr) {
                    curl_slist_free_all(list);
                    list = nullptr;
                    code = CURLE_OUT_OF_MEMORY;
                    break;
                }
                list = extended;
            }
            if (code == CURLE_OK) {
                code = curl_mime_headers(mimePart, list, 1);
            }
        }
        if (code != CURLE_OK) {
            OXL_LOG_ERROR(logger(), "Fail to add multiform part - CURLcode:" << code);
            return false;
        }
    }
    OXL_SET_OR_FAIL(handle, CURLOPT_MIMEPOST, requestData.form_.get());
    return true;
}

bool CurlHttpUtils::getResponseCode(HttpRequestData* requestData) {
    if (requestData == nullptr || handleOf(*requestData) == nullptr) {
        OXL_LOG_ERROR(logger(),
                      "Unable to get the response code. The provided HttpRequestData does not own an "
                      "EasyCURLConnection");
        return false;
    }
    long code = 0;
    const CURLcode result = curl_easy_getinfo(handleOf(*requestData), CURLINFO_RESPONSE_CODE, &code);
    if (result != CURLE_OK) {
        OXL_LOG_ERROR(logger(), "Unable to get the response code:" << result << " for request "
                                                                   << requestData->formattedRequestID());
        return false;
    }
    requestData->getResponse().responseCode = static_cast<int>(code);
    return true;
}

bool CurlHttpUtils::getIpAddress(HttpRequestData& requestData) {
    CURL* handle = handleOf(requestData);
    if (handle == nullptr) {
        return false;
    }
    char* primary = nullptr;
    char* local = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &primary) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_LOCAL_IP, &local) != CURLE_OK || primary == nullptr ||
        local == nullptr) {
        return false;
    }
    auto& response = requestData.getResponse();
    response.destinationAddress = oxl::ip::IpAddress::createIpAddress(normalizeIp(primary));
    response.localAddress = oxl::ip::IpAddress::createIpAddress(normalizeIp(local));
    return !response.destinationAddress.isEmpty() && !response.localAddress.isEmpty();
}

bool CurlHttpUtils::isFileProtocol(const std::string& url) {
    return strcasecmp(HttpUtils::extractProtocolFromHttpUrl(url).c_str(), "file") == 0;
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

void CurlHttpUtils::logOperationTiming(HttpRequestData& requestData) {
    CURL* handle = handleOf(requestData);
    if (handle == nullptr) {
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

int CurlHttpUtils::traceCallback(CURL* /*handle*/, curl_infotype type, char* data, size_t size,
                                 void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    if (requestData == nullptr || data == nullptr) {
        return 0;
    }
    try {
        switch (type) {
            case CURLINFO_TEXT: {
                const std::string text = trimLineEnd(data, size);
                bool matched = false;
                for (const auto& phase : PHASES) {
                    if (text.find(phase.marker) != std::string::npos) {
                        matched = true;
                        OXL_LOG_DEBUG(logger(), "Request " << requestData->formattedRequestID() << phase.label
                                                           << text << "' after "
                                                           << msSince(requestData->configuredAt_) << " ms");
                        if (text.find("SSL connection using") != std::string::npos) {
                            OXL_LOG_DEBUG(logger(), "Request " << requestData->formattedRequestID()
                                                               << " TLS version '" << getSslVersion(text)
                                                               << "' cipher suite '" << getCipherSuite(text)
                                                               << "'");
                        }
                        break;
                    }
                }
                if (!matched) {
                    OXL_LOG_TRACE(logger(), "Request " << requestData->formattedRequestID() << " * " << text);
                }
                break;
            }
            case CURLINFO_HEADER_OUT:
                logHeaderBlock(*requestData, ">", data, size);
                break;
            case CURLINFO_HEADER_IN:
                logHeaderBlock(*requestData, "<", data, size);
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

CURLcode CurlHttpUtils::curlSSLCallback(CURL* handle, void* sslCtx, void* userData) {
    auto* requestData = static_cast<HttpRequestData*>(userData);
    auto* ctx = static_cast<SSL_CTX*>(sslCtx);
    if (requestData == nullptr || ctx == nullptr) {
        OXL_LOG_ERROR(logger(), "The TLS hook got no request data or no TLS context");
        return CURLE_SSL_CONNECT_ERROR;
    }
    if (SSL_CTX_get_verify_mode(ctx) != SSL_VERIFY_NONE) {
        // Peer verification is off for the server (configureEasyRequest) and on for an HTTPS proxy, so this
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

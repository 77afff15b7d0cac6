#include "oxl/http/HttpProxyConfigurationReader.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <exception>

#include "common/TextUtils.h"
#include "http/ProxyFallback.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/NamePinning.h"
#include "oxl/log/Log.h"

namespace oxl::http {

namespace {
using oxl::common::text::toLower;
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

constexpr const char* USER_AGENT = "Pelko Quillo";
constexpr long RESOLVE_TIMEOUT_MS = 2000;
constexpr long CONNECT_TIMEOUT_MS = 2000;
constexpr long SEND_TIMEOUT_MS = 3000;
constexpr long RECEIVE_TIMEOUT_MS = 3000;
// A PAC file is a small script; a larger body is not one.
constexpr std::size_t MAX_PAC_BYTES = 1024 * 1024;

std::string describe(const std::optional<std::string>& value, bool quoted) {
    if (!value) {
        return "<NotSet>";
    }
    return quoted ? "'" + *value + "'" : *value;
}

struct Body {
    std::string text;
    bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<Body*>(user);
    const size_t bytes = size * count;
    if (body->text.size() + bytes > MAX_PAC_BYTES) {
        body->tooLarge = true;
        return 0;
    }
    body->text.append(data, bytes);
    return bytes;
}
}  // namespace

// The libcurl handle that fetches the PAC file; opened for one automatic resolution.
class HttpProxyConfigurationReader::PacSession {
  public:
    PacSession() {
        OXL_LOG_DEBUG(logger(), "Opening PAC fetch session.");
        handle_ = curl_easy_init();
        if (handle_ == nullptr) {
            OXL_LOG_ERROR(logger(), "curl_easy_init() returned NULL handle.");
            return;
        }
        OXL_LOG_DEBUG(logger(), "PAC fetch session opened, setting timeouts");
        // libcurl's connect time-out includes the name look-up; send and receive become a stall limit
        // and, together, a cap on the whole fetch.
        const CURLcode rc[] = {
            curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, RESOLVE_TIMEOUT_MS + CONNECT_TIMEOUT_MS),
            curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS,
                             RESOLVE_TIMEOUT_MS + CONNECT_TIMEOUT_MS + SEND_TIMEOUT_MS + RECEIVE_TIMEOUT_MS),
            curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L),
            curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME,
                             std::max(SEND_TIMEOUT_MS, RECEIVE_TIMEOUT_MS) / 1000)};
        for (const CURLcode code : rc) {
            if (code != CURLE_OK) {
                OXL_LOG_ERROR(logger(), "Error setting timeout : " << curl_easy_strerror(code));
                break;
            }
        }
    }

    ~PacSession() {
        OXL_LOG_DEBUG(logger(), "closing PAC fetch session");
        if (handle_ == nullptr) {
            OXL_LOG_DEBUG(logger(), "curlHandle_ is null");
            return;
        }
        curl_easy_cleanup(handle_);
        OXL_LOG_DEBUG(logger(), "PAC fetch session closed");
    }

    PacSession(const PacSession&) = delete;
    PacSession& operator=(const PacSession&) = delete;

    bool fetch(const std::string& url, std::string& script, std::string& error) {
        if (handle_ == nullptr) {
            error = "no session";
            return false;
        }
        Body body;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        const CURLcode setup[] = {
            curl_easy_setopt(handle_, CURLOPT_URL, url.c_str()),
            curl_easy_setopt(handle_, CURLOPT_USERAGENT, USER_AGENT),
            // The PAC file is always fetched directly, whatever the proxy environment says.
            curl_easy_setopt(handle_, CURLOPT_PROXY, ""),
            curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https,file"),
            curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L),
            curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 5L),
            curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"),
            curl_easy_setopt(handle_, CURLOPT_FAILONERROR, 1L),
            curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L),
            curl_easy_setopt(handle_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MAX_PAC_BYTES)),
            curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, collect),
            curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body),
            curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer)};
        for (const CURLcode code : setup) {
            if (code != CURLE_OK) {
                error = std::string("configuring the fetch failed: ") + curl_easy_strerror(code);
                return false;
            }
        }
        const NamePinning::Applied pins = NamePinning::instance().applyTo(handle_);
        const CURLcode rc = curl_easy_perform(handle_);
        curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, nullptr);
        if (rc != CURLE_OK) {
            error = body.tooLarge ? std::string("the PAC file is larger than ") +
                                        std::to_string(MAX_PAC_BYTES) + " bytes"
                                  : std::string(curl_easy_strerror(rc)) +
                                        (errorBuffer[0] != '\0' ? std::string(" (") + errorBuffer + ")" : "");
            return false;
        }
        script = std::move(body.text);
        return true;
    }

  private:
    CURL* handle_ = nullptr;
};

// The fetched script (one PAC URL at a time: the settings name one) and the proxies found unreachable.
struct HttpProxyConfigurationReader::Cache {
    // Held while a script is fetched, so that concurrent resolutions wait for one fetch.
    std::mutex scriptMutex;
    std::string scriptUrl;
    std::string script;
    std::chrono::steady_clock::time_point fetchedAt;
    bool scriptValid = false;
    detail::ProxyRetryList unreachable;
};

HttpProxyConfigurationReader::HttpProxyConfigurationReader() : cache_(std::make_unique<Cache>()) {}

HttpProxyConfigurationReader::HttpProxyConfigurationReader(std::shared_ptr<UserProxySettingsSource> source)
    : source_(std::move(source)), cache_(std::make_unique<Cache>()) {}

HttpProxyConfigurationReader::~HttpProxyConfigurationReader() = default;

void HttpProxyConfigurationReader::setPacOptions(const PacEvaluator::Options& options) {
    const std::lock_guard<std::mutex> lock(optionsMutex_);
    pacOptions_ = options;
}

PacEvaluator::Options HttpProxyConfigurationReader::getPacOptions() const {
    const std::lock_guard<std::mutex> lock(optionsMutex_);
    return pacOptions_;
}

void HttpProxyConfigurationReader::setAutoConfigOptions(const AutoConfigOptions& options) {
    const std::lock_guard<std::mutex> lock(optionsMutex_);
    autoConfigOptions_ = options;
}

HttpProxyConfigurationReader::AutoConfigOptions HttpProxyConfigurationReader::getAutoConfigOptions() const {
    const std::lock_guard<std::mutex> lock(optionsMutex_);
    return autoConfigOptions_;
}

void HttpProxyConfigurationReader::clearCache() {
    {
        const std::lock_guard<std::mutex> lock(cache_->scriptMutex);
        cache_->scriptValid = false;
        cache_->scriptUrl.clear();
        cache_->script.clear();
    }
    cache_->unreachable.clear();
}

std::vector<std::string> HttpProxyConfigurationReader::splitProxyList(const std::string& proxyList) {
    static const char* const separators = "\t\r\n ;";
    std::vector<std::string> entries;
    std::string::size_type pos = 0;
    while ((pos = proxyList.find_first_not_of(separators, pos)) != std::string::npos) {
        const auto end = proxyList.find_first_of(separators, pos);
        entries.push_back(proxyList.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end;
    }
    return entries;
}

std::shared_ptr<Proxy> HttpProxyConfigurationReader::getHttpProxyForUrl(const std::string& url) {
    try {
        return readProxyForUrl(url);
    } catch (const std::exception& e) {
        OXL_LOG_ERROR(logger(), "Proxy resolution failed: " << e.what());
    }
    return nullptr;
}

std::shared_ptr<Proxy> HttpProxyConfigurationReader::readProxyForUrl(const std::string& url) {
    const auto source = source_ ? source_ : UserProxySettingsSource::getDefault();
    UserProxySettings settings;
    std::string error;
    if (!source || !source->read(settings, error)) {
        OXL_LOG_ERROR(logger(), "Reading the user's proxy configuration returned FALSE, error " << error);
        return nullptr;
    }
    const std::string scheme = HttpUtils::extractProtocolFromHttpUrl(url);
    OXL_LOG_DEBUG(logger(), "scheme : " << scheme);
    OXL_LOG_DEBUG(logger(),
                  "User Proxy Config: fAutoDetect: "
                      << (settings.autoDetect ? "TRUE" : "FALSE")
                      << " (not supported), autoConfigUrl: " << describe(settings.autoConfigUrl, true)
                      << ", proxy: " << describe(settings.proxy, false)
                      << ", proxyBypass: " << describe(settings.proxyBypass, true));
    const std::string bypass = settings.proxyBypass.value_or("");
    if (settings.autoConfigUrl && !settings.autoConfigUrl->empty()) {
        OXL_LOG_DEBUG(logger(), "Using auto configuration for proxy setup.");
        auto proxy = std::make_shared<Proxy>();
        std::string server;
        if (autoResolveProxy(url, *settings.autoConfigUrl, server) && !server.empty()) {
            proxy->setProxyServer(server, ProxyType::HTTP);
            proxy->setBypassList(bypass);
        }
        return proxy;
    }
    if (settings.proxy && !settings.proxy->empty()) {
        OXL_LOG_DEBUG(logger(),
                      "Proxy found with the user session, no need to lookup the PAC configuration.");
        auto proxy = std::make_shared<Proxy>();
        proxy->setProxyServer(HttpUtils::getProxyFromList(scheme, splitProxyList(*settings.proxy)),
                              ProxyType::HTTP);
        proxy->setBypassList(bypass);
        return proxy;
    }
    OXL_LOG_DEBUG(logger(), "Proxy information not available from within the user session.");
    return nullptr;
}

bool HttpProxyConfigurationReader::fetchScript(const std::string& autoConfigUrl, std::string& script) {
    const auto lifetime = getAutoConfigOptions().scriptLifetime;
    const std::lock_guard<std::mutex> lock(cache_->scriptMutex);
    const auto now = std::chrono::steady_clock::now();
    if (cache_->scriptValid && cache_->scriptUrl == autoConfigUrl && now - cache_->fetchedAt < lifetime) {
        OXL_LOG_DEBUG(logger(), "Using the PAC file fetched from " << autoConfigUrl);
        script = cache_->script;
        return true;
    }
    cache_->scriptValid = false;
    PacSession session;
    std::string error;
    std::string fetched;
    if (!session.fetch(autoConfigUrl, fetched, error)) {
        OXL_LOG_ERROR(logger(),
                      "Fetching the PAC file " << autoConfigUrl << " returned FALSE, error " << error);
        return false;
    }
    cache_->scriptUrl = autoConfigUrl;
    cache_->script = fetched;
    cache_->fetchedAt = std::chrono::steady_clock::now();
    cache_->scriptValid = true;
    script = std::move(fetched);
    return true;
}

bool HttpProxyConfigurationReader::autoResolveProxy(const std::string& url, const std::string& autoConfigUrl,
                                                    std::string& server) {
    OXL_LOG_DEBUG(logger(), "Auto resolving proxy");
    std::string script;
    if (!fetchScript(autoConfigUrl, script)) {
        return false;
    }
    PacEvaluator::Options options = getPacOptions();
    for (const auto& pin : NamePinning::instance().entries()) {
        options.pinnedAddresses.emplace(toLower(pin.host), pin.address);
    }
    const std::string host = toLower(HttpUtils::extractHostFromHttpUrl(url));
    const PacEvaluator::Result result = PacEvaluator::evaluate(script, url, host, options);
    if (!result.success) {
        OXL_LOG_ERROR(logger(), "FindProxyForURL() returned FALSE, error " << result.error);
        return false;
    }
    OXL_LOG_DEBUG(logger(), "FindProxyForURL() returned TRUE.");
    const PacEvaluator::Answer answer = PacEvaluator::parseAnswer(result.answer);
    if (answer.kind == PacEvaluator::Answer::INVALID) {
        OXL_LOG_ERROR(logger(), "The PAC script answered '"
                                    << result.answer.substr(0, 200)
                                    << "', which names no usable proxy; no proxy is used");
        return false;
    }
    const AutoConfigOptions limits = getAutoConfigOptions();
    server = detail::chooseEntry(
        answer.entries, cache_->unreachable, limits.unreachableRetryDelay,
        [&limits](const std::string& entry) { return detail::canConnect(entry, limits.connectTimeout); });
    if (server.empty()) {
        OXL_LOG_DEBUG(logger(), "The PAC script answered DIRECT");
    } else {
        OXL_LOG_DEBUG(logger(), "The PAC script answered the proxy " << server);
    }
    return true;
}

}  // namespace oxl::http

// oxlnet get URL ...: one HTTP(S) transfer with the basic client and the library's certificate verifier.
// The result name, status code and headers go to standard error, the body to standard output (or a file).
// With several URLs the transfers run in parallel through the multi client (GetMulti.cpp).
#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/http/AcceptableTlsProtocols.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/IdentityMatchModel.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/Proxy.h"
#include "oxl/http/SystemProxyResolver.h"
#include "oxl/http/UserProxySettings.h"
#include "oxl/ip/IpFamilyPreferencePolicy.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxl/runtime/SecureString.h"
#include "oxlnet/Command.h"
#include "oxlnet/GetMulti.h"
#include "oxlnet/PemFiles.h"

namespace {

using oxl::http::HttpClientResult;
using oxl::http::HttpMethod;

bool parseNumber(const std::string& text, long max, long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stol(text);
    return value <= max;
}

// An http:// or https:// URL with a host and, if given, a port from 1 to 65535, as libcurl reads it. Anything
// else is the user's mistake, told before any transfer starts.
bool isHttpUrl(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    const auto part = [&](CURLUPart which) {
        char* text = nullptr;
        std::string value;
        if (curl_url_get(parsed.get(), which, &text, 0) == CURLUE_OK && text != nullptr) {
            value = text;
        }
        curl_free(text);
        return value;
    };
    const std::string scheme = part(CURLUPART_SCHEME);
    long port = 0;
    const std::string portText = part(CURLUPART_PORT);
    return (strcasecmp(scheme.c_str(), "http") == 0 || strcasecmp(scheme.c_str(), "https") == 0) &&
           !part(CURLUPART_HOST).empty() &&
           (portText.empty() || (parseNumber(portText, 65535, port) && port > 0));
}

// "HOST:PORT:ADDR"; ADDR may be an IPv6 literal, with or without brackets.
bool pinResolve(const std::string& spec) {
    const std::size_t first = spec.find(':');
    const std::size_t second = first == std::string::npos ? first : spec.find(':', first + 1);
    if (second == std::string::npos) {
        return false;
    }
    long port = 0;
    std::string address = spec.substr(second + 1);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    // Checked here so that bad input gets the usage line only, not the library's complaint as well.
    const std::string host = spec.substr(0, first);
    if (host.empty() || !oxl::ip::IpUtils::isIpAddress(address)) {
        return false;
    }
    return parseNumber(spec.substr(first + 1, second - first - 1), 65535, port) && port > 0 &&
           oxl::http::NamePinning::instance().pin(spec.substr(0, first), static_cast<uint32_t>(port),
                                                  address);
}

std::optional<HttpMethod::Method> parseMethod(const std::string& text) {
    static const std::pair<const char*, HttpMethod::Method> METHODS[] = {{"GET", HttpMethod::GET},
                                                                         {"POST", HttpMethod::POST},
                                                                         {"PUT", HttpMethod::PUT},
                                                                         {"DELETE", HttpMethod::DELETE},
                                                                         {"OPTIONS", HttpMethod::OPTIONS}};
    for (const auto& [name, method] : METHODS) {
        if (text == name) {
            return method;
        }
    }
    return std::nullopt;
}

class PacUrlSource : public oxl::http::UserProxySettingsSource {
  public:
    explicit PacUrlSource(std::string pacUrl) : pacUrl_(std::move(pacUrl)) {}
    bool read(oxl::http::UserProxySettings& settings, std::string&) override {
        settings = oxl::http::UserProxySettings{};
        settings.autoConfigUrl = pacUrl_;
        return true;
    }

  private:
    std::string pacUrl_;
};

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// A one-shot command has no edge state to feed: the network events of the transfer are shown with -v.
class LoggingEventReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override { show(label); }
    void hintNetworkStackNotReady(const std::string& label) override { show(label); }
    void hintNetworkIsInUse(const std::string& label) override { show(label); }
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override {
        show(label + " (" + server + ")");
    }

  private:
    static void show(const std::string& event) { OXL_LOG_DEBUG(logger(), "network event: " << event); }
};

// Waits for the one notification of a file transfer.
class WaitingListener : public oxl::http::HttpClientListener {
  public:
    void onRequestFailed(unsigned int, HttpClientResult::Result result) override { finish(result, nullptr); }
    void onRequestCompleted(unsigned int, oxl::http::Response& response) override {
        finish(HttpClientResult::SUCCESS, &response);
    }
    HttpClientResult::Result wait(oxl::http::Response& response) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return finished_; });
        response = response_;
        return result_;
    }

  private:
    void finish(HttpClientResult::Result result, const oxl::http::Response* response) {
        std::lock_guard<std::mutex> lock(mutex_);
        result_ = result;
        if (response != nullptr) {
            response_ = *response;
        }
        finished_ = true;
        done_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    HttpClientResult::Result result_ = HttpClientResult::UNKNOWN_ERROR;
    oxl::http::Response response_;
};

struct GetOptions {
    std::string url;
    std::vector<std::string> urls;
    long parallel = 10;
    std::optional<HttpMethod::Method> method;
    std::vector<std::string> headers;
    std::optional<oxl::SecureString> body;
    std::string uploadFile;
    std::string outputFile;
    std::string proxy;
    bool systemProxy = false;
    std::string pacUrl;
    long connectTimeout = 0;
    long timeout = 0;
    bool ipv4 = false;
    bool ipv6 = false;
    bool tls12Only = false;
    std::vector<std::string> identities;
    bool strict = false;
    std::string trustFile;
    std::vector<std::string> resolves;
    std::vector<std::string> failover;
    bool verbose = false;
};

// Empty on success, else the usage error.
std::string parse(oxlnet::Args args, GetOptions& o) {
    std::string value;
    if (oxlnet::takeOption(args, "-X", value)) {
        o.method = parseMethod(value);
        if (!o.method) {
            return "get: unknown method '" + value + "' (GET, POST, PUT, DELETE or OPTIONS)";
        }
    }
    o.headers = oxlnet::takeOptions(args, "-H");
    for (const auto& header : o.headers) {
        const auto colon = header.find(':');
        if (colon == std::string::npos || colon == 0) {
            return "get: header '" + header + "' is not 'Name: value'";
        }
    }
    if (oxlnet::takeOption(args, "-d", value)) {
        o.body = oxl::SecureString(value);
        oxl::secureWipe(value);
    }
    oxlnet::takeOption(args, "--upload", o.uploadFile);
    oxlnet::takeOption(args, "-o", o.outputFile);
    oxlnet::takeOption(args, "--proxy", o.proxy);
    o.systemProxy = oxlnet::takeFlag(args, "--system-proxy");
    oxlnet::takeOption(args, "--pac", o.pacUrl);
    if (oxlnet::takeOption(args, "--connect-timeout", value) &&
        !parseNumber(value, 86400000, o.connectTimeout)) {
        return "get: --connect-timeout needs milliseconds, not '" + value + "'";
    }
    if (oxlnet::takeOption(args, "--timeout", value) && !parseNumber(value, 86400000, o.timeout)) {
        return "get: --timeout needs milliseconds, not '" + value + "'";
    }
    o.ipv4 = oxlnet::takeFlag(args, "--ipv4");
    o.ipv6 = oxlnet::takeFlag(args, "--ipv6");
    o.tls12Only = oxlnet::takeFlag(args, "--tls12-only");
    o.identities = oxlnet::takeOptions(args, "--identity");
    o.strict = oxlnet::takeFlag(args, "--strict");
    oxlnet::takeOption(args, "--trust", o.trustFile);
    o.resolves = oxlnet::takeOptions(args, "--resolve");
    o.failover = oxlnet::takeOptions(args, "--failover");
    o.verbose = oxlnet::takeFlag(args, "-v");
    const bool parallelGiven = oxlnet::takeOption(args, "--parallel", value);
    if (parallelGiven && (!parseNumber(value, 1000, o.parallel) || o.parallel < 1)) {
        return "get: --parallel needs a number from 1 to 1000, not '" + value + "'";
    }

    if (args.empty()) {
        return "get: needs a URL";
    }
    for (const auto& arg : args) {
        if (arg.empty() || arg[0] == '-') {
            return "get: unexpected argument '" + arg + "'";
        }
    }
    o.urls = args;
    o.url = args[0];
    for (const auto* list : {&o.urls, &o.failover}) {
        for (const auto& url : *list) {
            if (!isHttpUrl(url)) {
                return "get: '" + url + "' is not an http:// or https:// URL with a port from 1 to 65535";
            }
        }
    }
    if (o.urls.size() > 1) {
        if (!o.uploadFile.empty() || !o.failover.empty()) {
            return "get: --upload and --failover take one URL";
        }
        std::error_code error;
        if (!o.outputFile.empty() && !std::filesystem::is_directory(o.outputFile, error)) {
            return "get: with several URLs -o names a directory, and '" + o.outputFile + "' is none";
        }
    } else if (parallelGiven) {
        return "get: --parallel needs several URLs";
    }
    if (o.body && !o.uploadFile.empty()) {
        return "get: -d and --upload exclude each other";
    }
    if (o.ipv4 && o.ipv6) {
        return "get: --ipv4 and --ipv6 exclude each other";
    }
    if (static_cast<int>(!o.proxy.empty()) + static_cast<int>(o.systemProxy) +
            static_cast<int>(!o.pacUrl.empty()) >
        1) {
        return "get: choose one of --proxy, --system-proxy and --pac";
    }
    const bool fileTransfer = !o.uploadFile.empty() || !o.outputFile.empty();
    if (!o.uploadFile.empty() && !o.outputFile.empty()) {
        return "get: --upload and -o exclude each other";
    }
    if (fileTransfer && !o.failover.empty()) {
        return "get: --failover applies to in-memory transfers only (not with -o or --upload)";
    }
    if (!o.outputFile.empty() && o.method && *o.method != HttpMethod::GET) {
        return "get: -o downloads with GET";
    }
    if (!o.uploadFile.empty() && o.method && *o.method != HttpMethod::PUT) {
        return "get: --upload sends with PUT";
    }
    std::string problem;
    if (!o.uploadFile.empty() && !oxlnet::pem::isReadableRegularFile(o.uploadFile, 0, problem)) {
        return "get: --upload: " + problem;
    }
    if (!o.trustFile.empty() &&
        !oxlnet::pem::isReadableRegularFile(o.trustFile, oxlnet::pem::MAX_INPUT_FILE_BYTES, problem)) {
        return "get: --trust: " + problem;
    }
    if (o.strict && o.identities.empty()) {
        return "get: --strict needs at least one --identity";
    }
    for (const auto& spec : o.resolves) {
        if (!pinResolve(spec)) {
            return "get: --resolve needs HOST:PORT:ADDR with a numeric address, not '" + spec + "'";
        }
    }
    return {};
}

void configure(const GetOptions& o, oxl::http::Request& request) {
    auto options = request.getOptions();
    options->method = o.method.value_or(o.body ? HttpMethod::POST : HttpMethod::GET);
    for (const auto& header : o.headers) {
        const auto colon = header.find(':');
        std::string value = header.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        options->headers->emplace_back(header.substr(0, colon), value);
    }
    if (o.body) {
        options->body = *o.body;
    }
    options->connectionTimeout = o.connectTimeout;
    options->transferTimeout = o.timeout;
    if (o.tls12Only) {
        options->acceptableTlsProtocols = oxl::http::AcceptableTlsProtocols::TLS_1_2;
    }
    if (!o.identities.empty()) {
        options->useProvidedIdentity = true;
        options->identities = o.identities;
    }
    if (o.strict) {
        options->certIdentityValidationModel = oxl::http::IdentityMatchModel::STRICT_MATCH;
    }
    if (!o.proxy.empty()) {
        auto proxy = std::make_shared<oxl::http::Proxy>();
        proxy->setProxyServer(o.proxy, oxl::http::ProxyType::HTTP);
        request.setProxy(proxy);
    } else if (o.systemProxy || !o.pacUrl.empty()) {
        request.useSystemProxy(true);
        if (!o.pacUrl.empty()) {
            auto resolver = std::make_shared<oxl::http::SystemProxyResolver>();
            resolver->setHttpProxyConfigurationReader(
                std::make_shared<oxl::http::HttpProxyConfigurationReader>(
                    std::make_shared<PacUrlSource>(o.pacUrl)));
            request.setSystemProxyResolver(resolver);
        }
    }
}

int transferMany(const GetOptions& o, std::shared_ptr<oxl::http::CertVerifier> verifier) {
    oxlnet::MultiGet plan;
    plan.urls = o.urls;
    plan.parallel = static_cast<std::size_t>(o.parallel);
    plan.outputDir = o.outputFile;
    plan.makeRequest = [&o](const std::string& url) {
        auto request = std::make_shared<oxl::http::Request>(url);
        configure(o, *request);
        return request;
    };
    if (o.ipv4 || o.ipv6) {
        plan.policies.push_back(o.ipv4 ? oxl::ip::IpFamilyPreferencePolicy::IPV4_ONLY_POLICY
                                       : oxl::ip::IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    }
    return oxlnet::runMultiGet(plan, std::move(verifier), std::make_shared<LoggingEventReporter>());
}

int transfer(const GetOptions& o) {
    if (!o.trustFile.empty()) {
        oxl::cert::PlatformCertVerifier::setTrustFile(o.trustFile);
    }
    auto verifier = std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
        oxl::cert::CertVerifierFactory::createCertVerifier());
    if (o.urls.size() > 1) {
        return transferMany(o, verifier);
    }
    auto pool = oxl::http::BasicHttpClientImpl::makeDefaultThreadPool();
    auto client = oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
        nullptr, verifier, pool, std::make_shared<LoggingEventReporter>());
    if (o.ipv4 || o.ipv6) {
        client->addPolicy(o.ipv4 ? oxl::ip::IpFamilyPreferencePolicy::IPV4_ONLY_POLICY
                                 : oxl::ip::IpFamilyPreferencePolicy::IPV6_ONLY_POLICY);
    }
    auto request = std::make_shared<oxl::http::Request>(o.url);
    configure(o, *request);

    oxl::http::Response response;
    std::vector<oxl::http::FailedUrlInfo> failed;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    if (o.outputFile.empty() && o.uploadFile.empty()) {
        result =
            client->executeWithFailover(request, {o.failover.begin(), o.failover.end()}, response, &failed);
    } else {
        auto listener = std::make_shared<WaitingListener>();
        request->setListener(listener);
        unsigned int id = 0;
        const auto queued = o.outputFile.empty() ? client->uploadAsync(request, o.uploadFile, id)
                                                 : client->downloadAsync(request, o.outputFile, id);
        if (queued != oxl::http::HttpClientError::SUCCESS) {
            std::cerr << "oxlnet: get: the request was refused: " << queued << std::endl;
            return 1;
        }
        result = listener->wait(response);
        // The worker still holds the transfer's handle for a moment; let it finish before clean-up.
        for (int i = 0; i < 500 && pool->getBusyCount() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    for (const auto& f : failed) {
        std::cerr << "failed: " << f.url << " " << f.result << "\n";
    }
    std::cerr << "result: " << result << "\n";
    if (result == HttpClientResult::SUCCESS) {
        std::cerr << "status: " << response.responseCode << "\n";
        for (const auto& [name, value] : *response.headers) {
            std::cerr << name << ": " << value << "\n";
        }
    }
    std::cerr.flush();
    if (response.body && !response.body->empty()) {
        std::cout.write(response.body->data(), static_cast<std::streamsize>(response.body->size()));
        std::cout.flush();
    }
    return result == HttpClientResult::SUCCESS ? 0 : 1;
}

int runGet(const oxlnet::Args& args) {
    GetOptions options;
    const std::string error = parse(args, options);
    if (!error.empty()) {
        return oxlnet::usageError(error);
    }
    if (options.verbose) {
        oxl::log::setDefaultLevel(OXL_LEVEL_DEBUG);
    }
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "oxlnet: get: libcurl could not be initialised" << std::endl;
        return 1;
    }
    const int status = transfer(options);
    oxl::netutils::GlobalCleanup();
    return status;
}

}  // namespace

OXLNET_COMMAND(
    "get",
    "URL [URL...] [--parallel N] [-X METHOD] [-H 'Name: value']... [-d BODY | --upload FILE] [-o FILE|DIR] "
    "[--proxy P] [--system-proxy] [--pac URL] [--connect-timeout MS] [--timeout MS] [--ipv4|--ipv6] "
    "[--tls12-only] [--identity NAME]... [--strict] [--trust FILE] [--resolve HOST:PORT:ADDR] "
    "[--failover URL]... [-v]",
    "one HTTP(S) transfer with the basic client; result, status and headers on stderr, body on stdout; "
    "several URLs run in parallel through the multi client, one 'URL -> result, status, bytes, ms' line each",
    runGet);

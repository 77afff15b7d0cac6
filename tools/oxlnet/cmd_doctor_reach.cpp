// oxlnet doctor: the inside-or-outside group (the detection controller's decision, direct connections to
// the internal servers) and the proxy group (the proxy chosen for the internal and the edge URL, the PAC
// answer itself, whether the proxy answers).
#include <curl/curl.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "oxl/http/HttpProxyConfigurationReader.h"
#include "oxl/http/PacEvaluator.h"
#include "oxl/http/Proxy.h"
#include "oxl/http/UserProxySettings.h"
#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/IpUtils.h"
#include "oxlnet/Handles.h"
#include "oxlnet/cmd_doctor.h"

namespace oxlnet::doctor {

namespace {

constexpr const char* PLACE = "inside or outside";
constexpr const char* PROXY = "proxy";
constexpr std::size_t MAX_PROBES = 4;
constexpr std::size_t MAX_PAC_BYTES = 1024 * 1024;

// Opens a TCP connection (nothing sent); "local -> remote" or the reason it failed.
bool probe(const std::string& host, unsigned int port, const Deadline& deadline, std::string& evidence) {
    const auto limit = deadline.limit(std::chrono::milliseconds(3000));
    if (limit.count() < 1000) {
        evidence = "not tried, the report's time is up";
        return false;
    }
    auto info = oxl::ip::ConnectionInformation::buildConnectionInformation();
    const auto result =
        info->getConnectionInformationForHost(host, port, static_cast<uint32_t>(limit.count() / 1000));
    std::ostringstream text;
    if (result.getResult() == oxl::ip::ConnectionInformationResult::Success) {
        text << "connected from " << result.getLocalAddress() << " to " << result.getDestinationAddress();
    } else {
        text << "no connection (" << result.getResult() << ")";
    }
    evidence = text.str();
    return result.getResult() == oxl::ip::ConnectionInformationResult::Success;
}

void checkDetection(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    struct Answer {
        bool internal = false;
        bool edge = false;
    };
    auto answer = std::make_shared<Answer>();
    auto controller = oxl::edge::EdgeDetectionControllerImpl::build(o.internalDomain, o.externalDomain);
    const bool finished = runBounded(deadline.limit(std::chrono::milliseconds(8000)), [answer, controller] {
        answer->internal = controller->isOnPremServerAvailable();
        answer->edge = controller->isEdgeAvailable();
    });
    if (!finished) {
        r.add({PLACE, "detection", Verdict::FAILED, "no decision in time",
               "the DNS server is too slow to tell: see the DNS checks"});
        return;
    }
    controller->stop();
    f.detectionDone = true;
    f.internalVisible = answer->internal;
    f.edgeVisible = answer->edge;
    const std::string evidence = std::string("internal servers ") +
                                 (answer->internal ? "visible" : "not visible") + ", edge " +
                                 (answer->edge ? "visible" : "not visible") + ": " +
                                 (answer->internal ? "inside"
                                  : answer->edge   ? "outside"
                                                   : "neither");
    if (answer->internal || answer->edge) {
        r.add({PLACE, "detection", Verdict::OK, evidence, ""});
    } else {
        r.add({PLACE, "detection", Verdict::FAILED, evidence,
               "neither the internal servers nor the edge can be found: see the DNS checks; check the "
               "domains"});
    }
}

void checkDirect(const Deadline& deadline, Findings& f, Report& r) {
    if (f.internal.empty()) {
        r.add(
            {PLACE, "direct connection", Verdict::OK, "nothing to try: no internal server is published", ""});
        return;
    }
    std::vector<std::string> parts;
    bool any = false;
    std::set<std::string> tried;
    for (const auto& e : f.internal) {
        const std::string where = e.host + ":" + std::to_string(e.port);
        if (tried.size() >= MAX_PROBES || !tried.insert(where).second) {
            continue;
        }
        if (e.addresses.empty()) {
            parts.push_back(where + " no address");
            continue;
        }
        std::string evidence;
        any = probe(e.addresses.front(), e.port, deadline, evidence) || any;
        parts.push_back(where + " " + evidence);
    }
    std::string text;
    for (const auto& p : parts) {
        text += (text.empty() ? "" : "; ") + p;
    }
    if (any) {
        r.add({PLACE, "direct connection", Verdict::OK, text, ""});
    } else {
        r.add({PLACE, "direct connection", f.edgeVisible ? Verdict::WARNING : Verdict::FAILED, text,
               "the internal servers are published but do not answer: a firewall, or a VPN that is not "
               "connected"});
    }
}

class PacUrlSource : public oxl::http::UserProxySettingsSource {
  public:
    explicit PacUrlSource(std::string url) : url_(std::move(url)) {}
    bool read(oxl::http::UserProxySettings& settings, std::string&) override {
        settings = oxl::http::UserProxySettings{};
        settings.autoConfigUrl = url_;
        return true;
    }

  private:
    std::string url_;
};

size_t collect(char* data, size_t size, size_t count, void* target) {
    auto* text = static_cast<std::string*>(target);
    if (text->size() + size * count > MAX_PAC_BYTES) {
        return 0;
    }
    text->append(data, size * count);
    return size * count;
}

// The script itself, fetched directly (a PAC script never comes through a proxy).
bool fetchScript(const std::string& url, std::chrono::milliseconds limit, std::string& script,
                 std::string& error) {
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl || limit.count() <= 0) {
        error = limit.count() <= 0 ? "not tried, the report's time is up" : "libcurl could not be set up";
        return false;
    }
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &script);
    const CURLcode code = curl_easy_perform(curl.get());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        error = curl_easy_strerror(code);
        return false;
    }
    if (url.rfind("http", 0) == 0 && status != 200) {
        error = "HTTP status " + std::to_string(status);
        return false;
    }
    return true;
}

std::string hostOf(const std::string& url) {
    std::string rest = url.substr(url.find("://") == std::string::npos ? 0 : url.find("://") + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (!rest.empty() && rest.front() == '[') {
        return rest.substr(1, rest.find(']') - 1);
    }
    return rest.substr(0, rest.find(':'));
}

// "host:port" or "https://host:port" split; false when there is no usable port.
bool splitServer(std::string server, std::string& host, unsigned int& port) {
    const auto scheme = server.find("://");
    if (scheme != std::string::npos) {
        server = server.substr(scheme + 3);
    }
    const auto colon = server.rfind(':');
    if (colon == std::string::npos || !parsePort(server.substr(colon + 1), port)) {
        return false;
    }
    host = server.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return !host.empty();
}

}  // namespace

void checkInsideOutside(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    checkDetection(o, deadline, f, r);
    checkDirect(deadline, f, r);
}

std::shared_ptr<oxl::http::UserProxySettingsSource> proxySource(const Options& o) {
    if (o.pacUrl.empty()) {
        return oxl::http::UserProxySettingsSource::getDefault();
    }
    return std::make_shared<PacUrlSource>(o.pacUrl);
}

void checkProxy(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    const auto source = proxySource(o);
    oxl::http::UserProxySettings settings;
    std::string error;
    if (!source || !source->read(settings, error)) {
        r.add({PROXY, "settings", Verdict::WARNING, "could not be read: " + error,
               "the library goes direct when it cannot read the proxy settings"});
        return;
    }
    std::string described = "none (direct)";
    if (settings.autoConfigUrl) {
        described = "PAC " + *settings.autoConfigUrl;
    } else if (settings.proxy) {
        described = "proxy '" + *settings.proxy + "'" +
                    (settings.proxyBypass ? ", bypass '" + *settings.proxyBypass + "'" : std::string());
    }
    r.add({PROXY, "settings", Verdict::OK, (o.pacUrl.empty() ? "environment: " : "given: ") + described, ""});

    std::string script;
    bool scriptUsable = false;
    if (settings.autoConfigUrl) {
        scriptUsable = fetchScript(*settings.autoConfigUrl, deadline.limit(std::chrono::milliseconds(4000)),
                                   script, error);
        if (scriptUsable) {
            r.add({PROXY, "PAC script", Verdict::OK, std::to_string(script.size()) + " bytes", ""});
        } else {
            r.add({PROXY, "PAC script", Verdict::FAILED, "not fetched: " + error,
                   "the library goes direct without its PAC script: check the PAC URL and its server"});
        }
    }

    auto reader = std::make_shared<oxl::http::HttpProxyConfigurationReader>(source);
    const auto endpointUrl = [](const std::vector<Endpoint>& list, const std::string& domain) {
        return "https://" +
               (list.empty() ? domain
                             : oxl::ip::IpUtils::appendPortToAddress(list.front().host, list.front().port)) +
               "/";
    };
    const std::pair<std::string, std::string> targets[] = {
        {"internal URL", endpointUrl(f.internal, o.internalDomain)},
        {"edge URL", endpointUrl(f.edge, o.externalDomain)},
    };
    std::set<std::string> probed;
    for (const auto& [label, url] : targets) {
        std::string evidence = url + ": ";
        if (scriptUsable) {
            oxl::http::PacEvaluator::Options pacOptions;
            pacOptions.timeLimit = deadline.limit(std::chrono::milliseconds(3000));
            const auto answer = oxl::http::PacEvaluator::evaluate(script, url, hostOf(url), pacOptions);
            evidence += answer.success ? "PAC answers \"" + answer.answer + "\", "
                                       : "PAC failed (" + answer.error + "), ";
        }
        std::shared_ptr<oxl::http::Proxy> proxy;
        const bool finished =
            runBounded(deadline.limit(std::chrono::milliseconds(6000)),
                       [reader, url = url, &proxy] { proxy = reader->getHttpProxyForUrl(url); });
        if (!finished) {
            r.add({PROXY, label, Verdict::FAILED, evidence + "no answer in time",
                   "the proxy settings take too long to evaluate: check the PAC script"});
            continue;
        }
        const bool viaProxy = proxy && proxy->isServerSet() && !proxy->getProxyServer().empty();
        if (label == std::string("edge URL")) {
            f.edgeProxy = viaProxy ? proxy : nullptr;
        }
        if (!viaProxy) {
            r.add({PROXY, label, Verdict::OK, evidence + "direct", ""});
            continue;
        }
        const std::string server = proxy->getProxyServer();
        std::string host;
        unsigned int port = 0;
        if (!splitServer(server, host, port)) {
            r.add({PROXY, label, Verdict::FAILED, evidence + "proxy '" + server + "' has no usable port",
                   "correct the proxy settings"});
            continue;
        }
        std::string reached;
        if (!probe(host, port, deadline, reached)) {
            r.add({PROXY, label, Verdict::FAILED, evidence + "proxy " + server + ", " + reached,
                   "the proxy the settings choose does not answer: correct the proxy settings or the PAC "
                   "script"});
        } else {
            r.add({PROXY, label, Verdict::OK, evidence + "proxy " + server + ", " + reached, ""});
        }
        probed.insert(server);
    }
}

}  // namespace oxlnet::doctor

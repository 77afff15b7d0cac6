// The end-to-end demo: the library's main job on a loopback sandbox that needs no outside network. A DNS
// server (dnsmasq), an HTTPS edge server with a certificate authority made at start, and two internal web
// servers stand in for the enterprise; the steps detect the network, fetch and refresh the edge
// configuration, make HTTPS requests with the real certificate verifier and move the device inside. Every
// step checks what it narrates; the exit status is 0 only when all of them passed.
#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/common/InvalidCertListener.h"
#include "oxl/cert/common/InvalidCertNotificationManager.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/NamePinning.h"
#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/ip/Nat64Prefix.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxl/runtime/SecureString.h"
#include "oxl/version/Version.h"
#include "oxlnet/Command.h"
#include "sandbox/DnsSandbox.h"
#include "sandbox/EdgeSandbox.h"
#include "sandbox/InternalWebServer.h"

namespace oxlnet {

namespace {

using oxl::edge::EdgeConfig;
using oxl::edge::EdgeConfigRequest;
using oxl::http::HttpClientResult;
using oxl::sandbox::DnsSandboxRecords;

constexpr const char* INTERNAL_DOMAIN = "corp.test";
constexpr const char* EXTERNAL_DOMAIN = "ext.test";
// The edge's name: published in DNS, carried by the sandbox certificate, pinned to loopback for libcurl.
constexpr const char* EDGE_HOST = "edge.ext.test";
constexpr const char* USER = "alice";
constexpr const char* PAGE = "/welcome.txt";
constexpr const char* PAGE_TEXT = "Welcome to the intranet.\n";
// A well-known NAT64 prefix (RFC 6052) that the DNS server publishes for ipv4only.arpa.
constexpr const char* NAT64_ANSWER = "64:ff9b::c000:aa";

const char* visibleText(bool visible) {
    return visible ? "visible" : "not visible";
}

std::string utc(long seconds) {
    const std::time_t t = seconds;
    std::tm tm{};
    char text[32] = "";
    if (gmtime_r(&t, &tm) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    }
    return text;
}

// 32 hexadecimal digits from OpenSSL's generator; empty when it fails. Reserved up front so that no partial
// copy is left behind in a freed buffer.
std::string randomSecret() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return {};
    }
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * sizeof bytes);
    for (const unsigned char b : bytes) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 0x0f];
    }
    OPENSSL_cleanse(bytes, sizeof bytes);
    return text;
}

// The RFC 5952 text of an IPv6 address (the library writes every group in full); the input when unparsable.
std::string compactIpv6(const std::string& text) {
    in6_addr address{};
    char compact[INET6_ADDRSTRLEN] = "";
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1 ||
        inet_ntop(AF_INET6, &address, compact, sizeof compact) == nullptr) {
        return text;
    }
    return compact;
}

bool sameIpv6(const std::string& a, const std::string& b) {
    in6_addr x{};
    in6_addr y{};
    return inet_pton(AF_INET6, a.c_str(), &x) == 1 && inet_pton(AF_INET6, b.c_str(), &y) == 1 &&
           std::memcmp(&x, &y, sizeof x) == 0;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

class SensingRecorder : public oxl::edge::NetworkSensingObserver {
  public:
    void onNetworkSensingEvent(const oxl::edge::NetworkSensingEvent& event) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    bool sawInternal(bool visible) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : events_) {
            if (e.internalVisibilityChanged && e.internalVisibility == visible) {
                return true;
            }
        }
        return false;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<oxl::edge::NetworkSensingEvent> events_;
};

class VisibilityCounter : public oxl::edge::VisibilityChangeObserver {
  public:
    void onVisibilityChange() override { ++count; }
    std::atomic<int> count{0};
};

// Where the basic client reports what its transfers learned about the network.
class RecordingEventReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override { add(label); }
    void hintNetworkStackNotReady(const std::string& label) override { add(label); }
    void hintNetworkIsInUse(const std::string& label) override { add(label); }
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override {
        add(label + " (" + server + ")");
    }
    std::vector<std::string> take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(labels_, {});
    }

  private:
    void add(const std::string& label) {
        const std::lock_guard<std::mutex> lock(mutex_);
        labels_.push_back(label);
    }
    std::mutex mutex_;
    std::vector<std::string> labels_;
};

// Stands for the application's certificate prompt: notes what it was shown and rejects the certificate.
class RejectingPrompt : public oxl::cert::InvalidCertListener {
  public:
    void onInvalidCertRequest(const oxl::cert::InvalidCertRequest& request) override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            prompts_.push_back(request);
        }
        if (request.canTakeDecision) {
            oxl::cert::InvalidCertNotificationManager::getInstance()->rejectInvalidCert(
                request.texts.fingerprint);
        }
    }
    void onRejectedInvalidCert(const oxl::cert::InvalidCertRequest&) override {}
    std::vector<oxl::cert::InvalidCertRequest> prompts() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return prompts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<oxl::cert::InvalidCertRequest> prompts_;
};

// Everything the steps share. Torn down in reverse order of need by close().
struct Sandbox {
    std::unique_ptr<oxl::sandbox::InternalWebServer> intranet;
    std::unique_ptr<oxl::sandbox::InternalWebServer> untrusted;
    std::unique_ptr<oxl::sandbox::EdgeSandbox> edge;
    std::unique_ptr<oxl::sandbox::DnsSandbox> dns;
    std::unique_ptr<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dnsServer;
    std::vector<std::pair<std::string, uint16_t>> pins;

    std::shared_ptr<oxl::edge::EdgeDetectionControllerImpl> controller;
    std::shared_ptr<oxl::edge::EdgeTransitionDetectionControllerImpl> transitions;
    std::shared_ptr<SensingRecorder> sensing;
    std::shared_ptr<VisibilityCounter> visibility;

    oxl::SecureString password;
    std::vector<oxl::edge::EdgeServiceRecordData> edgeRecords;
    std::unique_ptr<EdgeConfigRequest> configRequest;
    EdgeConfig config;

    std::shared_ptr<RejectingPrompt> prompt;
    std::shared_ptr<oxl::http::BasicHttpClientImpl> client;
    std::shared_ptr<RecordingEventReporter> events;

    DnsSandboxRecords outsideRecords() const {
        // The edge is published under both domains: the detection controller looks under the external
        // one, the transition machines under the internal one.
        return DnsSandboxRecords()
            .addSrv(std::string("_brisel-edge._tls.") + EXTERNAL_DOMAIN, EDGE_HOST, edge->port(), 10, 0)
            .addSrv(std::string("_brisel-edge._tls.") + INTERNAL_DOMAIN, EDGE_HOST, edge->port(), 10, 0)
            .addA(EDGE_HOST, "127.0.0.1")
            .addAaaa("ipv4only.arpa", NAT64_ANSWER)
            .addLocalDomain(INTERNAL_DOMAIN)
            .addLocalDomain(EXTERNAL_DOMAIN);
    }
    DnsSandboxRecords insideRecords() const {
        return outsideRecords().addSrv(std::string("_pelko-zds._tcp.") + INTERNAL_DOMAIN, "127.0.0.1",
                                       intranet->port(), 10, 0);
    }

    void close() {
        if (controller) {
            if (sensing) {
                controller->unregisterNetworkSensingObserver(sensing);
            }
            if (visibility) {
                controller->unregisterVisibilityChangeObserver(visibility);
            }
        }
        if (transitions) {
            transitions->stop();
        }
        if (controller) {
            controller->stop();
        }
        client.reset();
        configRequest.reset();
        if (prompt) {
            oxl::cert::InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(nullptr);
        }
        for (const auto& [host, port] : pins) {
            oxl::http::NamePinning::instance().unpin(host, port);
        }
        dnsServer.reset();
        dns.reset();
        if (edge) {
            edge->stop();
        }
        if (intranet) {
            intranet->stop();
        }
        if (untrusted) {
            untrusted->stop();
        }
    }
};

struct DemoContext {
    std::ostream& out;
    Sandbox box;
    int failedChecks = 0;

    // One narrated check: "ok" or "FAILED" in front of what was expected.
    bool check(bool condition, const std::string& what) {
        out << "   " << (condition ? "ok     " : "FAILED ") << what << "\n";
        if (!condition) {
            ++failedChecks;
        }
        return condition;
    }
    void say(const std::string& text) { out << "   " << text << "\n"; }
};

struct DemoStep {
    std::string title;
    // False when the step failed; the later steps build on it and are skipped.
    std::function<bool(DemoContext&)> run;
};

bool startSandbox(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    if (!oxl::sandbox::DnsSandbox::isInstalled()) {
        ctx.say(std::string("dnsmasq is not installed (") + oxl::sandbox::DnsSandbox::executable() +
                "); run scripts/install-deps.sh");
        return ctx.check(false, "a DNS server for the sandbox");
    }
    box.intranet = std::make_unique<oxl::sandbox::InternalWebServer>();
    box.intranet->addFile(PAGE, PAGE_TEXT);
    bool started = box.intranet->start();
    if (!ctx.check(started, "internal web server " + box.intranet->url())) {
        return false;
    }
    oxl::sandbox::InternalWebServer::Options untrustedOptions;
    untrustedOptions.https = true;
    box.untrusted = std::make_unique<oxl::sandbox::InternalWebServer>(untrustedOptions);
    box.untrusted->addFile(PAGE, PAGE_TEXT);
    started = box.untrusted->start();
    if (!ctx.check(started,
                   "internal web server " + box.untrusted->url() + " with a certificate nobody trusts")) {
        return false;
    }

    oxl::sandbox::EdgeSandbox::Options edgeOptions;
    edgeOptions.domain = INTERNAL_DOMAIN;
    edgeOptions.extraDnsNames = {EDGE_HOST};
    box.edge = std::make_unique<oxl::sandbox::EdgeSandbox>(edgeOptions);
    // A password made for this run only; the sandbox and the library hold it, nobody prints it.
    std::string secret = randomSecret();
    if (secret.empty()) {
        return ctx.check(false, "a random password for the demo account");
    }
    box.edge->addUser(USER, secret);
    box.password = oxl::SecureString(secret);
    oxl::secureWipe(secret);
    started = box.edge->start();
    if (!ctx.check(started, "edge server " + box.edge->url() + " (certificate authority made now)")) {
        return false;
    }
    oxl::sandbox::SandboxConfiguration configuration;
    configuration.services.push_back({"_pelko-zds._tcp", {{"127.0.0.1", box.intranet->port(), 10, 0}}, ""});
    configuration.httpEdgeServers = {{EDGE_HOST, box.edge->port(), 0}};
    configuration.sipEdgeServers = {{EDGE_HOST, 5061, 5060}};
    configuration.xmppEdgeServers = {{EDGE_HOST, 5222, 0}};
    configuration.sipRoutes = {std::string("sip:") + EDGE_HOST + ";lr"};
    box.edge->setConfiguration(configuration);

    box.dns = std::make_unique<oxl::sandbox::DnsSandbox>(box.outsideRecords());
    if (!ctx.check(box.dns->isRunning(), "dnsmasq on " + box.dns->address() + " with the outside records")) {
        ctx.out << box.dns->log() << "\n";
        return false;
    }
    box.dnsServer = std::make_unique<oxl::dns::DnsUtilsScopedSetCustomServerAddress>(box.dns->address());
    if (!ctx.check(box.dnsServer->isValid(), "the library's DNS queries go to " + box.dns->address())) {
        return false;
    }
    // libcurl resolves through the system, not through the sandbox's DNS server.
    for (const auto& [host, port] : {std::pair<std::string, uint16_t>{EDGE_HOST, box.edge->port()},
                                     {"localhost", box.untrusted->port()}}) {
        const bool pinned = oxl::http::NamePinning::instance().pin(host, port, "127.0.0.1");
        if (pinned) {
            box.pins.emplace_back(host, port);
        }
        if (!ctx.check(pinned, "HTTP transfers to " + host + ":" + std::to_string(port) +
                                   " are pinned to 127.0.0.1")) {
            return false;
        }
    }
    oxl::cert::PlatformCertVerifier::setTrustFile(box.edge->trustFile());
    ctx.say("certificate verification trusts the sandbox root only");
    return true;
}

bool detectOutside(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    box.controller = oxl::edge::EdgeDetectionControllerImpl::build(INTERNAL_DOMAIN, EXTERNAL_DOMAIN);
    box.transitions = oxl::edge::EdgeTransitionDetectionControllerImpl::build();
    // The demo moves the device by telling the controller, not by changing the host's interfaces, and
    // probes more often than a client would so that it finishes in seconds.
    box.transitions->setIpInterfaceChangeMonitorEnabled(false);
    box.transitions->setPollingScheduleForTestOnly(200, 300, 10000);
    box.controller->setEdgeTransitionDetectionController(box.transitions);
    box.transitions->start();
    box.sensing = std::make_shared<SensingRecorder>();
    box.visibility = std::make_shared<VisibilityCounter>();
    box.controller->registerNetworkSensingObserver(box.sensing);
    box.controller->registerVisibilityChangeObserver(box.visibility);

    const bool internal = box.controller->isOnPremServerAvailable();
    const bool edge = box.controller->isEdgeAvailable();
    box.edgeRecords = box.controller->getEdgeServiceRecordData();
    for (const auto& r : box.edgeRecords) {
        ctx.say("edge record " + oxl::ip::IpUtils::appendPortToAddress(r.host, r.port));
    }
    bool ok = ctx.check(!internal, std::string("internal network: ") + visibleText(internal) +
                                       " (no _pelko-zds or "
                                       "_dwrlogin records under " +
                                       INTERNAL_DOMAIN + ")");
    ok = ctx.check(edge, std::string("edge: ") + visibleText(edge) + " (_brisel-edge._tls." +
                             EXTERNAL_DOMAIN + ")") &&
         ok;
    ok = ctx.check(box.edgeRecords.size() == 1 && box.edgeRecords[0].host == EDGE_HOST &&
                       box.edgeRecords[0].port == box.edge->port(),
                   "the edge record names the sandbox's edge server") &&
         ok;
    return ok;
}

bool probeAddresses(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    std::vector<oxl::dns::ARecord> addresses;
    const auto dnsResult = oxl::dns::DnsUtils::executeARecordQuery(EDGE_HOST, addresses);
    const std::string address = addresses.empty() ? std::string() : addresses[0].getIP4Address();
    if (!ctx.check(dnsResult == oxl::dns::DnsQueryResult::SUCCESS && address == "127.0.0.1",
                   std::string("A record of ") + EDGE_HOST + ": " + (address.empty() ? "none" : address))) {
        return false;
    }
    auto probe = oxl::ip::ConnectionInformation::buildConnectionInformation();
    const auto result = probe->getConnectionInformationForHost(address, box.edge->port(), 5);
    std::ostringstream text;
    text << result;
    bool ok = ctx.check(result.getResult() == oxl::ip::ConnectionInformationResult::Success &&
                            result.getDestinationAddress().getAddress() == "127.0.0.1",
                        "TCP probe of the edge: " + text.str());

    auto nat64 = oxl::ip::Nat64Prefix::buildNat64Prefix(std::make_shared<oxl::dns::DnsUtilsImpl>(), true);
    const auto synthesised =
        nat64->getSynthesisedIpv6Address(oxl::ip::Ipv4Address::createIpv4Address("192.0.2.33"));
    const std::string first = synthesised.empty() ? std::string("none") : synthesised[0].getAddress();
    ok = ctx.check(synthesised.size() == 1 && sameIpv6(first, "64:ff9b::c000:221"),
                   "NAT64 prefix from ipv4only.arpa: 192.0.2.33 becomes " + compactIpv6(first)) &&
         ok;
    return ok;
}

void printConfig(DemoContext& ctx, const EdgeConfig& config) {
    for (const auto& l : config.getHttpEdgeService().serverLocations) {
        ctx.say("edge http " + l.address + " tls " + std::to_string(l.tlsPort));
    }
    for (const auto& l : config.getSipEdgeService().serverLocations) {
        ctx.say("edge sip " + l.address + " tls " + std::to_string(l.tlsPort) + " udp " +
                std::to_string(l.udpPort));
    }
    for (const auto& service : config.getOnPremServices()) {
        for (const auto& l : service.serverLocations) {
            ctx.say("service " + service.name + " " + l.address + ":" + std::to_string(l.port));
        }
    }
    for (const auto& cookie : config.getCookies()) {
        const long expiry = cookie.getExpirationDate();
        ctx.say("cookie " + cookie.getName() + " (value not shown) expires " +
                (expiry == 0 ? std::string("with the session") : utc(expiry)));
    }
}

oxl::common::Cookie xAuthCookie(const EdgeConfig& config) {
    for (const auto& cookie : config.getCookies()) {
        if (cookie.getName() == EdgeConfig::X_AUTH_COOKIE_NAME) {
            return cookie;
        }
    }
    return {};
}

oxl::edge::EdgeConfigParams configParams(const Sandbox& box) {
    oxl::edge::EdgeConfigParams params;
    params.host = box.edgeRecords.at(0).host;
    params.port = box.edgeRecords.at(0).port;
    params.domain = INTERNAL_DOMAIN;
    params.username = USER;
    params.password = box.password;
    return params;
}

bool fetchConfiguration(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    box.configRequest = std::make_unique<oxl::edge::EdgeConfigRequestImpl>(
        std::make_shared<oxl::netutils::adapters::EdgeHttpAdapter>());
    auto params = configParams(box);
    params.serviceNames = {"_pelko-zds._tcp"};
    ctx.say("GET " + oxl::edge::EdgeConfigRequestImpl::createRequestUrl(params));
    const auto result = box.configRequest->execute(params, box.config);
    std::ostringstream text;
    text << result;
    if (!ctx.check(result == EdgeConfigRequest::SUCCESS, "get_edge_config: " + text.str())) {
        return false;
    }
    printConfig(ctx, box.config);
    const auto& http = box.config.getHttpEdgeService().serverLocations;
    bool ok =
        ctx.check(http.size() == 1 && http[0].address == EDGE_HOST && http[0].tlsPort == box.edge->port(),
                  "the configuration names the edge as its HTTP edge server");
    const auto services = box.config.getOnPremServices();
    ok = ctx.check(services.size() == 1 && services[0].serverLocations.size() == 1 &&
                       services[0].serverLocations[0].port == box.intranet->port(),
                   "the one requested service is listed with its internal server") &&
         ok;
    const auto cookie = xAuthCookie(box.config);
    ok = ctx.check(!cookie.getName().empty() && cookie.getExpirationDate() > std::time(nullptr),
                   "an X-Auth session cookie that has not expired") &&
         ok;
    const auto received = box.edge->received();
    ok = ctx.check(received.size() == 1 && received[0].authScheme == "Basic" && received[0].username == USER,
                   std::string("the edge saw one request with basic authentication for ") + USER) &&
         ok;
    return ok;
}

bool refreshConfiguration(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    auto params = configParams(box);
    params.isRefresh = true;
    params.xAuthCookie = xAuthCookie(box.config);
    std::string before = params.xAuthCookie.getValue();
    ctx.say("GET " + oxl::edge::EdgeConfigRequestImpl::createRequestUrl(params));
    const auto result = box.configRequest->execute(params, box.config);
    std::ostringstream text;
    text << result;
    bool ok = ctx.check(result == EdgeConfigRequest::SUCCESS, "get_edge_refresh: " + text.str());
    const auto cookie = xAuthCookie(box.config);
    std::string after = cookie.getValue();
    ok = ctx.check(!after.empty() && after != before && box.edge->isSessionValid(after),
                   "a new X-Auth cookie, expires " + utc(cookie.getExpirationDate())) &&
         ok;
    oxl::secureWipe(after);
    oxl::secureWipe(before);
    ok = ctx.check(box.edge->counters().sessionsRefreshed == 1, "the edge renewed the session once") && ok;
    return ok;
}

oxl::http::Response get(DemoContext& ctx, const std::string& url,
                        const std::vector<oxl::common::Cookie>& cookies, HttpClientResult::Result& result) {
    auto request = std::make_shared<oxl::http::Request>(url);
    request->getOptions()->cookies = cookies;
    oxl::http::Response response;
    result = ctx.box.client->execute(request, response);
    std::ostringstream text;
    text << result;
    ctx.say("GET " + url + " -> " + text.str() +
            (result == HttpClientResult::SUCCESS ? ", status " + std::to_string(response.responseCode) : ""));
    for (const auto& label : ctx.box.events->take()) {
        ctx.say("  network event " + label);
    }
    return response;
}

bool browse(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    box.prompt = std::make_shared<RejectingPrompt>();
    oxl::cert::InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(box.prompt);
    auto verifier = oxl::cert::CertVerifierFactory::createCertVerifier();
    // Certificates that fail are put to the user, who here always says no.
    verifier->addPolicy(oxl::cert::UserInteractingInvalidCertManagementPolicy::
                            PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
                                .build());
    box.events = std::make_shared<RecordingEventReporter>();
    box.client = oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
        nullptr, std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(verifier), nullptr, box.events);

    // Through the edge: the first path segment names the internal server, the session cookie admits it.
    const std::string viaEdge = std::string("https://") + EDGE_HOST + ":" + std::to_string(box.edge->port()) +
                                "/" +
                                oxl::sandbox::EdgeSandbox::tokenizedBaseUrl(
                                    INTERNAL_DOMAIN, "http", "127.0.0.1", box.intranet->port()) +
                                PAGE;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    auto response = get(ctx, viaEdge, {xAuthCookie(box.config)}, result);
    const std::string body = response.getBodyAsString();
    bool ok =
        ctx.check(result == HttpClientResult::SUCCESS && response.responseCode == 200 && body == PAGE_TEXT,
                  "the internal page arrived through the edge: \"" + body.substr(0, body.find('\n')) + "\"");
    ok = ctx.check(box.intranet->requestCount(PAGE) == 1 && box.edge->counters().forwardedRequests == 1,
                   "the edge forwarded it to the internal web server") &&
         ok;
    ok = ctx.check(box.prompt->prompts().empty(), "the edge's certificate was accepted without asking") && ok;

    response = get(ctx, "https://localhost:" + std::to_string(box.untrusted->port()) + PAGE, {}, result);
    const auto prompts = box.prompt->prompts();
    if (!prompts.empty()) {
        ctx.say("prompt: \"" + prompts[0].texts.failureDescription + "\" for " + prompts[0].texts.commonName +
                ", answered: reject");
    }
    ok = ctx.check(result == HttpClientResult::CERTIFICATE_VALIDATION_ERROR,
                   "the untrusted server's certificate was rejected") &&
         ok;
    ok = ctx.check(prompts.size() == 1 && prompts[0].canTakeDecision &&
                       prompts[0].statuses ==
                           std::set<oxl::cert::CertStatus::Status>{oxl::cert::CertStatus::IS_PARTIAL_CHAIN},
                   "the user was asked once, only because its issuer is unknown") &&
         ok;
    ok = ctx.check(box.untrusted->requestCount(PAGE) == 0, "no request reached the untrusted server") && ok;
    return ok;
}

bool endSession(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    auto params = configParams(box);
    params.isRefresh = true;
    params.zeroTtl = true;
    params.xAuthCookie = xAuthCookie(box.config);
    ctx.say("GET " + oxl::edge::EdgeConfigRequestImpl::createRequestUrl(params));
    EdgeConfig ended = box.config;
    const auto result = box.configRequest->execute(params, ended);
    std::ostringstream text;
    text << result;
    // The edge answers by clearing the cookie: a normal log-out.
    bool ok = ctx.check(result == EdgeConfigRequest::SUCCESS,
                        "get_edge_refresh?ttl=0: " + text.str() + " (the edge cleared the cookie)");
    ok = ctx.check(box.edge->counters().sessionsEnded == 1 && box.edge->activeSessions() == 0,
                   "the edge ended the session") &&
         ok;
    const std::string viaEdge = std::string("https://") + EDGE_HOST + ":" + std::to_string(box.edge->port()) +
                                "/" +
                                oxl::sandbox::EdgeSandbox::tokenizedBaseUrl(
                                    INTERNAL_DOMAIN, "http", "127.0.0.1", box.intranet->port()) +
                                PAGE;
    HttpClientResult::Result getResult = HttpClientResult::UNKNOWN_ERROR;
    const auto response = get(ctx, viaEdge, {xAuthCookie(box.config)}, getResult);
    ok = ctx.check(response.responseCode == 401 && box.intranet->requestCount(PAGE) == 1,
                   "the old cookie no longer opens the edge") &&
         ok;
    return ok;
}

bool moveInside(DemoContext& ctx) {
    Sandbox& box = ctx.box;
    const int changesBefore = box.visibility->count.load();
    if (!ctx.check(box.dns->restart(box.insideRecords()),
                   "dnsmasq restarted with _pelko-zds._tcp." + std::string(INTERNAL_DOMAIN) +
                       " -> 127.0.0.1:" + std::to_string(box.intranet->port()))) {
        ctx.out << box.dns->log() << "\n";
        return false;
    }
    box.controller->getNetworkSensingHints()->hintHostOsIpInterfaceChanged("demo: moved inside");
    ctx.say("the network changed; waiting for the detection to confirm direct connectivity");
    const bool seen = waitFor([&] { return box.sensing->sawInternal(true); }, std::chrono::seconds(20));
    bool ok = ctx.check(seen, "the sensing observer heard: internal network visible");
    const bool internal = box.controller->isOnPremServerAvailable();
    const bool edge = box.controller->isEdgeAvailable();
    ok = ctx.check(internal, std::string("internal network: ") + visibleText(internal)) && ok;
    ctx.say(std::string("edge: ") + visibleText(edge));
    for (const auto& record : box.controller->getInternalServiceRecords(false)) {
        for (const auto& endpoint : record.endpoints) {
            ctx.say("internal record " + record.serviceName + " " +
                    oxl::ip::IpUtils::appendPortToAddress(endpoint.host, endpoint.port));
        }
    }
    ok = ctx.check(box.visibility->count.load() > changesBefore, "the visibility observer was told") && ok;
    return ok;
}

std::vector<DemoStep> demoSteps() {
    return {
        {"start the sandbox: internal web servers, HTTPS edge, dnsmasq", startSandbox},
        {"outside: detect the network from DNS", detectOutside},
        {"addresses: DNS, connection probe and NAT64", probeAddresses},
        {"fetch the edge configuration over HTTPS", fetchConfiguration},
        {"refresh the edge session", refreshConfiguration},
        {"HTTPS through the edge and to an untrusted server", browse},
        {"end the edge session", endSession},
        {"inside: the internal records appear", moveInside},
    };
}

int runDemo(const Args& input) {
    Args args = input;
    const bool verbose = takeFlag(args, "-v");
    if (!args.empty()) {
        return usageError("demo: unexpected argument '" + args.front() + "' (only -v)");
    }
    if (verbose) {
        oxl::log::setDefaultLevel(OXL_LEVEL_DEBUG);
    }
    std::cout << "oxlnet demo: the library end to end on a loopback sandbox (no outside network)\n\n";
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "oxlnet: demo: global initialisation failed" << std::endl;
        return 1;
    }
    std::cout << "== global initialisation; the library's banner:";
    std::cout << oxl::version::Version::printVersion(false) << "\n";
    DemoContext ctx{std::cout, {}};
    const auto steps = demoSteps();
    std::size_t passed = 0;
    std::string failed;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ctx.out << "\n== " << (i + 1) << ". " << steps[i].title << "\n";
        const int failuresBefore = ctx.failedChecks;
        const bool ok = steps[i].run(ctx) && ctx.failedChecks == failuresBefore;
        ctx.out.flush();
        if (!ok) {
            failed = steps[i].title;
            break;
        }
        ++passed;
    }
    ctx.box.close();
    oxl::netutils::GlobalCleanup();
    ctx.out << "\n== global clean-up: sandbox stopped\n\n";
    if (failed.empty()) {
        ctx.out << "demo: " << passed << " steps passed" << std::endl;
        return 0;
    }
    ctx.out << "demo: " << passed << " of " << steps.size() << " steps passed; failed: " << failed
            << std::endl;
    return 1;
}

}  // namespace

OXLNET_COMMAND("demo", "[-v]",
               "runs the library's main job end to end on a loopback sandbox: DNS detection, edge "
               "configuration, HTTPS with certificate checks, moving inside",
               runDemo);

}  // namespace oxlnet

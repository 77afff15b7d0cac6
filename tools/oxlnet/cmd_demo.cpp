// The end-to-end demo: the library's main job on a loopback sandbox that needs no outside network. dnsmasq,
// two HTTPS edge nodes with a certificate authority made at start and internal web servers stand in for the
// enterprise; the library's edge session runs as a host runs it. The same internal URL is fetched direct
// from inside and through the edge from outside, the session cookie is renewed on time, a dead edge node is
// failed over and the session is ended. Every step checks what it narrates; the exit status is 0 only when
// all of them passed.
#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/common/InvalidCertNotificationManager.h"
#include "oxl/cert/common/UserInteractingInvalidCertManagementPolicy.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/edge/RecentlyUsedServers.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/NamePinning.h"
#include "oxl/ip/ConnectionInformation.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/ip/Nat64Prefix.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/NetUtilsFactory.h"
#include "oxl/netutils/NetworkEventReporter.h"
#include "oxl/version/Version.h"
#include "oxlnet/Command.h"
#include "oxlnet/DemoSandbox.h"

namespace oxlnet {

namespace {

using namespace oxlnet::demo;  // NOLINT(google-build-using-namespace): the demo's own constants
using oxl::edge::GlobalEdgeState;
using oxl::http::HttpClientResult;
using oxl::sandbox::EdgeSandbox;
using Received = EdgeSandbox::ReceivedRequest;
using ConfigResult = GlobalEdgeState::GetEdgeConfigurationResult;

constexpr auto DETECTION_WAIT = std::chrono::seconds(20);

const char* visibleText(bool visible) {
    return visible ? "visible" : "not visible";
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

struct DemoContext {
    std::ostream& out;
    DemoSandbox box;
    int failedChecks = 0;
    Received configReceived;  // the edge's first configuration request

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

// One request through the basic client with the edge policy, narrated as "GET url -> url used -> result".
oxl::http::Response get(DemoContext& ctx, const std::string& url, HttpClientResult::Result& result,
                        const std::vector<oxl::common::Cookie>& cookies = {}) {
    auto request = std::make_shared<oxl::http::Request>(url);
    request->getOptions()->cookies = cookies;
    oxl::http::Response response;
    std::vector<oxl::http::FailedUrlInfo> failed;
    result = ctx.box.client->executeWithFailover(request, {}, response, &failed);
    const std::string used = ctx.box.noted->take();
    for (const auto& f : failed) {
        std::ostringstream text;
        text << "  failed: " << f.url << " " << f.result;
        ctx.say(text.str());
    }
    std::ostringstream text;
    text << "GET " << url << " -> " << (used.empty() || used == url ? std::string("direct") : used) << " -> "
         << result;
    if (result == HttpClientResult::SUCCESS) {
        text << ", status " << response.responseCode;
    }
    ctx.say(text.str());
    return response;
}

std::size_t receivedOf(const DemoSandbox& box, EdgeSandbox::Endpoint endpoint, std::size_t node) {
    std::size_t n = 0;
    for (const auto& r : box.edge->received(node)) {
        n += r.endpoint == endpoint ? 1 : 0;
    }
    return n;
}

bool startSandbox(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
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
    edgeOptions.extraDnsNames = {EDGE1, EDGE2};
    edgeOptions.nodes = 2;
    edgeOptions.cookieDomain = EXTERNAL_DOMAIN;
    edgeOptions.cookiesUnderEdgePath = true;
    edgeOptions.cookieLifetimeSeconds = COOKIE_LIFETIME_SEC;
    box.edge = std::make_unique<oxl::sandbox::EdgeSandbox>(edgeOptions);
    // A password made for this run only; the sandbox and the library hold it, nobody prints it.
    std::string secret = randomSecret();
    if (secret.empty()) {
        return ctx.check(false, "a random password for the demo account");
    }
    box.edge->addUser("alice", secret);
    box.password = oxl::SecureString(secret);
    oxl::secureWipe(secret);
    started = box.edge->start();
    if (!ctx.check(started, "edge nodes " + box.edge->nodeUrl(0) + " and " + box.edge->nodeUrl(1) +
                                " (certificate authority made now, " + std::to_string(COOKIE_LIFETIME_SEC) +
                                " s sessions)")) {
        return false;
    }
    oxl::sandbox::SandboxConfiguration configuration;
    configuration.services.push_back({"_pelko-zds._tcp", {{"127.0.0.1", box.intranet->port(), 10, 0}}, ""});
    configuration.httpEdgeServers = {{EDGE1, box.edge->port(0), 0}, {EDGE2, box.edge->port(1), 0}};
    configuration.sipEdgeServers = {{EDGE1, 5061, 5060}};
    configuration.xmppEdgeServers = {{EDGE1, 5222, 0}};
    configuration.sipRoutes = {std::string("sip:") + EDGE1 + ";lr"};
    box.edge->setConfiguration(configuration);

    box.dns = std::make_unique<oxl::sandbox::DnsSandbox>(box.insideRecords());
    if (!ctx.check(box.dns->isRunning(), "dnsmasq on " + box.dns->address() + " with the inside records")) {
        ctx.out << box.dns->log() << "\n";
        return false;
    }
    box.dnsServer = std::make_unique<oxl::dns::DnsUtilsScopedSetCustomServerAddress>(box.dns->address());
    if (!ctx.check(box.dnsServer->isValid(), "the library's DNS queries go to " + box.dns->address())) {
        return false;
    }
    // libcurl resolves through the system, not through the sandbox's DNS server.
    for (const auto& [host, port] : {std::pair<std::string, uint16_t>{EDGE1, box.edge->port(0)},
                                     {EDGE2, box.edge->port(1)},
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

bool startInside(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    oxl::netutils::GlobalEdgeStateController::init(INTERNAL_DOMAIN, EXTERNAL_DOMAIN);
    box.state = std::dynamic_pointer_cast<oxl::edge::GlobalEdgeStateImpl>(
        oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState());
    if (!ctx.check(box.state != nullptr, std::string("edge session initialised for ") + INTERNAL_DOMAIN +
                                             " and " + EXTERNAL_DOMAIN)) {
        return false;
    }
    // Detection probes more often than a client would, so that the demo finishes in seconds.
    if (auto transitions = std::dynamic_pointer_cast<oxl::edge::EdgeTransitionDetectionControllerImpl>(
            box.state->getEdgeDetectionController()->getEdgeTransitionDetectionController())) {
        transitions->setPollingSchedule(200, 300, 10000);
    }
    box.state->setCredentialsManager(std::make_shared<oxl::edge::DefaultCredentialsManager>(
        oxl::edge::Credentials(USER, box.password, oxl::SecureString())));
    box.recorder = std::make_shared<StateRecorder>();
    box.state->addObserver(box.recorder);

    box.prompt = std::make_shared<RejectingPrompt>();
    oxl::cert::InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(box.prompt);
    auto verifier = oxl::cert::CertVerifierFactory::createCertVerifier();
    // Certificates that fail are put to the user, who here always says no.
    verifier->addPolicy(oxl::cert::UserInteractingInvalidCertManagementPolicy::
                            PromptingAvoidableUserInteractingInvalidCertManagementPolicyBuilder()
                                .build());
    // Edge rewriting, this verifier and the network event reporter come wired from the factory.
    box.client = std::dynamic_pointer_cast<oxl::http::BasicHttpClientImpl>(
        oxl::netutils::NetUtilsFactory().createBasicHttpClient(verifier));
    if (!ctx.check(box.client != nullptr, "a basic client from the factory")) {
        return false;
    }
    box.noted = std::make_shared<UrlNotingEvaluator>();
    box.client->setCurlAnswerEvaluator(box.noted);
    box.client->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
    ctx.say("a basic client with the policy " +
            oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY->getName());

    const bool internal = box.state->isInternalConnectivityAvailable();
    const bool edge = box.state->isEdgeConnectivityAvailable();
    bool ok = ctx.check(internal, std::string("internal network: ") + visibleText(internal) +
                                      " (_pelko-zds._tcp." + INTERNAL_DOMAIN + ")");
    ok = ctx.check(edge, std::string("edge: ") + visibleText(edge) + " (_brisel-edge._tls." +
                             EXTERNAL_DOMAIN + ")") &&
         ok;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    const auto response = get(ctx, box.internalUrl(PAGE), result);
    const std::string body = response.getBodyAsString();
    ok = ctx.check(result == HttpClientResult::SUCCESS && body == PAGE_TEXT,
                   "the internal page came straight from the internal server: \"" +
                       body.substr(0, body.find('\n')) + "\"") &&
         ok;
    ok = ctx.check(box.intranet->requestCount(PAGE) == 1 && box.edge->received().empty(),
                   "the edge saw nothing of it") &&
         ok;
    return ok;
}

bool rejectUntrusted(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    get(ctx, "https://localhost:" + std::to_string(box.untrusted->port()) + PAGE, result);
    const auto prompts = box.prompt->prompts();
    if (!prompts.empty()) {
        ctx.say("prompt: \"" + prompts[0].texts.failureDescription + "\" for " + prompts[0].texts.commonName +
                ", answered: reject");
    }
    bool ok = ctx.check(result == HttpClientResult::CERTIFICATE_VALIDATION_ERROR,
                        "the untrusted server's certificate was rejected");
    ok = ctx.check(prompts.size() == 1 && prompts[0].canTakeDecision &&
                       prompts[0].statuses ==
                           std::set<oxl::cert::CertStatus::Status>{oxl::cert::CertStatus::IS_PARTIAL_CHAIN},
                   "the user was asked once, only because its issuer is unknown") &&
         ok;
    ok = ctx.check(box.untrusted->requestCount(PAGE) == 0, "no request reached the untrusted server") && ok;
    return ok;
}

bool probeAddresses(DemoContext& ctx) {
    std::vector<oxl::dns::ARecord> addresses;
    const auto dnsResult = oxl::dns::DnsUtils::executeARecordQuery(EDGE1, addresses);
    const std::string address = addresses.empty() ? std::string() : addresses[0].getIP4Address();
    if (!ctx.check(dnsResult == oxl::dns::DnsQueryResult::SUCCESS && address == "127.0.0.1",
                   std::string("A record of ") + EDGE1 + ": " + (address.empty() ? "none" : address))) {
        return false;
    }
    auto probe = oxl::ip::ConnectionInformation::buildConnectionInformation();
    const auto result = probe->getConnectionInformationForHost(address, ctx.box.edge->port(0), 5);
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

bool moveOutside(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    if (!ctx.check(box.dns->restart(box.outsideRecords()),
                   "dnsmasq restarted without _pelko-zds._tcp." + std::string(INTERNAL_DOMAIN))) {
        ctx.out << box.dns->log() << "\n";
        return false;
    }
    // What a host does when the OS reports an address change.
    oxl::netutils::NetUtilsFactory().createNetworkEventReporter()->hintHostOsIpInterfaceChanged(
        "demo: outside");
    ctx.say("the network changed; waiting for the detection to notice");
    const bool left =
        box.recorder->waitFor([&] { return !box.state->isInternalConnectivityAvailable(); }, DETECTION_WAIT);
    bool ok = ctx.check(left, "the edge state's observer heard: internal network not visible");
    ok = ctx.check(box.state->isEdgeConnectivityAvailable(), "edge: visible") && ok;
    for (const auto& r : box.state->getEdgeDetectionController()->getEdgeServiceRecordData()) {
        ctx.say("edge record " + oxl::ip::IpUtils::appendPortToAddress(r.host, r.port));
    }
    return ok;
}

bool configurationArrives(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    ConfigResult::Result first = ConfigResult::INTERNAL_ERROR;
    GlobalEdgeState::RequestId id = 0;
    const ConfigResult answer = fetchConfiguration(*box.state, std::chrono::seconds(60), first, id);
    std::ostringstream submitted;
    submitted << "getEdgeConfigurationAsync: " << first << ", request " << id;
    ctx.say(submitted.str());
    std::ostringstream text;
    text << answer.result;
    if (!ctx.check(answer.result == ConfigResult::SUCCESS, "the edge configuration arrived: " + text.str())) {
        return false;
    }
    std::ostringstream config;
    printConfig(config, answer.edgeConfig);
    std::istringstream lines(config.str());
    for (std::string line; std::getline(lines, line);) {
        ctx.say(line);
    }
    const auto server = box.state->getCurrentEdgeServer();
    bool ok = ctx.check(server.address == EDGE1 && server.tlsPort == box.edge->port(0),
                        std::string("fetched from ") + EDGE1 + ", the first edge record");
    const auto http = answer.edgeConfig.getHttpEdgeService().serverLocations;
    ok = ctx.check(http.size() == 2 && http[1].address == EDGE2, "both edge nodes are HTTP edge servers") &&
         ok;
    const long seconds = box.state->getRefreshTimerSeconds();
    ctx.say("refresh in " + std::to_string(seconds) + " s (at " + utc(box.state->getRefreshTimerFireTime()) +
            ")");
    ok = ctx.check(seconds >= 5 && seconds <= 7,
                   "the refresh is due at 70 % of what is left of the cookie's 10 s") &&
         ok;
    const auto received = box.edge->received(0);
    ok = ctx.check(
             received.size() == 1 && received[0].authScheme == "Basic" && received[0].username == "alice",
             "the edge saw one request with basic authentication for alice (the user part of " +
                 std::string(USER) + ")") &&
         ok;
    if (!received.empty()) {
        ctx.configReceived = received[0];
    }
    return ok;
}

bool throughTheEdge(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    auto response = get(ctx, box.internalUrl(PAGE), result);
    const std::string body = response.getBodyAsString();
    bool ok = ctx.check(
        result == HttpClientResult::SUCCESS && body == PAGE_TEXT,
        "the same internal page arrived through the edge: \"" + body.substr(0, body.find('\n')) + "\"");
    ok = ctx.check(
             box.intranet->requestCount(PAGE) == 2 && receivedOf(box, EdgeSandbox::Endpoint::FORWARD, 0) == 1,
             std::string("forwarded by ") + EDGE1 + " under the tokenized base URL " + box.token()) &&
         ok;
    // A cookie the application holds for the internal server is rewritten for the edge on the way out.
    const oxl::common::Cookie held("127.0.0.1\tFALSE\t/cookies\tFALSE\t0\tpref\tblue");
    response = get(ctx, box.internalUrl("/cookies"), result, {held});
    ok =
        ctx.check(result == HttpClientResult::SUCCESS && response.getBodyAsString() == "pref=blue",
                  "the internal server received the application's cookie, and not the edge session cookie") &&
        ok;
    // A cookie the internal server sets comes back under the edge path and is taken out of the answer.
    response = get(ctx, box.internalUrl("/set-cookie?name=sid&value=1&path=/app"), result);
    bool stripped =
        response.getHeader("Set-Cookie").find("Path=/" + box.token() + "/app") != std::string::npos;
    for (const auto& cookie : response.cookies) {
        stripped = stripped && cookie.getName() != "sid";
    }
    ok = ctx.check(
             result == HttpClientResult::SUCCESS && stripped,
             "the internal server's cookie came back under the edge path and was removed from the answer") &&
         ok;
    return ok;
}

bool refreshOnTime(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    const int configsBefore = box.recorder->configs();
    Received refresh;
    const bool seen = box.edge->waitForRequest(
        [&](const Received& r) {
            refresh = r;
            return r.endpoint == EdgeSandbox::Endpoint::REFRESH && r.node == 0;
        },
        std::chrono::seconds(15));
    if (!ctx.check(seen, "the edge received get_edge_refresh")) {
        return false;
    }
    const double after = std::chrono::duration<double>(refresh.at - ctx.configReceived.at).count();
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << after;
    bool ok =
        ctx.check(after >= 5.0 && after < 10.0,
                  "renewed " + text.str() + " s after the configuration, before the cookie's 10 s ran out");
    ok = ctx.check(box.recorder->waitFor([&] { return box.recorder->configs() > configsBefore; },
                                         std::chrono::seconds(10)),
                   "the edge state's observer heard of the renewed session") &&
         ok;
    ok = ctx.check(box.edge->counters().sessionsRefreshed == 1, "the edge renewed the session once") && ok;
    ctx.say("next refresh in " + std::to_string(box.state->getRefreshTimerSeconds()) + " s");
    return ok;
}

bool failOver(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    if (!ctx.check(box.edge->setNodeFault(0, EdgeSandbox::NodeFault::REFUSE),
                   std::string(EDGE1) + " goes down (connections refused)")) {
        return false;
    }
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    const auto response = get(ctx, box.internalUrl(PAGE), result);
    bool ok = ctx.check(result == HttpClientResult::SUCCESS && response.getBodyAsString() == PAGE_TEXT &&
                            receivedOf(box, EdgeSandbox::Endpoint::FORWARD, 1) == 1,
                        std::string("the request failed over to ") + EDGE2 + " with the same session");
    // The client reported the failover; the reporter hands it to the infrastructure event controller, which
    // notes the node as failed. One failover while the cluster still answers is no reason to fetch again.
    bool noted = false;
    for (int i = 0; i < 500 && !noted; ++i) {
        noted = box.state->getRecentlyUsedServers()->isRecentlyFailed(EDGE1);
        if (!noted) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ok = ctx.check(noted, std::string("the network event reporter had ") + EDGE1 + " noted as failed") && ok;
    // When no node of the cluster answers, the event says so and the configuration is fetched again.
    auto infrastructure = oxl::edge::EdgeInfrastructureEventController::getInstance();
    infrastructure->enqueue(infrastructure->createEdgeConnectionFailedEvent(EDGE1, true));
    ctx.say(std::string("infrastructure event: EdgeConnectionFailed ") + EDGE1 + ", whole cluster");
    const bool moved = box.recorder->waitFor(
        [&] { return box.state->getCurrentEdgeServer().address == EDGE2; }, std::chrono::seconds(30));
    ok = ctx.check(moved && receivedOf(box, EdgeSandbox::Endpoint::CONFIG, 1) == 1,
                   std::string("the configuration was fetched again, from ") + EDGE2) &&
         ok;
    ok = ctx.check(box.state->getRefreshTimerSeconds() > 0,
                   "the session is renewed there in " + std::to_string(box.state->getRefreshTimerSeconds()) +
                       " s") &&
         ok;
    return ok;
}

bool endSession(DemoContext& ctx) {
    DemoSandbox& box = ctx.box;
    const auto held = box.state->getEdgeConfiguration();
    std::string old = xAuthCookie(held.edgeConfig).getValue();
    std::ostringstream text;
    text << box.state->terminateEdgeSession();
    bool ok = ctx.check(text.str() == "SUCCESS",
                        "terminateEdgeSession: " + text.str() + " (get_edge_refresh?ttl=0)");
    ok = ctx.check(box.edge->counters().sessionsEnded == 1, "the edge ended the session") && ok;
    ok = ctx.check(!old.empty() && !box.edge->isSessionValid(old),
                   "the old session cookie no longer opens the edge") &&
         ok;
    oxl::secureWipe(old);
    return ok;
}

std::vector<DemoStep> demoSteps() {
    return {
        {"start the sandbox: internal web servers, two HTTPS edge nodes, dnsmasq", startSandbox},
        {"inside: the edge session starts and requests go direct", startInside},
        {"an untrusted server is rejected after a prompt", rejectUntrusted},
        {"addresses: DNS, connection probe and NAT64", probeAddresses},
        {"outside: the internal records disappear", moveOutside},
        {"the edge configuration arrives", configurationArrives},
        {"the same internal URL through the edge", throughTheEdge},
        {"the session cookie is renewed on time", refreshOnTime},
        {"an edge node fails and the other takes over", failOver},
        {"the edge session is ended", endSession},
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

OXLNET_COMMAND(
    "demo", "[-v]",
    "runs the library's main job end to end on a loopback sandbox: the edge session inside and "
    "outside, HTTPS through the edge with certificate checks, refresh, failover, ending the session",
    runDemo);

}  // namespace oxlnet

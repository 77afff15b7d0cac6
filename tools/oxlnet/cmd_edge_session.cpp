// oxlnet edge-session: the global edge state for two domains, as a host runs it. Prints visibility, the
// edge configuration when it arrives (never a cookie value), the refresh schedule, each --get through a
// basic client with the edge-if-required policy, and with --watch every refresh, failover and visibility
// change until the time is up. The session is ended on the edge at the end. Secrets come from standard
// input only.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/NetUtilsFactory.h"
#include "oxlnet/Command.h"
#include "oxlnet/DnsServerOption.h"
#include "oxlnet/EdgeToolSupport.h"
#include "oxlnet/PemFiles.h"

namespace {

using oxl::edge::GlobalEdgeState;
using oxl::edge::GlobalEdgeStateImpl;
using Result = GlobalEdgeState::GetEdgeConfigurationResult;

constexpr long MAX_WATCH_SECONDS = 24 * 3600;

// Lines printed from the state's threads and the main thread do not interleave.
class Printer {
  public:
    void line(const std::string& text) {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::cout << text << "\n" << std::flush;
    }

  private:
    std::mutex mutex_;
};

const char* visible(bool v) {
    return v ? "visible" : "not visible";
}

std::string serverText(const oxl::edge::EdgeServiceLocation& server) {
    return server.address + ":" + std::to_string(server.tlsPort);
}

std::string scheduleText(GlobalEdgeStateImpl& state) {
    const long seconds = state.getRefreshTimerSeconds();
    if (seconds == 0) {
        return "no refresh scheduled";
    }
    return "refresh in " + std::to_string(seconds) + " s (at " +
           oxlnet::utc(state.getRefreshTimerFireTime()) + ")";
}

// Tells, as it happens, what --watch shows: visibility changes, refreshes and failovers.
class Watcher : public oxl::edge::GlobalEdgeStateObserver {
  public:
    Watcher(GlobalEdgeStateImpl& state, Printer& printer, bool verbose)
        : state_(state), printer_(printer), verbose_(verbose) {}

    void onVisibilityChanged() override {
        const bool internal = state_.isInternalConnectivityAvailable();
        const bool edge = state_.isEdgeConnectivityAvailable();
        const std::lock_guard<std::mutex> lock(mutex_);
        if (verbose_ && (internal != internal_ || edge != edge_)) {
            printer_.line(std::string("visibility: internal ") + visible(internal) + ", edge " +
                          visible(edge));
        }
        internal_ = internal;
        edge_ = edge;
    }
    void onEdgeConfigAvailable() override {
        const auto server = state_.getCurrentEdgeServer();
        const std::lock_guard<std::mutex> lock(mutex_);
        if (verbose_ && configs_ > 0) {
            const std::string what = server == server_
                                         ? "refreshed: " + serverText(server)
                                         : "failover: " + serverText(server_) + " -> " + serverText(server);
            printer_.line(what + ", " + scheduleText(state_));
        }
        server_ = server;
        ++configs_;
        changed_.notify_all();
    }
    void setVerbose(bool verbose) {
        const std::lock_guard<std::mutex> lock(mutex_);
        verbose_ = verbose;
    }
    void noteServer(const oxl::edge::EdgeServiceLocation& server) {
        const std::lock_guard<std::mutex> lock(mutex_);
        server_ = server;
        configs_ = std::max(configs_, 1);
    }

  private:
    GlobalEdgeStateImpl& state_;
    Printer& printer_;
    bool verbose_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool internal_ = false;
    bool edge_ = false;
    oxl::edge::EdgeServiceLocation server_;
    int configs_ = 0;
};

struct Options {
    std::string internalDomain;
    std::string externalDomain;
    std::string user;
    bool token = false;
    std::string trustFile;
    std::vector<std::string> gets;
    long watchSeconds = 0;
    oxl::SecureString secret;
};

bool getPage(const std::string& url, oxl::http::BasicHttpClientImpl& client,
             oxlnet::UrlNotingEvaluator& noted, Printer& printer) {
    auto request = std::make_shared<oxl::http::Request>(url);
    oxl::http::Response response;
    std::vector<oxl::http::FailedUrlInfo> failed;
    const auto result = client.executeWithFailover(request, {}, response, &failed);
    const std::string used = noted.take();
    for (const auto& f : failed) {
        std::ostringstream text;
        text << "  failed: " << f.url << " " << f.result;
        printer.line(text.str());
    }
    std::ostringstream text;
    text << url << " -> " << (used.empty() ? url : used) << " -> " << result;
    if (result == oxl::http::HttpClientResult::SUCCESS) {
        text << ", status " << response.responseCode;
    }
    printer.line(text.str());
    return result == oxl::http::HttpClientResult::SUCCESS;
}

int runSession(const Options& o) {
    Printer printer;
    oxl::netutils::GlobalEdgeStateController::init(o.internalDomain, o.externalDomain);
    auto state = std::dynamic_pointer_cast<GlobalEdgeStateImpl>(
        oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState());
    if (!state) {
        std::cerr << "oxlnet: edge-session: the global edge state could not be built" << std::endl;
        return 1;
    }
    const oxl::SecureString none;
    state->setCredentialsManager(std::make_shared<oxl::edge::DefaultCredentialsManager>(
        oxl::edge::Credentials(o.user, o.token ? none : o.secret, o.token ? o.secret : none)));
    auto watcher = std::make_shared<Watcher>(*state, printer, false);
    state->addObserver(watcher);

    const bool internal = state->isInternalConnectivityAvailable();
    const bool edge = state->isEdgeConnectivityAvailable();
    printer.line(std::string("internal: ") + visible(internal));
    printer.line(std::string("edge: ") + visible(edge));
    watcher->onVisibilityChanged();

    bool ok = true;
    if (edge) {
        // Each edge server is given at most a minute; a few of them fit well in five.
        Result::Result first = Result::INTERNAL_ERROR;
        GlobalEdgeState::RequestId id = 0;
        const Result answer = oxlnet::fetchConfiguration(*state, std::chrono::minutes(5), first, id);
        std::ostringstream text;
        text << "configuration: " << answer.result;
        if (answer.result == Result::SUCCESS) {
            const auto server = state->getCurrentEdgeServer();
            watcher->noteServer(server);
            text << " from " << serverText(server);
        }
        printer.line(text.str());
        if (answer.result == Result::SUCCESS) {
            std::ostringstream config;
            oxlnet::printConfig(config, answer.edgeConfig);
            std::string block = config.str();
            if (!block.empty() && block.back() == '\n') {
                block.pop_back();
            }
            printer.line(block);
            printer.line(scheduleText(*state));
        } else {
            ok = false;
        }
    } else {
        printer.line("configuration: not fetched, the edge is not visible");
    }

    auto client = std::dynamic_pointer_cast<oxl::http::BasicHttpClientImpl>(
        oxl::netutils::NetUtilsFactory().createBasicHttpClient());
    auto noted = std::make_shared<oxlnet::UrlNotingEvaluator>();
    client->setCurlAnswerEvaluator(noted);
    client->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
    for (const auto& url : o.gets) {
        ok = getPage(url, *client, *noted, printer) && ok;
    }

    if (o.watchSeconds > 0) {
        printer.line("watching for " + std::to_string(o.watchSeconds) + " s");
        watcher->setVerbose(true);
        std::mutex mutex;
        std::condition_variable never;
        std::unique_lock<std::mutex> lock(mutex);
        never.wait_for(lock, std::chrono::seconds(o.watchSeconds), [] { return false; });
        watcher->setVerbose(false);
    }

    if (edge) {
        std::ostringstream text;
        text << "session ended: " << state->terminateEdgeSession();
        printer.line(text.str());
    }
    state->removeObserver(watcher);
    state->stop();
    client.reset();
    state.reset();
    oxl::netutils::GlobalEdgeStateController::reset();
    return ok ? 0 : 1;
}

int runEdgeSession(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    Options o;
    if (!oxlnet::takeOption(args, "--internal-domain", o.internalDomain) ||
        !oxlnet::takeOption(args, "--external-domain", o.externalDomain) || o.internalDomain.empty() ||
        o.externalDomain.empty()) {
        return oxlnet::usageError("edge-session: --internal-domain and --external-domain are required");
    }
    int status = 0;
    std::optional<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dnsServer;
    if (!oxlnet::takeDnsServerOption(args, dnsServer, status)) {
        return status;
    }
    const bool hasUser = oxlnet::takeOption(args, "--user", o.user);
    const bool passwordStdin = oxlnet::takeFlag(args, "--password-stdin");
    o.token = oxlnet::takeFlag(args, "--token-stdin");
    const bool hasTrust = oxlnet::takeOption(args, "--trust", o.trustFile);
    const std::vector<std::string> resolves = oxlnet::takeOptions(args, "--resolve");
    o.gets = oxlnet::takeOptions(args, "--get");
    std::string watch;
    if (oxlnet::takeOption(args, "--watch", watch)) {
        char* end = nullptr;
        o.watchSeconds = std::strtol(watch.c_str(), &end, 10);
        if (watch.empty() || *end != '\0' || o.watchSeconds < 1 || o.watchSeconds > MAX_WATCH_SECONDS) {
            return oxlnet::usageError("edge-session: --watch takes 1 to " +
                                      std::to_string(MAX_WATCH_SECONDS) + " seconds");
        }
    }
    if (oxlnet::takeFlag(args, "--password") || oxlnet::takeFlag(args, "--token")) {
        return oxlnet::usageError("edge-session: secrets are read from standard input only");
    }
    if (!args.empty()) {
        return oxlnet::usageError("edge-session: unexpected argument '" + args.front() + "'");
    }
    const bool userMode = hasUser && !o.user.empty() && passwordStdin && !o.token;
    const bool tokenMode = o.token && !hasUser && !passwordStdin;
    if (!userMode && !tokenMode) {
        return oxlnet::usageError("edge-session: give either --user U --password-stdin or --token-stdin");
    }
    std::string trustProblem;
    if (hasTrust &&
        !oxlnet::pem::isReadableRegularFile(o.trustFile, oxlnet::pem::MAX_INPUT_FILE_BYTES, trustProblem)) {
        return oxlnet::usageError("edge-session: --trust: " + trustProblem);
    }
    for (const auto& entry : resolves) {
        if (!oxlnet::pinResolve(entry)) {
            return oxlnet::usageError("edge-session: invalid --resolve '" + entry + "' (HOST:PORT:ADDR)");
        }
    }
    std::string problem;
    if (!oxlnet::readSecret(o.secret, problem)) {
        return oxlnet::usageError(std::string("edge-session: ") + (o.token ? "token" : "password") +
                                  " on standard input: " + problem);
    }
    if (hasTrust) {
        oxl::cert::PlatformCertVerifier::setTrustFile(o.trustFile);
    }
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "oxlnet: edge-session: global initialisation failed" << std::endl;
        return 1;
    }
    status = runSession(o);
    oxl::netutils::GlobalCleanup();
    return status;
}

}  // namespace

OXLNET_COMMAND(
    "edge-session",
    "--internal-domain D --external-domain E [--dns-server ADDR:PORT] (--user U --password-stdin | "
    "--token-stdin) [--trust FILE] [--resolve H:P:A]... [--get URL]... [--watch SECONDS]",
    "runs the global edge state: visibility, the edge configuration and its refresh schedule, "
    "each --get through the edge when outside, and with --watch refreshes, failovers and "
    "visibility changes as they happen; never prints a cookie value",
    runEdgeSession);

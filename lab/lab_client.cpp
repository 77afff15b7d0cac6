// The lab's client: the library as a host application runs it, asking for one internal URL every interval
// and writing every outcome and every notice it hears as a "T=<ms> ..." line on the monotonic clock, which
// the lab script shares. The password comes as the first line of standard input; the client stops when
// standard input closes or says "quit".
//
//   T=.. start internal=1 edge=0
//   T=.. obs visibility internal=0 edge=1
//   T=.. obs config server=edge1.ext.test:443 refresh_s=14
//   T=.. req seq=7 start=.. ms=12 route=edge server=edge1.ext.test result=SUCCESS status=200 via=QZ_C
//   T=.. event label=edge.successful.failover.hostUnreachableError server=edge1.ext.test
#include <openssl/crypto.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/edge/CredentialsManager.h"
#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/EdgePolicy.h"
#include "oxl/http/HttpNetworkEvent.h"
#include "oxl/http/HttpNetworkEventReporter.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/EdgeUtilsAdapter.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxlnet/EdgeToolSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using oxl::edge::GlobalEdgeState;
using oxl::edge::GlobalEdgeStateImpl;
using oxl::http::HttpClientResult;
using oxl::http::HttpNetworkEvent;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// One line per fact; lines from the library's threads and the client's own do not interleave.
class Journal {
  public:
    void line(const std::string& text) {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::cout << "T=" << nowMs() << " " << text << "\n" << std::flush;
    }

  private:
    std::mutex mutex_;
};

// What a host's network event reporter does with the HTTP client's reports, on one thread of its own so
// that no transfer waits: edge failures go to the edge infrastructure event controller (a failover that
// went through is one server's failure, a request that failed on every server the cluster's).
class LabEventReporter : public oxl::http::HttpNetworkEventReporter {
  public:
    explicit LabEventReporter(Journal& journal) : journal_(journal), worker_([this] { run(); }) {}
    ~LabEventReporter() override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        worker_.join();
    }
    void hintNetworkInterfaceMightHaveDropped(const std::string& label) override { post(label, {}); }
    void hintNetworkStackNotReady(const std::string& label) override { post(label, {}); }
    void hintNetworkIsInUse(const std::string&) override {}
    void edgeInfrastructureEvent(const std::string& label, const std::string& server) override {
        post(label, server);
    }

  private:
    void post(const std::string& label, const std::string& server) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.emplace_back(label, server);
        }
        cv_.notify_all();
    }
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            auto [label, server] = queue_.front();
            queue_.pop_front();
            lock.unlock();
            deliver(label, server);
            lock.lock();
        }
    }
    void deliver(const std::string& label, const std::string& server) {
        journal_.line("event label=" + label + " server=" + server);
        if (server.empty() || !oxl::netutils::GlobalEdgeStateController::isInitialized()) {
            return;
        }
        auto controller = oxl::edge::EdgeInfrastructureEventController::getInstance();
        if (!controller) {
            return;
        }
        const std::string failover = HttpNetworkEvent::EDGE_FAILOVER_PREFIX;
        const bool survived = label.rfind(failover, 0) == 0;
        const auto endsWith = [&](const char* suffix) {
            const std::string s = suffix;
            return label.size() >= s.size() && label.compare(label.size() - s.size(), s.size(), s) == 0;
        };
        if (label == HttpNetworkEvent::EDGE_OAUTH_EXPIRED) {
            controller->enqueue(controller->createEdgeOauthExpiredEvent(server));
        } else if (label == HttpNetworkEvent::EDGE_AUTHENTICATION_REQUIRED) {
            controller->enqueue(controller->createEdgeAuthenticationRequiredEvent(server));
        } else if (label == HttpNetworkEvent::EDGE_INTERNAL_SERVER_ERROR) {
            controller->enqueue(controller->createEdgeInternalServerErrorEvent(server));
        } else if (label == HttpNetworkEvent::EDGE_SERVICE_UNAVAILABLE) {
            controller->enqueue(controller->createEdgeServiceUnavailableEvent(server));
        } else if (label == HttpNetworkEvent::EDGE_NEXT_HOP_FAILED) {
            controller->enqueue(controller->createEdgeNextHopFailedEvent(server));
        } else if (endsWith(HttpNetworkEvent::UNRESOLVED_HOST_SUFFIX)) {
            controller->enqueue(controller->createEdgeUnresolvedHostEvent(server, !survived));
        } else if (endsWith(HttpNetworkEvent::HOST_UNREACHABLE_SUFFIX) ||
                   endsWith(HttpNetworkEvent::CONNECTION_TIMEOUT_SUFFIX) ||
                   endsWith(HttpNetworkEvent::CERT_VALIDATION_SUFFIX)) {
            controller->enqueue(controller->createEdgeConnectionFailedEvent(server, !survived));
        }
    }

    Journal& journal_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::pair<std::string, std::string>> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

class ConfigListener : public oxl::edge::GetEdgeConfigurationListener {
  public:
    explicit ConfigListener(Journal& journal) : journal_(journal) {}
    void onEdgeConfigurationRetrieved(GlobalEdgeState::RequestId id,
                                      const GlobalEdgeState::GetEdgeConfigurationResult& result) override {
        std::ostringstream text;
        text << "config_result id=" << id << " result=" << result.result;
        journal_.line(text.str());
    }

  private:
    Journal& journal_;
};

// Logs what the edge state tells its observers; like a host, asks for the edge configuration as soon as
// only the edge is visible.
class StateWatcher : public oxl::edge::GlobalEdgeStateObserver {
  public:
    StateWatcher(GlobalEdgeStateImpl& state, Journal& journal)
        : state_(state), journal_(journal), listener_(std::make_shared<ConfigListener>(journal)) {}
    void onVisibilityChanged() override {
        const bool internal = state_.isInternalConnectivityAvailable();
        const bool edge = state_.isEdgeConnectivityAvailable();
        journal_.line("obs visibility internal=" + std::to_string(internal) +
                      " edge=" + std::to_string(edge));
        if (edge && !internal) {
            GlobalEdgeState::RequestId id = 0;
            const auto first = state_.getEdgeConfigurationAsync(listener_, id);
            std::ostringstream text;
            text << "config_async first=" << first.result << " id=" << id;
            journal_.line(text.str());
        }
    }
    void onEdgeConfigAvailable() override {
        const auto server = state_.getCurrentEdgeServer();
        journal_.line("obs config server=" + server.address + ":" + std::to_string(server.tlsPort) +
                      " refresh_s=" + std::to_string(state_.getRefreshTimerSeconds()));
    }

  private:
    GlobalEdgeStateImpl& state_;
    Journal& journal_;
    std::shared_ptr<ConfigListener> listener_;
};

struct Settings {
    std::string internalDomain = "corp.test";
    std::string externalDomain = "ext.test";
    std::string user;
    std::string trustFile;
    std::string url;
    long intervalMs = 200;
    std::size_t workers = 6;
    oxl::SecureString password;
};

// One basic client per worker, so that a request stuck on a dead link does not hold up the next ones.
struct Worker {
    std::shared_ptr<oxlnet::ReportingTransformer> transformer;
    std::shared_ptr<oxl::http::BasicHttpClientImpl> client;
    std::atomic<bool> busy{false};
    std::thread thread;
};

// Everything the lab builds from the library, in one place: the factory will take this over.
struct Session {
    std::shared_ptr<GlobalEdgeStateImpl> state;
    std::shared_ptr<StateWatcher> watcher;
    std::shared_ptr<LabEventReporter> reporter;
    std::vector<std::unique_ptr<Worker>> workers;
};

bool buildSession(const Settings& s, Journal& journal, Session& session) {
    oxl::cert::PlatformCertVerifier::setTrustFile(s.trustFile);
    oxl::netutils::GlobalEdgeStateController::init(s.internalDomain, s.externalDomain);
    session.state = std::dynamic_pointer_cast<GlobalEdgeStateImpl>(
        oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState());
    if (!session.state) {
        return false;
    }
    session.state->setCredentialsManager(std::make_shared<oxl::edge::DefaultCredentialsManager>(
        oxl::edge::Credentials(s.user, s.password, oxl::SecureString())));
    session.watcher = std::make_shared<StateWatcher>(*session.state, journal);
    session.state->addObserver(session.watcher);
    session.reporter = std::make_shared<LabEventReporter>(journal);
    for (std::size_t i = 0; i < s.workers; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->transformer = std::make_shared<oxlnet::ReportingTransformer>(
            std::make_shared<oxl::netutils::adapters::EdgeUtilsAdapter>());
        worker->client = oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
            worker->transformer,
            std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
                oxl::cert::CertVerifierFactory::createCertVerifier()),
            nullptr, session.reporter);
        worker->client->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
        session.workers.push_back(std::move(worker));
    }
    return true;
}

void request(const Settings& s, Worker& worker, long seq, Journal& journal) {
    const long long start = nowMs();
    auto options = std::make_shared<oxl::http::HttpRequestOptions>(s.url);
    // A request that went out on a link that is gone must not wait a minute.
    options->connectionTimeout = 2000;
    options->transferTimeout = 4000;
    auto req = std::make_shared<oxl::http::Request>(options);
    oxl::http::Response response;
    std::vector<oxl::http::FailedUrlInfo> failed;
    const auto result = worker.client->executeWithFailover(req, {}, response, &failed);
    const std::string used = worker.transformer->take();
    std::ostringstream text;
    text << "req seq=" << seq << " start=" << start << " ms=" << (nowMs() - start)
         << " route=" << (used.empty() ? "direct" : "edge") << " server="
         << oxl::http::HttpUtils::extractHostFromHttpUrl(response.url.empty() ? s.url : response.url)
         << " result=" << result << " status=" << response.responseCode;
    const std::string via = response.getHeader("Server");
    text << " via=" << (via.empty() ? "-" : via);
    for (const auto& f : failed) {
        text << " failed=" << oxl::http::HttpUtils::extractHostFromHttpUrl(f.url) << ":" << f.result;
    }
    response.wipeText();
    journal.line(text.str());
}

int run(Settings& s) {
    Journal journal;
    Session session;
    if (!buildSession(s, journal, session)) {
        std::cerr << "oxl_lab_client: the global edge state could not be built" << std::endl;
        return 1;
    }
    const bool internal = session.state->isInternalConnectivityAvailable();
    const bool edge = session.state->isEdgeConnectivityAvailable();
    journal.line("start internal=" + std::to_string(internal) + " edge=" + std::to_string(edge));

    std::atomic<bool> stop{false};
    std::thread input([&] {
        std::string line;
        while (std::getline(std::cin, line) && line != "quit") {
        }
        stop = true;
    });
    long seq = 0;
    auto next = Clock::now();
    while (!stop) {
        ++seq;
        Worker* free = nullptr;
        for (auto& w : session.workers) {
            if (!w->busy) {
                free = w.get();
                break;
            }
        }
        if (free == nullptr) {
            journal.line("req seq=" + std::to_string(seq) + " start=" + std::to_string(nowMs()) +
                         " ms=0 route=none server=- result=BUSY status=0 via=-");
        } else {
            if (free->thread.joinable()) {
                free->thread.join();
            }
            free->busy = true;
            free->thread = std::thread([&s, free, seq, &journal] {
                request(s, *free, seq, journal);
                free->busy = false;
            });
        }
        next += std::chrono::milliseconds(s.intervalMs);
        std::this_thread::sleep_until(next);
    }
    input.join();
    for (auto& w : session.workers) {
        if (w->thread.joinable()) {
            w->thread.join();
        }
    }
    std::ostringstream ended;
    ended << "end terminate=" << session.state->terminateEdgeSession();
    journal.line(ended.str());
    session.state->removeObserver(session.watcher);
    session.state->stop();
    session.workers.clear();
    session.state.reset();
    oxl::netutils::GlobalEdgeStateController::reset();
    session.reporter.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Settings s;
    std::map<std::string, std::string> o;
    for (int i = 1; i + 1 < argc; i += 2) {
        o[argv[i]] = argv[i + 1];
    }
    s.user = o["--user"];
    s.trustFile = o["--trust"];
    s.url = o["--url"];
    if (o.count("--internal-domain")) {
        s.internalDomain = o["--internal-domain"];
    }
    if (o.count("--external-domain")) {
        s.externalDomain = o["--external-domain"];
    }
    if (o.count("--interval-ms")) {
        s.intervalMs = std::max(10L, std::atol(o["--interval-ms"].c_str()));
    }
    if (o.count("--log-level")) {
        // 2 errors ... 6 trace, on standard error; secrets are never logged at any level.
        oxl::log::setDefaultLevel(std::atoi(o["--log-level"].c_str()));
    }
    if (s.user.empty() || s.trustFile.empty() || s.url.empty()) {
        std::cerr
            << "usage: oxl_lab_client --user U --trust FILE --url URL [--internal-domain D] "
               "[--external-domain E] [--interval-ms N] [--log-level 2..6]   (password on standard input)\n";
        return 2;
    }
    std::string secret;
    std::getline(std::cin, secret);
    if (secret.empty()) {
        std::cerr << "oxl_lab_client: no password on standard input" << std::endl;
        return 2;
    }
    s.password = oxl::SecureString(secret);
    OPENSSL_cleanse(secret.data(), secret.size());
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "oxl_lab_client: global initialisation failed" << std::endl;
        return 1;
    }
    const int status = run(s);
    oxl::netutils::GlobalCleanup();
    return status;
}

// How a host application embeds oxlnetutils: global initialisation, the edge session for its two domains,
// credentials, a basic and a multi client from the factory, an observer that prints what changes, and the
// clean-up in reverse order. Only the installed public headers are used.
//
//   oxl_host_example [--internal-domain D] [--external-domain E] [--user U] [--dns-server ADDR:PORT] [URL...]
//
// With --user, the password is read as one line from standard input. Each URL is fetched once with the
// basic client and once with the multi client.
#include <oxl/edge/CredentialsManager.h>
#include <oxl/edge/GlobalEdgeStateImpl.h>
#include <oxl/oxlnetutils.h>

#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Told by the edge state when the visibility changes or a configuration arrives (on the library's threads).
class PrintingObserver : public oxl::edge::GlobalEdgeStateObserver {
  public:
    explicit PrintingObserver(std::shared_ptr<oxl::edge::GlobalEdgeState> state) : state_(std::move(state)) {}

    void onVisibilityChanged() override {
        auto state = state_.lock();
        if (!state) {
            return;
        }
        print(std::string("visibility changed: internal ") +
              visible(state->isInternalConnectivityAvailable()) + ", edge " +
              visible(state->isEdgeConnectivityAvailable()));
    }
    void onEdgeConfigAvailable() override { print("edge configuration available"); }

    static const char* visible(bool v) { return v ? "visible" : "not visible"; }
    static void print(const std::string& line) {
        static std::mutex mutex;
        const std::lock_guard<std::mutex> lock(mutex);
        std::cout << line << std::endl;
    }

  private:
    std::weak_ptr<oxl::edge::GlobalEdgeState> state_;
};

// Waits for the one request the multi client was given.
class WaitingListener : public oxl::http::HttpClientListener {
  public:
    void onRequestFailed(unsigned int, oxl::http::HttpClientResult::Result result) override {
        finish(result, 0);
    }
    void onRequestCompleted(unsigned int, oxl::http::Response& response) override {
        finish(oxl::http::HttpClientResult::SUCCESS, response.responseCode);
    }
    void wait(oxl::http::HttpClientResult::Result& result, int& status) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return finished_; });
        result = result_;
        status = status_;
    }

  private:
    void finish(oxl::http::HttpClientResult::Result result, int status) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            result_ = result;
            status_ = status;
            finished_ = true;
        }
        done_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    oxl::http::HttpClientResult::Result result_ = oxl::http::HttpClientResult::UNKNOWN_ERROR;
    int status_ = 0;
};

std::string outcome(oxl::http::HttpClientResult::Result result, int status) {
    std::ostringstream text;
    text << result;
    if (result == oxl::http::HttpClientResult::SUCCESS) {
        text << ", status " << status;
    }
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::string internalDomain = "corp.example";
    std::string externalDomain = "example.com";
    std::string user;
    std::string dnsServer;
    std::vector<std::string> urls;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--internal-domain" && hasValue) {
            internalDomain = argv[++i];
        } else if (arg == "--external-domain" && hasValue) {
            externalDomain = argv[++i];
        } else if (arg == "--user" && hasValue) {
            user = argv[++i];
        } else if (arg == "--dns-server" && hasValue) {
            dnsServer = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << "unknown option " << arg << std::endl;
            return 2;
        } else {
            urls.push_back(arg);
        }
    }

    // 1. Once per process, before anything else uses libcurl.
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "GlobalInit failed" << std::endl;
        return 1;
    }
    {
        // Queries for the edge's DNS records go to this server while the object lives.
        std::unique_ptr<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dns;
        if (!dnsServer.empty()) {
            dns = std::make_unique<oxl::dns::DnsUtilsScopedSetCustomServerAddress>(dnsServer);
        }

        // 2. The edge session: detection, configuration and refresh for the two domains.
        oxl::netutils::GlobalEdgeStateController::init(internalDomain, externalDomain);
        auto state = oxl::netutils::GlobalEdgeStateController::getGlobalEdgeState();
        if (!user.empty()) {
            std::string line;
            std::getline(std::cin, line);
            const oxl::SecureString password(line);
            oxl::secureWipe(line);
            state->setCredentialsManager(std::make_shared<oxl::edge::DefaultCredentialsManager>(
                oxl::edge::Credentials(user, password, oxl::SecureString())));
        }
        auto observer = std::make_shared<PrintingObserver>(state);
        state->addObserver(observer);
        PrintingObserver::print(std::string("internal: ") +
                                PrintingObserver::visible(state->isInternalConnectivityAvailable()));
        PrintingObserver::print(std::string("edge: ") +
                                PrintingObserver::visible(state->isEdgeConnectivityAvailable()));

        // 3. Clients from the factory: edge rewriting, certificate checks and network events come wired.
        const oxl::netutils::NetUtilsFactory factory;
        auto basic = factory.createBasicHttpClient();
        auto multi = factory.createMultiHttpClient();
        basic->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
        multi->addPolicy(oxl::http::EdgePolicy::USE_EDGE_IF_REQUIRED_POLICY);
        PrintingObserver::print("clients ready");
        for (const auto& url : urls) {
            oxl::http::Response response;
            const auto result = basic->execute(std::make_shared<oxl::http::Request>(url), response);
            PrintingObserver::print("basic " + url + " -> " + outcome(result, response.responseCode));

            auto request = std::make_shared<oxl::http::Request>(url);
            auto listener = std::make_shared<WaitingListener>();
            request->setListener(listener);
            unsigned int id = 0;
            const auto queued = multi->enqueueRequest(request, id);
            if (queued != oxl::http::HttpClientError::SUCCESS) {
                std::ostringstream text;
                text << queued;
                PrintingObserver::print("multi " + url + " not queued: " + text.str());
                continue;
            }
            oxl::http::HttpClientResult::Result multiResult;
            int status = 0;
            listener->wait(multiResult, status);
            PrintingObserver::print("multi " + url + " -> " + outcome(multiResult, status));
        }

        // 4. Clean-up: clients first, then the session (ended on the edge), then the library.
        multi.reset();
        basic.reset();
        state->removeObserver(observer);
        if (auto impl = std::dynamic_pointer_cast<oxl::edge::GlobalEdgeStateImpl>(state)) {
            impl->stop();
        }
        state.reset();
        oxl::netutils::GlobalEdgeStateController::reset();
    }
    oxl::netutils::GlobalCleanup();
    PrintingObserver::print("cleaned up");
    return 0;
}

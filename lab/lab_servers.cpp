// The lab's servers, one role per process so that each runs in the network namespace it belongs to:
//   intranet  an HTTPS web server of the enterprise (one page), in the office;
//   edge      a cluster of two edge nodes on the internet, forwarding to the intranet for a live session.
// The first line of standard input of the edge is the account's password; later lines are commands
// ("refuse N" closes node N, "quit"). Both print "ready" once serving and then, as "T=<ms> ..." lines on
// the monotonic clock shared with the lab client, what they were asked.
#include <openssl/crypto.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/EdgeSandbox.h"
#include "sandbox/InternalWebServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using oxl::sandbox::EdgeSandbox;

std::mutex outMutex;

long long msOf(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void say(const std::string& text, Clock::time_point at = Clock::now()) {
    const std::lock_guard<std::mutex> lock(outMutex);
    std::cout << "T=" << msOf(at) << " " << text << std::endl;
}

std::map<std::string, std::string> options(int argc, char** argv, int first) {
    std::map<std::string, std::string> o;
    for (int i = first; i + 1 < argc; i += 2) {
        o[argv[i]] = argv[i + 1];
    }
    return o;
}

const char* endpointName(EdgeSandbox::Endpoint e) {
    switch (e) {
        case EdgeSandbox::Endpoint::CONFIG:
            return "config";
        case EdgeSandbox::Endpoint::REFRESH:
            return "refresh";
        case EdgeSandbox::Endpoint::FORWARD:
            return "forward";
        case EdgeSandbox::Endpoint::OTHER:
            break;
    }
    return "other";
}

int runIntranet(std::map<std::string, std::string> o) {
    oxl::sandbox::InternalWebServer::Options options;
    options.host = o["--host"];
    options.https = true;
    options.certFile = o["--cert"];
    options.keyFile = o["--key"];
    oxl::sandbox::InternalWebServer server(options);
    server.addFile("/lab.txt", "intranet page\n");
    if (!server.start()) {
        std::cerr << "lab_servers: intranet could not start" << std::endl;
        return 1;
    }
    say("ready intranet " + server.url("/lab.txt"));
    // Serves until its standard input closes (the lab closes it, or dies).
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server.stop();
    return 0;
}

// Prints every request the cluster has received since the last call.
void drainReceived(const EdgeSandbox& edge, std::size_t& printed) {
    const auto all = edge.received();
    for (; printed < all.size(); ++printed) {
        const auto& r = all[printed];
        const std::lock_guard<std::mutex> lock(outMutex);
        std::cout << "T=" << msOf(r.at) << " edge node=" << r.node << " endpoint=" << endpointName(r.endpoint)
                  << " status=" << r.status << std::endl;
    }
}

int runEdge(std::map<std::string, std::string> o) {
    EdgeSandbox::Options options;
    options.domain = o["--domain"];
    options.host = o["--host"];
    options.port = static_cast<uint16_t>(std::atoi(o["--port"].c_str()));
    options.certFile = o["--cert"];
    options.keyFile = o["--key"];
    options.internalTrustFile = o["--internal-trust"];
    options.cookieDomain = o["--cookie-domain"];
    options.cookiesUnderEdgePath = true;
    // As a production edge: a request sent with the cookie a refresh is replacing still gets through.
    options.keepRefreshedSessions = true;
    options.cookieLifetimeSeconds = std::atol(o["--lifetime"].c_str());
    options.nodes = 2;
    EdgeSandbox edge(options);

    std::string secret;
    std::getline(std::cin, secret);
    if (secret.empty()) {
        std::cerr << "lab_servers: no password on standard input" << std::endl;
        return 2;
    }
    edge.addUser(o["--user"], secret);
    OPENSSL_cleanse(secret.data(), secret.size());
    if (!edge.start()) {
        std::cerr << "lab_servers: edge could not start" << std::endl;
        return 1;
    }
    // The configuration names both nodes by the names the internet's DNS gives them.
    oxl::sandbox::SandboxConfiguration config;
    config.services.push_back(
        {"_pelko-zds._tcp",
         {{o["--intranet-host"], static_cast<unsigned>(std::atoi(o["--intranet-port"].c_str())), 10, 0}},
         ""});
    config.httpEdgeServers = {{o["--node0-name"], edge.port(0), 0}, {o["--node1-name"], edge.port(1), 0}};
    config.sipEdgeServers = config.xmppEdgeServers = config.httpEdgeServers;
    config.sipRoutes = {"sip:" + o["--node0-name"] + ";lr"};
    edge.setConfiguration(config);
    say("ready edge node0=" + std::to_string(edge.port(0)) + " node1=" + std::to_string(edge.port(1)));

    std::size_t printed = 0;
    bool done = false;
    std::thread commands([&] {
        std::string line;
        while (std::getline(std::cin, line) && line != "quit") {
            if (line.rfind("refuse ", 0) == 0) {
                const auto node = static_cast<std::size_t>(std::atoi(line.c_str() + 7));
                // Stamped when the node starts going away: closing it can take a while, and clients
                // already see it refuse before it is done.
                const auto at = Clock::now();
                const bool ok = edge.setNodeFault(node, EdgeSandbox::NodeFault::REFUSE);
                say("refused node=" + std::to_string(node) + (ok ? " ok" : " failed") +
                        " took_ms=" + std::to_string(msOf(Clock::now()) - msOf(at)),
                    at);
            }
        }
        const std::lock_guard<std::mutex> lock(outMutex);
        done = true;
    });
    for (;;) {
        drainReceived(edge, printed);
        {
            const std::lock_guard<std::mutex> lock(outMutex);
            if (done) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    commands.join();
    edge.stop();
    drainReceived(edge, printed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::string role = argc > 1 ? argv[1] : "";
    if (role == "intranet") {
        return runIntranet(options(argc, argv, 2));
    }
    if (role == "edge") {
        return runEdge(options(argc, argv, 2));
    }
    std::cerr
        << "usage: oxl_lab_servers intranet --host H --cert C --key K (on a free port)\n"
           "       oxl_lab_servers edge --domain D --host H --port P --cert C --key K --internal-trust F\n"
           "           --cookie-domain D --lifetime S --user U --intranet-host H --intranet-port P\n"
           "           --node0-name N --node1-name N   (password, then commands, on standard input)\n";
    return 2;
}

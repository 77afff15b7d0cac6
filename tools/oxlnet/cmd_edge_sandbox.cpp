// oxlnet edge-sandbox: runs the sandbox edge server on loopback for a while, so that edge-config (or any
// HTTPS client) can be tried against it. The password or token of its one account is read from standard
// input.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "oxl/runtime/SecureString.h"
#include "oxlnet/Command.h"
#include "oxlnet/EdgeToolSupport.h"
#include "sandbox/EdgeSandbox.h"

namespace {

bool parseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoul(text);
    return value <= max;
}

// "HOST:PORT"
bool parseEdgeServer(const std::string& text, oxl::sandbox::SandboxEdgeServer& server) {
    const std::size_t colon = text.rfind(':');
    unsigned long port = 0;
    if (colon == std::string::npos || colon == 0 || !parseNumber(text.substr(colon + 1), 65535, port) ||
        port == 0) {
        return false;
    }
    server.address = text.substr(0, colon);
    server.tlsPort = static_cast<unsigned int>(port);
    return true;
}

// "NAME=HOST:PORT:PRIORITY:WEIGHT"
bool parseService(const std::string& text, oxl::sandbox::SandboxConfiguration& config) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) {
        return false;
    }
    std::string parts[4];
    std::size_t start = eq + 1;
    for (int i = 0; i < 4; ++i) {
        const std::size_t colon = i == 3 ? std::string::npos : text.find(':', start);
        if (i < 3 && colon == std::string::npos) {
            return false;
        }
        parts[i] = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        start = colon + 1;
    }
    unsigned long port = 0, priority = 0, weight = 0;
    if (parts[0].empty() || !parseNumber(parts[1], 65535, port) || !parseNumber(parts[2], 65535, priority) ||
        !parseNumber(parts[3], 65535, weight)) {
        return false;
    }
    const std::string name = text.substr(0, eq);
    for (auto& s : config.services) {
        if (s.name == name) {
            s.servers.push_back({parts[0], static_cast<unsigned>(port), static_cast<unsigned>(priority),
                                 static_cast<unsigned>(weight)});
            return true;
        }
    }
    config.services.push_back({name,
                               {{parts[0], static_cast<unsigned>(port), static_cast<unsigned>(priority),
                                 static_cast<unsigned>(weight)}},
                               ""});
    return true;
}

int runEdgeSandbox(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    oxl::sandbox::EdgeSandbox::Options options;
    std::string user, text;
    unsigned long seconds = 60, maxRequests = 0, lifetime = 3600, port = 0;
    if (!oxlnet::takeOption(args, "--domain", options.domain) || options.domain.empty()) {
        return oxlnet::usageError("edge-sandbox: --domain is required");
    }
    const bool hasUser = oxlnet::takeOption(args, "--user", user);
    const bool tokenStdin = oxlnet::takeFlag(args, "--token-stdin");
    const bool passwordStdin = oxlnet::takeFlag(args, "--password-stdin");
    if (hasUser != passwordStdin || hasUser == tokenStdin) {
        return oxlnet::usageError("edge-sandbox: give either --user U --password-stdin or --token-stdin");
    }
    if (oxlnet::takeOption(args, "--port", text) && (!parseNumber(text, 65535, port))) {
        return oxlnet::usageError("edge-sandbox: invalid port '" + text + "'");
    }
    if (oxlnet::takeOption(args, "--seconds", text) && (!parseNumber(text, 86400, seconds) || seconds == 0)) {
        return oxlnet::usageError("edge-sandbox: invalid --seconds '" + text + "'");
    }
    if (oxlnet::takeOption(args, "--max-requests", text) &&
        (!parseNumber(text, 1000000, maxRequests) || maxRequests == 0)) {
        return oxlnet::usageError("edge-sandbox: invalid --max-requests '" + text + "'");
    }
    if (oxlnet::takeOption(args, "--cookie-lifetime", text) &&
        (!parseNumber(text, 86400 * 365, lifetime) || lifetime == 0)) {
        return oxlnet::usageError("edge-sandbox: invalid --cookie-lifetime '" + text + "'");
    }
    oxl::sandbox::SandboxConfiguration config;
    for (const auto& entry : oxlnet::takeOptions(args, "--service")) {
        if (!parseService(entry, config)) {
            return oxlnet::usageError("edge-sandbox: invalid --service '" + entry +
                                      "' (NAME=HOST:PORT:PRIORITY:WEIGHT)");
        }
    }
    for (const auto& entry : oxlnet::takeOptions(args, "--http-edge")) {
        oxl::sandbox::SandboxEdgeServer server;
        if (!parseEdgeServer(entry, server)) {
            return oxlnet::usageError("edge-sandbox: invalid --http-edge '" + entry + "' (HOST:PORT)");
        }
        config.httpEdgeServers.push_back(server);
    }
    if (!args.empty()) {
        return oxlnet::usageError("edge-sandbox: unexpected argument '" + args.front() + "'");
    }
    oxl::SecureString stored;
    std::string problem;
    if (!oxlnet::readSecret(stored, problem)) {
        return oxlnet::usageError("edge-sandbox: the password or token on standard input is " + problem);
    }

    options.port = static_cast<uint16_t>(port);
    options.cookieLifetimeSeconds = static_cast<long>(lifetime);
    oxl::sandbox::EdgeSandbox edge(options);
    {
        const oxl::WipedString secret = stored.getWiped();
        if (hasUser) {
            edge.addUser(user, secret.str());
        } else {
            edge.addToken(secret.str());
        }
    }
    if (!edge.start()) {
        std::cerr << "oxlnet: edge-sandbox: could not start the server" << std::endl;
        return 1;
    }
    if (config.httpEdgeServers.empty()) {
        config.httpEdgeServers.push_back({edge.host(), edge.port(), 0});
    }
    config.sipEdgeServers = config.xmppEdgeServers = config.httpEdgeServers;
    config.sipRoutes = {"sip:" + edge.host() + ";lr"};
    edge.setConfiguration(config);
    std::cout << "listening " << edge.url("") << "\ntrust " << edge.trustFile() << std::endl;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto c = edge.counters();
        if (maxRequests != 0 && c.configRequests + c.refreshRequests + c.forwardedRequests >= maxRequests) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    edge.stop();
    const auto c = edge.counters();
    std::cout << "served config " << c.configRequests << " refresh " << c.refreshRequests << " forwarded "
              << c.forwardedRequests << " refused " << c.authenticationFailures << std::endl;
    return 0;
}

}  // namespace

OXLNET_COMMAND("edge-sandbox",
               "--domain D (--user U --password-stdin | --token-stdin) [--port P] [--seconds N] "
               "[--max-requests N] [--cookie-lifetime S] [--service NAME=HOST:PORT:PRIORITY:WEIGHT]... "
               "[--http-edge HOST:PORT]...",
               "runs a loopback HTTPS edge server for edge-config; prints its URL and the root to trust",
               runEdgeSandbox);

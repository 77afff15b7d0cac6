// oxlnet edge-config: one edge-configuration request (or a fetch followed by a cookie refresh) against an
// edge server, printed as the result name and the configuration. Secrets come from standard input only and
// cookie values are never printed.
#include <unistd.h>

#include <ctime>
#include <iostream>
#include <memory>
#include <string>

#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "oxl/http/NamePinning.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"
#include "oxl/runtime/SecureString.h"
#include "oxlnet/Command.h"

namespace {

using oxl::edge::EdgeConfig;
using oxl::edge::EdgeConfigRequest;

bool parsePort(const std::string& text, unsigned int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = static_cast<unsigned int>(std::stoul(text));
    return port >= 1 && port <= 65535;
}

// "HOST:PORT:ADDR"; ADDR may be an IPv6 literal, with or without brackets.
bool pinResolve(const std::string& entry) {
    const std::size_t first = entry.find(':');
    const std::size_t second = first == std::string::npos ? first : entry.find(':', first + 1);
    if (second == std::string::npos) {
        return false;
    }
    unsigned int port = 0;
    std::string address = entry.substr(second + 1);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    return parsePort(entry.substr(first + 1, second - first - 1), port) &&
           oxl::http::NamePinning::instance().pin(entry.substr(0, first), port, address);
}

// One line from standard input, without its line ending; the read buffer is wiped.
bool readSecret(oxl::SecureString& secret) {
    std::string line;
    if (!std::getline(std::cin, line)) {
        return false;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    const bool ok = !line.empty();
    secret = oxl::SecureString(line);
    oxl::secureWipe(line);
    return ok;
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

void printEdgeService(const char* protocol, const oxl::edge::EdgeService& service) {
    for (const auto& l : service.serverLocations) {
        std::cout << "edge " << protocol << " " << l.address << " tls " << l.tlsPort << " udp " << l.udpPort
                  << "\n";
    }
}

void printConfig(const EdgeConfig& config) {
    printEdgeService("http", config.getHttpEdgeService());
    printEdgeService("xmpp", config.getXmppEdgeService());
    printEdgeService("sip", config.getSipEdgeService());
    printEdgeService("turn", config.getTurnEdgeService());
    for (const auto& service : config.getOnPremServices()) {
        std::cout << "service " << service.name << " error " << service.error << "\n";
        for (const auto& l : service.serverLocations) {
            std::cout << "  server " << l.address << " port " << l.port << " priority " << l.priority
                      << " weight " << l.weight << "\n";
        }
    }
    for (const auto& route : config.getSipRoutes()) {
        std::cout << "sip-route " << route << "\n";
    }
    for (const auto& cookie : config.getCookies()) {
        const long expiry = cookie.getExpirationDate();
        std::cout << "cookie " << cookie.getName() << " domain " << cookie.getDomain() << " path "
                  << cookie.getPath() << " expires " << (expiry == 0 ? std::string("session") : utc(expiry))
                  << "\n";
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

int fetch(const oxl::edge::EdgeConfigParams& params, bool refresh);

int runEdgeConfig(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    oxl::edge::EdgeConfigParams params;
    std::string portText;
    std::string trustFile;
    if (!oxlnet::takeOption(args, "--host", params.host) || !oxlnet::takeOption(args, "--port", portText) ||
        !oxlnet::takeOption(args, "--domain", params.domain)) {
        return oxlnet::usageError("edge-config: --host, --port and --domain are required");
    }
    if (!parsePort(portText, params.port)) {
        return oxlnet::usageError("edge-config: invalid port '" + portText + "'");
    }
    const bool hasUser = oxlnet::takeOption(args, "--user", params.username);
    const bool passwordStdin = oxlnet::takeFlag(args, "--password-stdin");
    const bool tokenStdin = oxlnet::takeFlag(args, "--token-stdin");
    params.serviceNames = oxlnet::takeOptions(args, "--service");
    const bool refresh = oxlnet::takeFlag(args, "--refresh");
    const bool hasTrust = oxlnet::takeOption(args, "--trust", trustFile);
    const std::vector<std::string> resolves = oxlnet::takeOptions(args, "--resolve");
    if (oxlnet::takeFlag(args, "--password") || oxlnet::takeFlag(args, "--token")) {
        return oxlnet::usageError("edge-config: secrets are read from standard input only");
    }
    if (!args.empty()) {
        return oxlnet::usageError("edge-config: unexpected argument '" + args.front() + "'");
    }
    const bool userMode = hasUser && passwordStdin && !tokenStdin;
    const bool tokenMode = tokenStdin && !hasUser && !passwordStdin;
    if (!userMode && !tokenMode) {
        return oxlnet::usageError("edge-config: give either --user U --password-stdin or --token-stdin");
    }
    if (hasTrust && ::access(trustFile.c_str(), R_OK) != 0) {
        return oxlnet::usageError("edge-config: cannot read trust file '" + trustFile + "'");
    }
    for (const auto& entry : resolves) {
        if (!pinResolve(entry)) {
            return oxlnet::usageError("edge-config: invalid --resolve '" + entry + "' (HOST:PORT:ADDR)");
        }
    }
    if (!readSecret(tokenStdin ? params.oauthToken : params.password)) {
        return oxlnet::usageError(std::string("edge-config: no ") + (tokenStdin ? "token" : "password") +
                                  " on standard input");
    }
    if (hasTrust) {
        oxl::cert::PlatformCertVerifier::setTrustFile(trustFile);
    }

    if (oxl::netutils::GlobalInitLibCurlOnly() != 0) {
        std::cerr << "oxlnet: edge-config: libcurl could not be initialised" << std::endl;
        return 1;
    }
    const int status = fetch(params, refresh);
    oxl::netutils::GlobalCleanup();
    return status;
}

int fetch(const oxl::edge::EdgeConfigParams& params, bool refresh) {
    oxl::edge::EdgeConfigRequestImpl request(std::make_shared<oxl::netutils::adapters::EdgeHttpAdapter>());
    EdgeConfig config;
    EdgeConfigRequest::Result result = request.execute(params, config);
    if (refresh) {
        std::cout << "get_edge_config: " << result << "\n";
        if (result == EdgeConfigRequest::SUCCESS) {
            oxl::edge::EdgeConfigParams refreshParams = params;
            refreshParams.isRefresh = true;
            refreshParams.serviceNames.clear();
            refreshParams.xAuthCookie = xAuthCookie(config);
            result = request.execute(refreshParams, config);
            std::cout << "get_edge_refresh: " << result << "\n";
        }
    } else {
        std::cout << result << "\n";
    }
    if (result == EdgeConfigRequest::SUCCESS) {
        printConfig(config);
    }
    std::cout.flush();
    return result == EdgeConfigRequest::SUCCESS ? 0 : 1;
}

}  // namespace

OXLNET_COMMAND(
    "edge-config",
    "--host H --port P --domain D (--user U --password-stdin | --token-stdin) [--service NAME]... "
    "[--refresh] [--trust FILE] [--resolve HOST:PORT:ADDR]",
    "fetches the edge configuration (and with --refresh renews the X-Auth cookie); prints the result "
    "and the configuration, never cookie values",
    runEdgeConfig);

// oxlnet edge-config: one edge-configuration request (or a fetch followed by a cookie refresh) against an
// edge server, printed as the result name and the configuration. Secrets come from standard input only and
// cookie values are never printed.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"
#include "oxl/runtime/SecureString.h"
#include "oxlnet/Command.h"
#include "oxlnet/EdgeToolSupport.h"
#include "oxlnet/PemFiles.h"

namespace {

using oxl::edge::EdgeConfig;
using oxl::edge::EdgeConfigRequest;

using oxlnet::parsePort;
using oxlnet::pinResolve;
using oxlnet::xAuthCookie;

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
    std::string trustProblem;
    if (hasTrust &&
        !oxlnet::pem::isReadableRegularFile(trustFile, oxlnet::pem::MAX_INPUT_FILE_BYTES, trustProblem)) {
        return oxlnet::usageError("edge-config: --trust: " + trustProblem);
    }
    for (const auto& entry : resolves) {
        if (!pinResolve(entry)) {
            return oxlnet::usageError("edge-config: invalid --resolve '" + entry + "' (HOST:PORT:ADDR)");
        }
    }
    std::string problem;
    if (!oxlnet::readSecret(tokenStdin ? params.oauthToken : params.password, problem)) {
        return oxlnet::usageError(std::string("edge-config: ") + (tokenStdin ? "token" : "password") +
                                  " on standard input: " + problem);
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
        oxlnet::printConfig(std::cout, config);
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

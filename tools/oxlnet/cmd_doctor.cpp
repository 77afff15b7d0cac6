// oxlnet doctor: asks, in order, every question that explains why this machine cannot reach its services
// (network, DNS, inside or outside, proxy, edge, given URLs) and prints one verdict per check with its
// evidence and a hint. Secrets come from standard input only and are never printed.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxlnet/Command.h"
#include "oxlnet/cmd_doctor.h"

namespace oxlnet::doctor {

namespace {
std::atomic<bool> abandoned{false};
}  // namespace

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::OK:
            return "ok";
        case Verdict::WARNING:
            return "warning";
        case Verdict::FAILED:
            return "failed";
    }
    return "failed";
}

std::chrono::milliseconds Deadline::limit(std::chrono::milliseconds wanted) const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return std::chrono::milliseconds(0);
    }
    return std::min(wanted, left);
}

bool runBounded(std::chrono::milliseconds limit, std::function<void()> work) {
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    if (limit.count() <= 0) {
        return false;
    }
    auto state = std::make_shared<State>();
    std::thread worker([state, work = std::move(work)] {
        try {
            work();
        } catch (...) {
            // A check that throws simply has no answer; the caller reports that.
        }
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->finished = true;
        state->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->done.wait_for(lock, limit, [&] { return state->finished; })) {
        lock.unlock();
        worker.join();
        return true;
    }
    abandoned = true;
    worker.detach();
    return false;
}

bool anyAbandoned() {
    return abandoned.load();
}

std::string millis(std::chrono::steady_clock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}

void Report::add(Check check) {
    checks_.push_back(std::move(check));
}

bool Report::failed() const {
    return std::any_of(checks_.begin(), checks_.end(),
                       [](const Check& c) { return c.verdict == Verdict::FAILED; });
}

namespace {

std::string checkLine(const Check& c, bool withSection) {
    std::ostringstream line;
    line << std::left << std::setw(8) << verdictName(c.verdict) << " "
         << (withSection ? c.section + ": " : "") << c.name << ": " << c.evidence;
    if (!c.hint.empty()) {
        line << " -- " << c.hint;
    }
    return line.str();
}

}  // namespace

void Report::printText(std::ostream& out) const {
    std::string section;
    std::size_t counts[3] = {0, 0, 0};
    for (const auto& c : checks_) {
        if (c.section != section) {
            section = c.section;
            out << "== " << section << " ==\n";
        }
        out << checkLine(c, false) << "\n";
        ++counts[static_cast<int>(c.verdict)];
    }
    out << "== summary ==\n"
        << counts[2] << " failed, " << counts[1] << " warning" << (counts[1] == 1 ? "" : "s") << ", "
        << counts[0] << " ok\n";
    // The failing checks again, so that the answer is at the bottom of a long report.
    for (const Verdict v : {Verdict::FAILED, Verdict::WARNING}) {
        for (const auto& c : checks_) {
            if (c.verdict == v) {
                out << checkLine(c, true) << "\n";
            }
        }
    }
}

std::string jsonEscape(const std::string& text) {
    std::string out;
    for (const unsigned char ch : text) {
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (ch < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", ch);
                    out += buffer;
                } else {
                    out += static_cast<char>(ch);
                }
        }
    }
    return out;
}

void Report::printJson(std::ostream& out) const {
    std::size_t counts[3] = {0, 0, 0};
    for (const auto& c : checks_) {
        ++counts[static_cast<int>(c.verdict)];
    }
    out << "{\"verdict\":\""
        << (counts[2] > 0   ? "failed"
            : counts[1] > 0 ? "warning"
                            : "ok")
        << "\",\"summary\":{\"ok\":" << counts[0] << ",\"warning\":" << counts[1]
        << ",\"failed\":" << counts[2] << "},\"checks\":[";
    bool first = true;
    for (const auto& c : checks_) {
        out << (first ? "" : ",") << "\n{\"section\":\"" << jsonEscape(c.section) << "\",\"check\":\""
            << jsonEscape(c.name) << "\",\"verdict\":\"" << verdictName(c.verdict) << "\",\"evidence\":\""
            << jsonEscape(c.evidence) << "\",\"hint\":\"" << jsonEscape(c.hint) << "\"}";
        first = false;
    }
    out << "\n]}\n";
}

namespace {

std::string parse(Args args, Options& o) {
    if (!takeOption(args, "--internal-domain", o.internalDomain) ||
        !takeOption(args, "--external-domain", o.externalDomain) || o.internalDomain.empty() ||
        o.externalDomain.empty()) {
        return "doctor: --internal-domain and --external-domain are required";
    }
    if (takeOption(args, "--dns-server", o.dnsServer) &&
        !oxl::dns::DnsUtilsScopedSetCustomServerAddress::isValidServerAddress(o.dnsServer)) {
        return "doctor: invalid DNS server address '" + o.dnsServer + "' (expected ADDR or ADDR:PORT)";
    }
    const bool hasTrust = takeOption(args, "--trust", o.trustFile);
    takeOption(args, "--pac", o.pacUrl);
    const bool hasUser = takeOption(args, "--user", o.user);
    const bool passwordStdin = takeFlag(args, "--password-stdin");
    o.token = takeFlag(args, "--token-stdin");
    o.urls = takeOptions(args, "--url");
    o.json = takeFlag(args, "--json");
    o.verbose = takeFlag(args, "-v");
    if (takeFlag(args, "--password") || takeFlag(args, "--token")) {
        return "doctor: secrets are read from standard input only";
    }
    if (!args.empty()) {
        return "doctor: unexpected argument '" + args.front() + "'";
    }
    const bool userMode = hasUser && !o.user.empty() && passwordStdin && !o.token;
    const bool tokenMode = o.token && !hasUser && !passwordStdin;
    if ((hasUser || passwordStdin || o.token) && !userMode && !tokenMode) {
        return "doctor: give either --user U --password-stdin or --token-stdin (or neither)";
    }
    o.credentials = userMode || tokenMode;
    if (hasTrust && ::access(o.trustFile.c_str(), R_OK) != 0) {
        return "doctor: cannot read trust file '" + o.trustFile + "'";
    }
    for (const auto& url : o.urls) {
        if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
            return "doctor: --url needs an http:// or https:// URL, not '" + url + "'";
        }
    }
    if (!o.pacUrl.empty() && o.pacUrl.rfind("http://", 0) != 0 && o.pacUrl.rfind("https://", 0) != 0 &&
        o.pacUrl.rfind("file://", 0) != 0) {
        return "doctor: --pac needs an http://, https:// or file:// URL, not '" + o.pacUrl + "'";
    }
    return {};
}

int runDoctor(const Args& input) {
    Options o;
    const std::string error = parse(input, o);
    if (!error.empty()) {
        return usageError(error);
    }
    if (o.credentials) {
        std::string problem;
        if (!readSecret(o.secret, problem)) {
            return usageError(std::string("doctor: ") + (o.token ? "token" : "password") +
                              " on standard input: " + problem);
        }
    }
    if (!o.trustFile.empty()) {
        oxl::cert::PlatformCertVerifier::setTrustFile(o.trustFile);
    }
    std::optional<oxl::dns::DnsUtilsScopedSetCustomServerAddress> dnsServer;
    if (!o.dnsServer.empty()) {
        dnsServer.emplace(o.dnsServer);
    }
    // The report says what went wrong; the library's own complaints would only repeat it, unless asked for.
    oxl::log::setDefaultLevel(o.verbose ? OXL_LEVEL_DEBUG : OXL_LEVEL_ERROR - 1);
    if (oxl::netutils::GlobalInit() != 0) {
        std::cerr << "oxlnet: doctor: global initialisation failed" << std::endl;
        return 1;
    }
    const Deadline deadline(REPORT_BUDGET);
    Findings findings;
    Report report;
    const std::pair<const char*, void (*)(const Options&, const Deadline&, Findings&, Report&)> groups[] = {
        {"network", checkNetwork}, {"dns", checkDns},   {"inside or outside", checkInsideOutside},
        {"proxy", checkProxy},     {"edge", checkEdge}, {"url", checkUrls},
    };
    for (const auto& [section, group] : groups) {
        try {
            group(o, deadline, findings, report);
        } catch (const std::exception& e) {
            // One group's surprise must not cost the rest of the report.
            report.add(
                {section, "internal error", Verdict::FAILED, e.what(), "run again with -v and report it"});
        }
    }
    try {
        finishEdge(deadline, findings);
    } catch (const std::exception&) {
        // The session then simply expires on the edge.
    }
    o.secret = oxl::SecureString();
    if (o.json) {
        report.printJson(std::cout);
    } else {
        report.printText(std::cout);
    }
    std::cout.flush();
    const int status = report.failed() ? 1 : 0;
    if (anyAbandoned()) {
        // A check still running on its own thread would race the library's clean-up.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    oxl::netutils::GlobalCleanup();
    return status;
}

}  // namespace

}  // namespace oxlnet::doctor

OXLNET_COMMAND(
    "doctor",
    "--internal-domain D --external-domain E [--dns-server ADDR:PORT] [--trust FILE] [--pac URL] "
    "[(--user U --password-stdin | --token-stdin)] [--url URL]... [--json] [-v]",
    "explains why services cannot be reached: network, DNS, inside or outside, proxy, edge and "
    "each --url, one verdict (ok, warning, failed) per check with evidence and a hint; exit 1 when "
    "a check failed; -v adds the library's log on standard error",
    oxlnet::doctor::runDoctor);

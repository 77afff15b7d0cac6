// oxlnet doctor: the pieces shared by its check groups. Every check ends with a verdict, the evidence that
// led to it and a hint for the person reading the report; groups run in order and share what they found
// (resolved names, the decision inside or outside, the proxy) through Findings.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/UserProxySettings.h"
#include "oxl/runtime/SecureString.h"
#include "oxlnet/EdgeToolSupport.h"

namespace oxlnet::doctor {

enum class Verdict { OK, WARNING, FAILED };
const char* verdictName(Verdict verdict);

struct Check {
    std::string section;
    std::string name;
    Verdict verdict = Verdict::OK;
    std::string evidence;
    std::string hint;
};

struct Options {
    std::string internalDomain;
    std::string externalDomain;
    std::string dnsServer;  // empty: the system's resolver
    std::string trustFile;
    std::string pacUrl;
    std::string user;
    bool token = false;
    bool credentials = false;
    oxl::SecureString secret;
    std::vector<std::string> urls;
    bool json = false;
    bool verbose = false;
};

// The whole report must come back within this, however dead the network; each check gets its own limit
// and never more than what is left.
constexpr std::chrono::seconds REPORT_BUDGET{25};

class Deadline {
  public:
    explicit Deadline(std::chrono::steady_clock::duration budget)
        : end_(std::chrono::steady_clock::now() + budget) {}
    // min(limit, time left), never negative.
    std::chrono::milliseconds limit(std::chrono::milliseconds wanted) const;
    bool expired() const { return std::chrono::steady_clock::now() >= end_; }

  private:
    std::chrono::steady_clock::time_point end_;
};

// Runs `work` on its own thread and waits at most `limit` for it. False when it did not finish in time; the
// thread is then left to finish on its own (its state is shared, never on this stack) and the process must
// end without running static destructors (see Report::abandoned).
bool runBounded(std::chrono::milliseconds limit, std::function<void()> work);
// Whether runBounded gave up on a thread.
bool anyAbandoned();

struct Endpoint {
    std::string host;
    unsigned int port = 0;
    std::vector<std::string> addresses;  // as the doctor's resolver gave them
};

struct Findings {
    bool resolverAnswered = false;
    std::vector<Endpoint> internal;  // targets of the internal service records
    std::vector<Endpoint> edge;      // targets of the edge record, in priority order
    bool internalVisible = false;
    bool edgeVisible = false;
    bool detectionDone = false;
    std::shared_ptr<oxl::http::Proxy> edgeProxy;  // null: direct
    std::vector<std::string> trustedEdges;        // "host:port" with a verified certificate
    // The global edge state started for the configuration check; null when none was started.
    std::shared_ptr<oxl::edge::GlobalEdgeStateImpl> edgeState;
    bool edgeConfigured = false;  // the state holds a configuration
};

class Report {
  public:
    void add(Check check);
    const std::vector<Check>& checks() const { return checks_; }
    bool failed() const;
    void printText(std::ostream& out) const;
    void printJson(std::ostream& out) const;

  private:
    std::vector<Check> checks_;
};

std::string jsonEscape(const std::string& text);
std::string millis(std::chrono::steady_clock::duration d);

// The check groups, in the order they run.
void checkNetwork(const Options& o, const Deadline& deadline, Findings& f, Report& r);
void checkDns(const Options& o, const Deadline& deadline, Findings& f, Report& r);
void checkInsideOutside(const Options& o, const Deadline& deadline, Findings& f, Report& r);
void checkProxy(const Options& o, const Deadline& deadline, Findings& f, Report& r);
void checkEdge(const Options& o, const Deadline& deadline, Findings& f, Report& r);
void checkUrls(const Options& o, const Deadline& deadline, Findings& f, Report& r);
// Ends the edge session and stops the global edge state when checkEdge started one.
void finishEdge(const Deadline& deadline, Findings& f);

// Where the proxy settings come from: --pac, else the host's default source (the environment).
std::shared_ptr<oxl::http::UserProxySettingsSource> proxySource(const Options& o);

// The client for the --url transfers, built in one place; with `throughEdge` its requests are rewritten
// for the edge when the edge policy asks for it (needs the global edge state).
struct ClientBundle {
    std::shared_ptr<oxlnet::ReportingTransformer> transformer;  // null without the edge
    std::shared_ptr<oxl::http::BasicHttpClientImpl> client;
};
ClientBundle makeClient(bool throughEdge);

}  // namespace oxlnet::doctor

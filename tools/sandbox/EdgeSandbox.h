// A stand-in edge (reverse-proxy) server for tests and the oxlnet tool: an in-process HTTPS server that
//  - answers GET /<Base64url domain>/get_edge_config?service_name=... (basic or bearer authentication) with
//    the configuration XML it was given, services filtered by the requested names, and sets an "X-Auth"
//    session cookie with the chosen lifetime;
//  - answers GET /<Base64url domain>/get_edge_refresh[?ttl=0] for a valid "X-Auth" cookie with a new
//    cookie, or ends the session for ttl=0 (the cookie is cleared);
//  - forwards requests whose first path segment is a tokenized base URL (Base64url of
//    "domain/scheme/host[/port]") to that internal server, for a valid session, adding the "Server" header;
//  - injects faults on request and counts what it received.
//
//   oxl::sandbox::EdgeSandbox edge({.domain = "corp"});
//   edge.addUser("alice", "secret");
//   edge.setConfiguration(config);
//   edge.start();                       // HTTPS with its own throw-away CA; edge.trustFile() to trust it
//   ... https://127.0.0.1:<edge.port()>/Y29ycA/get_edge_config ...
//   edge.injectFault({EdgeSandbox::FaultKind::HTTP_STATUS, 429});
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace oxl::sandbox {

class SandboxPki;
class SandboxServer;

// One enterprise server of a service (SRV-like).
struct SandboxOnPremServer {
    std::string address;
    unsigned int port = 0;
    unsigned int priority = 0;
    unsigned int weight = 0;
};

struct SandboxService {
    std::string name;
    std::vector<SandboxOnPremServer> servers;
    std::string error;  // "NameError", "Refused", ...; empty: none
};

struct SandboxEdgeServer {
    std::string address;
    unsigned int tlsPort = 0;
    unsigned int udpPort = 0;
};

struct SandboxConfiguration {
    std::vector<SandboxService> services;
    std::vector<SandboxEdgeServer> sipEdgeServers;
    std::vector<SandboxEdgeServer> xmppEdgeServers;
    std::vector<SandboxEdgeServer> httpEdgeServers;
    std::vector<SandboxEdgeServer> turnEdgeServers;  // empty: no turnEdgeServer element
    std::vector<std::string> sipRoutes;

    // The answer for these requested names: only the requested services (in the order asked), a
    // "NameError" entry for a name the configuration does not know.
    std::string toXml(const std::vector<std::string>& requestedServices) const;
};

class EdgeSandbox {
  public:
    struct Options {
        std::string domain;              // empty: any domain is accepted
        std::string host = "127.0.0.1";  // listening address
        uint16_t port = 0;               // 0: a free port
        // PEM certificate chain and key; both empty: a throw-away CA of the sandbox's own.
        std::string certFile;
        std::string keyFile;
        // Further names of the sandbox's own certificate (beside localhost, 127.0.0.1 and ::1).
        std::vector<std::string> extraDnsNames;
        std::string serverHeader = "QZ_C";  // "Server" header of forwarded answers ("QZ_E" for another kind)
        long cookieLifetimeSeconds = 3600;
        // Certificate file to verify HTTPS internal servers with; empty: they are not verified.
        std::string internalTrustFile;
    };

    enum class FaultKind {
        HTTP_STATUS,      // answer with `status` (401, 403, 407, 429, 500, 502, 503, ...)
        DELAY,            // wait `delay`, then answer normally
        DROP_CONNECTION,  // send the head, then close the connection mid-body
        MALFORMED_BODY,   // 200 with a body that is not the configuration XML
        NO_COOKIE,        // answer normally but set no cookie
    };
    struct Fault {
        FaultKind kind = FaultKind::HTTP_STATUS;
        int status = 500;
        std::chrono::milliseconds delay{0};
    };

    enum class Endpoint { CONFIG, REFRESH, FORWARD, OTHER };
    struct ReceivedRequest {
        Endpoint endpoint = Endpoint::OTHER;
        std::string method;
        std::string path;
        std::string query;       // raw, without "?"
        std::string authScheme;  // "Basic", "Bearer" or empty
        std::string username;    // of basic authentication
        std::string userAgent;
        std::vector<std::string> cookieNames;
        std::vector<std::string> serviceNames;
        int status = 0;  // what the sandbox answered (0 for a dropped connection)
    };
    struct Counters {
        std::size_t configRequests = 0;
        std::size_t refreshRequests = 0;
        std::size_t forwardedRequests = 0;
        std::size_t otherRequests = 0;
        std::size_t authenticationFailures = 0;  // 401 for bad credentials or session
        std::size_t faultsInjected = 0;
        std::size_t sessionsOpened = 0;
        std::size_t sessionsRefreshed = 0;
        std::size_t sessionsEnded = 0;
    };

    EdgeSandbox();
    explicit EdgeSandbox(Options options);
    ~EdgeSandbox();
    EdgeSandbox(const EdgeSandbox&) = delete;
    EdgeSandbox& operator=(const EdgeSandbox&) = delete;

    bool start();
    void stop();
    uint16_t port() const;
    const std::string& host() const { return options_.host; }
    // "https://HOST:PORT" + path.
    std::string url(const std::string& path = "/") const;
    // "/<Base64url domain>/get_edge_config" style prefix for this sandbox's domain.
    std::string domainPath() const;
    // The root to trust for the sandbox's own certificate; empty when the caller supplied one.
    std::string trustFile() const;

    // Accounts. Passwords and tokens are kept only as long as the sandbox lives.
    void addUser(const std::string& username, const std::string& password);
    void addToken(const std::string& token);
    void setConfiguration(const SandboxConfiguration& configuration);
    void setCookieLifetime(long seconds);
    void setServerHeader(const std::string& value);

    // Applies to the next `times` requests to the two edge endpoints (-1: until cleared), in order.
    void injectFault(const Fault& fault, int times = 1);
    void clearFaults();

    Counters counters() const;
    std::vector<ReceivedRequest> received() const;
    void resetCounters();
    std::size_t activeSessions() const;
    // True when `value` is the value of a live session cookie.
    bool isSessionValid(const std::string& value) const;

    // Base64url (no padding) of `text`, and the tokenized base URL for an internal URL's parts.
    static std::string base64url(const std::string& text);
    static std::string tokenizedBaseUrl(const std::string& domain, const std::string& scheme,
                                        const std::string& host, uint16_t port = 0);

  private:
    struct Session {
        std::string username;
        std::chrono::system_clock::time_point expiry;
    };
    struct PendingFault {
        Fault fault;
        int remaining;
    };

    void handle(const httplib::Request& req, httplib::Response& res);
    bool takeFault(Fault& fault);
    bool applyFault(const Fault& fault, httplib::Response& res, ReceivedRequest& record);
    bool authenticate(const httplib::Request& req, ReceivedRequest& record);
    std::string openSession(const std::string& username, long lifetime);
    void setSessionCookie(httplib::Response& res, const std::string& value, long lifetime) const;
    std::string sessionCookie(const httplib::Request& req) const;
    void handleConfig(const httplib::Request& req, httplib::Response& res, ReceivedRequest& record);
    void handleRefresh(const httplib::Request& req, httplib::Response& res, ReceivedRequest& record);
    void handleForward(const httplib::Request& req, httplib::Response& res, ReceivedRequest& record,
                       const std::string& token, const std::string& rest);
    void record(const ReceivedRequest& r);
    bool waitOrStop(std::chrono::milliseconds delay);

    Options options_;
    std::unique_ptr<SandboxPki> pki_;
    std::unique_ptr<SandboxServer> server_;

    mutable std::mutex mutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
    std::map<std::string, std::string> users_;
    std::set<std::string> tokens_;
    SandboxConfiguration configuration_;
    std::map<std::string, Session> sessions_;
    std::deque<PendingFault> faults_;
    Counters counters_;
    std::vector<ReceivedRequest> received_;
};

}  // namespace oxl::sandbox

// A stand-in edge (reverse-proxy) server for tests and the oxlnet tool: an in-process HTTPS server that
//  - answers GET /<Base64url domain>/get_edge_config?service_name=... (basic or bearer authentication) with
//    the configuration XML it was given, services filtered by the requested names, and sets an "X-Auth"
//    session cookie with the chosen lifetime;
//  - answers GET /<Base64url domain>/get_edge_refresh[?ttl=0] for a valid "X-Auth" cookie with a new
//    cookie, or ends the session for ttl=0 (the cookie is cleared);
//  - forwards requests whose first path segment is a tokenized base URL (Base64url of
//    "domain/scheme/host[/port]") to that internal server, for a valid session, adding the "Server" header;
//  - injects faults on request and counts what it received.
// It can run as a cluster of several edge nodes, each on its own port, sharing accounts, sessions and the
// configuration; each node can be made to refuse connections, answer 503 or hang, and keeps a log of what
// it received.
//
//   oxl::sandbox::EdgeSandbox edge({.domain = "corp"});
//   edge.addUser("alice", "secret");
//   edge.setConfiguration(config);
//   edge.start();                       // HTTPS with its own throw-away CA; edge.trustFile() to trust it
//   ... https://127.0.0.1:<edge.port()>/Y29ycA/get_edge_config ...
//   edge.injectFault({EdgeSandbox::FaultKind::HTTP_STATUS, 429});
//   edge.setNodeFault(0, EdgeSandbox::NodeFault::REFUSE);   // with Options::nodes = 2: node 1 still answers
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
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
        // Domain attribute of the session cookie, so that every node of a cluster receives it; empty: none
        // (the cookie belongs to the host that set it).
        std::string cookieDomain;
        // Cookies set by internal servers go back under the edge path that reached them ("/<token>/..."),
        // without a Domain attribute, as a reverse proxy keeps them; false: passed through unchanged.
        bool cookiesUnderEdgePath = false;
        // Edge nodes started by start(), each on its own port (the first one on `port`).
        std::size_t nodes = 1;
        // Certificate file to verify HTTPS internal servers with; empty: they are not verified.
        std::string internalTrustFile;
        // A refreshed session stays valid until its own expiry, so that requests already on their way with
        // the old cookie get through; false: the old cookie is refused as soon as the new one is issued.
        bool keepRefreshedSessions = false;
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

    // What a node does with every request while the fault is set; switchable at any time.
    enum class NodeFault {
        NONE,
        REFUSE,               // the node's port is closed: connections are refused
        SERVICE_UNAVAILABLE,  // every request is answered 503
        HANG,                 // requests are read but not answered until the fault is cleared
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
        std::size_t node = 0;
        std::chrono::steady_clock::time_point at;  // when it arrived
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

    // Starts every node; false when one cannot be started.
    bool start();
    void stop();
    // The first node's port and URL.
    uint16_t port() const { return port(0); }
    const std::string& host() const { return options_.host; }
    // "https://HOST:PORT" + path.
    std::string url(const std::string& path = "/") const { return nodeUrl(0, path); }
    std::size_t nodeCount() const { return nodes_.size(); }
    uint16_t port(std::size_t node) const;
    std::string nodeUrl(std::size_t node, const std::string& path = "/") const;
    // REFUSE closes the node's port; any other fault opens it again on the same port. False for an unknown
    // node or when the port cannot be opened again.
    bool setNodeFault(std::size_t node, NodeFault fault);
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
    // Every node's requests in the order they arrived, or one node's.
    std::vector<ReceivedRequest> received() const;
    std::vector<ReceivedRequest> received(std::size_t node) const;
    // Waits until one of the requests received so far, or one that arrives in time, satisfies `match`.
    bool waitForRequest(const std::function<bool(const ReceivedRequest&)>& match,
                        std::chrono::milliseconds timeout) const;
    void resetCounters();
    std::size_t activeSessions() const;
    // True when `value` is the value of a live session cookie.
    bool isSessionValid(const std::string& value) const;

    // Base64url (no padding) of `text`, and the tokenized base URL for an internal URL's parts.
    static std::string base64url(const std::string& text);
    static std::string tokenizedBaseUrl(const std::string& domain, const std::string& scheme,
                                        const std::string& host, uint16_t port = 0);

  private:
    struct Node {
        std::unique_ptr<SandboxServer> server;
        uint16_t port = 0;
        NodeFault fault = NodeFault::NONE;  // guarded by mutex_
    };
    struct Session {
        std::string username;
        std::chrono::system_clock::time_point expiry;
    };
    struct PendingFault {
        Fault fault;
        int remaining;
    };

    std::unique_ptr<SandboxServer> makeServer(std::size_t node);
    void handle(std::size_t node, const httplib::Request& req, httplib::Response& res);
    // True when the node's fault produced the answer.
    bool applyNodeFault(std::size_t node, httplib::Response& res, ReceivedRequest& record);
    // 401 for a request without a live session cookie.
    void refuseSession(httplib::Response& res, ReceivedRequest& record);
    bool takeFault(Fault& fault);
    bool applyFault(const Fault& fault, httplib::Response& res, ReceivedRequest& record);
    bool authenticate(const httplib::Request& req, ReceivedRequest& record);
    std::string openSession(const std::string& username, long lifetime);
    void setSessionCookie(httplib::Response& res, const std::string& value, long lifetime) const;
    std::string sessionCookie(const httplib::Request& req) const;
    void handleConfig(const httplib::Request& req, httplib::Response& res, ReceivedRequest& record);
    void handleRefresh(const httplib::Request& req, httplib::Response& res, ReceivedRequest& record);
    void handleForward(const httplib::Request& req, httplib::Response& res, ReceivedRequest& record,
                       const std::string& segment, const std::string& token, const std::string& rest);
    void record(const ReceivedRequest& r);
    bool waitOrStop(std::chrono::milliseconds delay);

    Options options_;
    std::unique_ptr<SandboxPki> pki_;
    // Servers are replaced only under nodesMutex_ (never taken by request handlers).
    mutable std::mutex nodesMutex_;
    std::vector<std::unique_ptr<Node>> nodes_;

    mutable std::mutex mutex_;
    std::condition_variable stopCv_;
    mutable std::condition_variable receivedCv_;
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

// The edge sandbox's answers: configuration, refresh, forwarding to internal servers, and faults.
#include <httplib.h>
#include <openssl/crypto.h>

#include <cstdlib>

#include "sandbox/EdgeSandbox.h"
#include "sandbox/EdgeSandboxText.h"

namespace oxl::sandbox {

using text::constantTimeEquals;
using text::decodeBase64;
using text::iequals;
using text::requestCookies;
using text::split;
using text::trim;

namespace {

// A cookie the internal server set goes back under the edge path that reached it, as a reverse proxy keeps
// it: its path is put under "/<segment>", and a Domain attribute naming the internal host is dropped.
std::string underSegment(const std::string& setCookie, const std::string& segment) {
    std::string out;
    bool hasPath = false;
    for (const auto& part : split(setCookie, ';')) {
        const std::string item = trim(part);
        const std::size_t eq = item.find('=');
        const std::string name = eq == std::string::npos ? item : item.substr(0, eq);
        if (out.empty()) {
            out = item;
            continue;
        }
        if (iequals(name, "Domain")) {
            continue;
        }
        if (iequals(name, "Path")) {
            const std::string path = eq == std::string::npos ? std::string() : item.substr(eq + 1);
            out += "; Path=/" + segment + (path.empty() || path == "/" ? std::string() : path);
            hasPath = true;
            continue;
        }
        out += "; " + item;
    }
    if (!hasPath) {
        out += "; Path=/" + segment;
    }
    return out;
}

}  // namespace

void EdgeSandbox::refuseSession(httplib::Response& res, ReceivedRequest& record) {
    res.status = 401;
    res.set_content("no session", "text/plain");
    record.status = 401;
    const std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.authenticationFailures;
}

bool EdgeSandbox::applyNodeFault(std::size_t node, httplib::Response& res, ReceivedRequest& record) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto faultOf = [this, node] { return nodes_[node]->fault; };
    if (faultOf() == NodeFault::SERVICE_UNAVAILABLE) {
        lock.unlock();
        res.status = 503;
        res.set_content("node unavailable", "text/plain");
        record.status = 503;
        return true;
    }
    if (faultOf() == NodeFault::HANG) {
        stopCv_.wait(lock, [&] { return stopping_ || faultOf() != NodeFault::HANG; });
        if (stopping_) {
            lock.unlock();
            res.status = 503;
            res.set_content("node stopped while hanging", "text/plain");
            record.status = 0;
            return true;
        }
        // Cleared: the request is answered as if it had just arrived.
    }
    return false;
}

// True when the fault produced the whole answer.
bool EdgeSandbox::applyFault(const Fault& fault, httplib::Response& res, ReceivedRequest& record) {
    switch (fault.kind) {
        case FaultKind::HTTP_STATUS:
            res.status = fault.status;
            if (fault.status == 401) {
                res.set_header("WWW-Authenticate", "Basic realm=\"edge\"");
            } else if (fault.status == 407) {
                res.set_header("Proxy-Authenticate", "Basic realm=\"edge\"");
            }
            res.set_content("injected status", "text/plain");
            record.status = fault.status;
            return true;
        case FaultKind::DELAY:
            waitOrStop(fault.delay);
            return false;
        case FaultKind::DROP_CONNECTION:
            // The head announces a body that never comes: the connection closes mid-answer.
            res.status = 200;
            res.set_content_provider(4096, "text/xml",
                                     [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            record.status = 0;
            return true;
        case FaultKind::MALFORMED_BODY:
            res.status = 200;
            res.set_content("<getEdgeConfigResponse><edgeConfig><sipEdgeServer><server><addr", "text/xml");
            record.status = 200;
            return true;
        case FaultKind::NO_COOKIE:
            return false;
    }
    return false;
}

bool EdgeSandbox::authenticate(const httplib::Request& req, ReceivedRequest& record) {
    const std::string header = req.get_header_value("Authorization");
    const std::size_t space = header.find(' ');
    if (space == std::string::npos) {
        return false;
    }
    record.authScheme = header.substr(0, space);
    std::string credentials = trim(header.substr(space + 1));
    bool ok = false;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (record.authScheme == "Bearer") {
        for (const auto& token : tokens_) {
            ok = ok || constantTimeEquals(token, credentials);
        }
    } else if (record.authScheme == "Basic") {
        std::string decoded;
        if (decodeBase64(credentials, decoded)) {
            const std::size_t colon = decoded.find(':');
            if (colon != std::string::npos) {
                record.username = decoded.substr(0, colon);
                const auto it = users_.find(record.username);
                ok = it != users_.end() && constantTimeEquals(it->second, decoded.substr(colon + 1));
            }
        }
        OPENSSL_cleanse(decoded.data(), decoded.size());
    }
    OPENSSL_cleanse(credentials.data(), credentials.size());
    return ok;
}

void EdgeSandbox::handle(std::size_t node, const httplib::Request& req, httplib::Response& res) {
    ReceivedRequest r;
    r.node = node;
    r.at = std::chrono::steady_clock::now();
    r.method = req.method;
    r.path = req.path;
    const std::size_t q = req.target.find('?');
    r.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    r.userAgent = req.get_header_value("User-Agent");
    for (const auto& cookie : requestCookies(req)) {
        r.cookieNames.push_back(cookie.first);
    }

    if (applyNodeFault(node, res, r)) {
        record(r);
        return;
    }
    // "/<segment><rest>"
    const std::size_t slash = req.path.find('/', 1);
    const std::string segment =
        req.path.size() > 1 ? req.path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1)
                            : "";
    const std::string rest = slash == std::string::npos ? std::string() : req.path.substr(slash);
    std::string decoded;
    const bool decodes = !segment.empty() && decodeBase64(segment, decoded);
    const bool domainMatches = options_.domain.empty() || decoded == options_.domain;

    if (decodes && domainMatches && req.method == "GET" && rest == "/get_edge_config" &&
        decoded.find('/') == std::string::npos) {
        r.endpoint = Endpoint::CONFIG;
        handleConfig(req, res, r);
    } else if (decodes && domainMatches && req.method == "GET" && rest == "/get_edge_refresh" &&
               decoded.find('/') == std::string::npos) {
        r.endpoint = Endpoint::REFRESH;
        handleRefresh(req, res, r);
    } else if (decodes && decoded.find('/') != std::string::npos) {
        r.endpoint = Endpoint::FORWARD;
        handleForward(req, res, r, segment, decoded, rest);
    } else {
        res.status = 404;
        res.set_content("not found", "text/plain");
        r.status = 404;
    }
    record(r);
}

void EdgeSandbox::handleConfig(const httplib::Request& req, httplib::Response& res, ReceivedRequest& r) {
    const std::size_t count = req.get_param_value_count("service_name");
    for (std::size_t i = 0; i < count; ++i) {
        r.serviceNames.push_back(req.get_param_value("service_name", i));
    }
    Fault fault;
    const bool faulty = takeFault(fault);
    if (faulty && applyFault(fault, res, r)) {
        return;
    }
    if (!authenticate(req, r)) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"edge\"");
        res.set_content("unauthorized", "text/plain");
        r.status = 401;
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.authenticationFailures;
        return;
    }
    long lifetime = 0;
    std::string body;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        lifetime = options_.cookieLifetimeSeconds;
        body = configuration_.toXml(r.serviceNames);
    }
    if (!(faulty && fault.kind == FaultKind::NO_COOKIE)) {
        setSessionCookie(res, openSession(r.username, lifetime), lifetime);
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.sessionsOpened;
    }
    res.status = 200;
    res.set_content(body, "text/xml");
    r.status = 200;
}

void EdgeSandbox::handleRefresh(const httplib::Request& req, httplib::Response& res, ReceivedRequest& r) {
    Fault fault;
    const bool faulty = takeFault(fault);
    if (faulty && applyFault(fault, res, r)) {
        return;
    }
    // Authorization headers are looked at only for the record; the session cookie is what counts.
    authenticate(req, r);
    const std::string current = sessionCookie(req);
    if (current.empty() || !isSessionValid(current)) {
        refuseSession(res, r);
        return;
    }
    std::string username;
    long lifetime = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        username = sessions_[current].username;
        lifetime = options_.cookieLifetimeSeconds;
    }
    if (req.has_param("ttl")) {
        lifetime = std::strtol(req.get_param_value("ttl").c_str(), nullptr, 10);
    }
    if (lifetime <= 0 || !options_.keepRefreshedSessions) {
        const std::lock_guard<std::mutex> lock(mutex_);
        sessions_.erase(current);
    }
    res.status = 200;
    r.status = 200;
    if (lifetime <= 0) {
        res.set_header(
            "Set-Cookie",
            "X-Auth=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Secure" +
                (options_.cookieDomain.empty() ? std::string() : "; Domain=" + options_.cookieDomain));
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.sessionsEnded;
        return;
    }
    const std::string next = openSession(username, lifetime);
    if (!(faulty && fault.kind == FaultKind::NO_COOKIE)) {
        setSessionCookie(res, next, lifetime);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.sessionsRefreshed;
}

void EdgeSandbox::handleForward(const httplib::Request& req, httplib::Response& res, ReceivedRequest& r,
                                const std::string& segment, const std::string& token,
                                const std::string& rest) {
    const std::string current = sessionCookie(req);
    if (current.empty() || !isSessionValid(current)) {
        refuseSession(res, r);
        return;
    }
    const std::vector<std::string> parts = split(token, '/');
    const bool known = parts.size() >= 3 && parts.size() <= 4 &&
                       (options_.domain.empty() || parts[0] == options_.domain) &&
                       (parts[1] == "http" || parts[1] == "https") && !parts[2].empty();
    int port = parts.size() == 4 ? std::atoi(parts[3].c_str())
                                 : (parts.size() >= 2 && parts[1] == "https" ? 443 : 80);
    if (!known || port <= 0 || port > 65535) {
        res.status = 404;
        res.set_content("unknown tokenized base URL", "text/plain");
        r.status = 404;
        return;
    }
    std::unique_ptr<httplib::ClientImpl> client;
    if (parts[1] == "https") {
        auto ssl = std::make_unique<httplib::SSLClient>(parts[2], port);
        if (options_.internalTrustFile.empty()) {
            ssl->enable_server_certificate_verification(false);
        } else {
            ssl->set_ca_cert_path(options_.internalTrustFile.c_str());
        }
        client = std::move(ssl);
    } else {
        client = std::make_unique<httplib::ClientImpl>(parts[2], port);
    }
    client->set_connection_timeout(5);
    client->set_read_timeout(30);

    httplib::Headers headers;
    std::string cookies;
    for (const auto& [name, value] : requestCookies(req)) {
        if (name != "X-Auth") {
            cookies += (cookies.empty() ? "" : "; ") + name + "=" + value;
        }
    }
    if (!cookies.empty()) {
        headers.emplace("Cookie", cookies);
    }
    for (const auto& [name, value] : req.headers) {
        if (!iequals(name, "Cookie") && !iequals(name, "Host") && !iequals(name, "Content-Length") &&
            !iequals(name, "Authorization") && !iequals(name, "Connection") &&
            !iequals(name, "REMOTE_ADDR") && !iequals(name, "REMOTE_PORT") && !iequals(name, "LOCAL_ADDR") &&
            !iequals(name, "LOCAL_PORT")) {
            headers.emplace(name, value);
        }
    }
    const std::string target = (rest.empty() ? "/" : rest) + (r.query.empty() ? "" : "?" + r.query);
    httplib::Result upstream =
        req.method == "POST" ? client->Post(target, headers, req.body, req.get_header_value("Content-Type"))
                             : client->Get(target, headers);
    std::string serverHeader;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        serverHeader = options_.serverHeader;
    }
    if (!upstream) {
        res.status = 502;
        res.set_content("internal server unreachable", "text/plain");
    } else {
        res.status = upstream->status;
        for (const auto& [name, value] : upstream->headers) {
            if (iequals(name, "Set-Cookie")) {
                res.headers.emplace(name,
                                    options_.cookiesUnderEdgePath ? underSegment(value, segment) : value);
            } else if (iequals(name, "Location")) {
                res.headers.emplace(name, value);
            }
        }
        res.set_content(upstream->body, upstream->get_header_value("Content-Type").empty()
                                            ? "application/octet-stream"
                                            : upstream->get_header_value("Content-Type"));
    }
    res.set_header("Server", serverHeader);
    r.status = res.status;
}

}  // namespace oxl::sandbox

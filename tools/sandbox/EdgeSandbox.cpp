#include "sandbox/EdgeSandbox.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <strings.h>

#include <array>
#include <cstdlib>
#include <sstream>

#include "sandbox/SandboxPki.h"
#include "sandbox/SandboxServer.h"

namespace oxl::sandbox {

namespace {

constexpr const char* X_AUTH = "X-Auth";

// Decodes Base64 in either alphabet ("+/" or "-_"), padding optional. False on any other byte.
bool decodeBase64(const std::string& in, std::string& out) {
    out.clear();
    unsigned int buffer = 0;
    int bits = 0;
    for (const char ch : in) {
        int v = -1;
        if (ch >= 'A' && ch <= 'Z') {
            v = ch - 'A';
        } else if (ch >= 'a' && ch <= 'z') {
            v = ch - 'a' + 26;
        } else if (ch >= '0' && ch <= '9') {
            v = ch - '0' + 52;
        } else if (ch == '+' || ch == '-') {
            v = 62;
        } else if (ch == '/' || ch == '_') {
            v = 63;
        } else if (ch == '=') {
            break;
        } else {
            return false;
        }
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return true;
}

std::string xmlEscape(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

void appendEdgeServers(std::ostringstream& xml, const char* element,
                       const std::vector<SandboxEdgeServer>& servers) {
    xml << "<" << element << ">";
    for (const auto& s : servers) {
        xml << "<server><address>" << xmlEscape(s.address) << "</address><tlsPort>" << s.tlsPort
            << "</tlsPort><udpPort>" << s.udpPort << "</udpPort></server>";
    }
    xml << "</" << element << ">";
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

std::string trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(' ');
    const std::size_t e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Name/value pairs of the request's Cookie headers.
std::vector<std::pair<std::string, std::string>> requestCookies(const httplib::Request& req) {
    std::vector<std::pair<std::string, std::string>> cookies;
    const std::size_t n = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < n; ++i) {
        for (const auto& item : split(req.get_header_value("Cookie", i), ';')) {
            const std::string pair = trim(item);
            const std::size_t eq = pair.find('=');
            if (eq != std::string::npos) {
                cookies.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
            }
        }
    }
    return cookies;
}

std::string randomValue() {
    std::array<unsigned char, 24> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        return {};
    }
    static const char* HEX = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += HEX[b >> 4];
        out += HEX[b & 0xF];
    }
    return out;
}

bool iequals(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string SandboxConfiguration::toXml(const std::vector<std::string>& requestedServices) const {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><getEdgeConfigResponse><serviceConfig>";
    for (const auto& name : requestedServices) {
        const SandboxService* found = nullptr;
        for (const auto& s : services) {
            if (s.name == name) {
                found = &s;
                break;
            }
        }
        xml << "<service><name>" << xmlEscape(name) << "</name>";
        if (found == nullptr) {
            xml << "<error>NameError</error>";
        } else {
            for (const auto& server : found->servers) {
                xml << "<server><address>" << xmlEscape(server.address) << "</address><port>" << server.port
                    << "</port><priority>" << server.priority << "</priority><weight>" << server.weight
                    << "</weight></server>";
            }
            if (!found->error.empty()) {
                xml << "<error>" << xmlEscape(found->error) << "</error>";
            }
        }
        xml << "</service>";
    }
    xml << "</serviceConfig><edgeConfig>";
    appendEdgeServers(xml, "sipEdgeServer", sipEdgeServers);
    appendEdgeServers(xml, "xmppEdgeServer", xmppEdgeServers);
    appendEdgeServers(xml, "httpEdgeServer", httpEdgeServers);
    if (!turnEdgeServers.empty()) {
        appendEdgeServers(xml, "turnEdgeServer", turnEdgeServers);
    }
    xml << "<sipRequest>";
    for (const auto& route : sipRoutes) {
        xml << "<route>" << xmlEscape(route) << "</route>";
    }
    xml << "</sipRequest></edgeConfig></getEdgeConfigResponse>";
    return xml.str();
}

EdgeSandbox::EdgeSandbox() : EdgeSandbox(Options{}) {}

EdgeSandbox::EdgeSandbox(Options options) : options_(std::move(options)) {
    SandboxServer::Tls tls;
    tls.enabled = true;
    if (options_.certFile.empty()) {
        pki_ = std::make_unique<SandboxPki>(options_.extraDnsNames);
        tls.pki = pki_.get();
    } else {
        tls.certFile = options_.certFile;
        tls.keyFile = options_.keyFile;
    }
    server_ = std::make_unique<SandboxServer>(options_.host, tls);
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
    server_->server().Get(".*", handler);
    server_->server().Post(".*", handler);
}

EdgeSandbox::~EdgeSandbox() {
    stop();
    for (auto& [user, password] : users_) {
        OPENSSL_cleanse(password.data(), password.size());
    }
    // Set elements are const only to keep their order, which no longer matters here.
    for (const auto& token : tokens_) {
        auto& text = const_cast<std::string&>(token);
        OPENSSL_cleanse(text.data(), text.size());
    }
}

bool EdgeSandbox::start() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    return server_->start(options_.port);
}

void EdgeSandbox::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    server_->stop();
}

uint16_t EdgeSandbox::port() const {
    return server_->port();
}

std::string EdgeSandbox::url(const std::string& path) const {
    return server_->url(path);
}

std::string EdgeSandbox::domainPath() const {
    return "/" + base64url(options_.domain);
}

std::string EdgeSandbox::trustFile() const {
    return pki_ ? pki_->trustFile() : std::string();
}

void EdgeSandbox::addUser(const std::string& username, const std::string& password) {
    const std::lock_guard<std::mutex> lock(mutex_);
    users_[username] = password;
}

void EdgeSandbox::addToken(const std::string& token) {
    const std::lock_guard<std::mutex> lock(mutex_);
    tokens_.insert(token);
}

void EdgeSandbox::setConfiguration(const SandboxConfiguration& configuration) {
    const std::lock_guard<std::mutex> lock(mutex_);
    configuration_ = configuration;
}

void EdgeSandbox::setCookieLifetime(long seconds) {
    const std::lock_guard<std::mutex> lock(mutex_);
    options_.cookieLifetimeSeconds = seconds;
}

void EdgeSandbox::setServerHeader(const std::string& value) {
    const std::lock_guard<std::mutex> lock(mutex_);
    options_.serverHeader = value;
}

void EdgeSandbox::injectFault(const Fault& fault, int times) {
    const std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({fault, times});
}

void EdgeSandbox::clearFaults() {
    const std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

EdgeSandbox::Counters EdgeSandbox::counters() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::vector<EdgeSandbox::ReceivedRequest> EdgeSandbox::received() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void EdgeSandbox::resetCounters() {
    const std::lock_guard<std::mutex> lock(mutex_);
    counters_ = Counters{};
    received_.clear();
}

std::size_t EdgeSandbox::activeSessions() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    const auto now = std::chrono::system_clock::now();
    for (const auto& [value, session] : sessions_) {
        n += session.expiry > now ? 1 : 0;
    }
    return n;
}

bool EdgeSandbox::isSessionValid(const std::string& value) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sessions_.find(value);
    return it != sessions_.end() && it->second.expiry > std::chrono::system_clock::now();
}

std::string EdgeSandbox::base64url(const std::string& text) {
    static const char* ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    unsigned int buffer = 0;
    int bits = 0;
    for (const char ch : text) {
        buffer = (buffer << 8) | static_cast<unsigned char>(ch);
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out += ALPHABET[(buffer >> bits) & 0x3F];
        }
    }
    if (bits > 0) {
        out += ALPHABET[(buffer << (6 - bits)) & 0x3F];
    }
    return out;
}

std::string EdgeSandbox::tokenizedBaseUrl(const std::string& domain, const std::string& scheme,
                                          const std::string& host, uint16_t port) {
    std::string text = domain + "/" + scheme + "/" + host;
    if (port != 0) {
        text += "/" + std::to_string(port);
    }
    return base64url(text);
}

void EdgeSandbox::record(const ReceivedRequest& r) {
    const std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(r);
    switch (r.endpoint) {
        case Endpoint::CONFIG:
            ++counters_.configRequests;
            break;
        case Endpoint::REFRESH:
            ++counters_.refreshRequests;
            break;
        case Endpoint::FORWARD:
            ++counters_.forwardedRequests;
            break;
        case Endpoint::OTHER:
            ++counters_.otherRequests;
            break;
    }
}

bool EdgeSandbox::waitOrStop(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !stopCv_.wait_for(lock, delay, [this] { return stopping_; });
}

bool EdgeSandbox::takeFault(Fault& fault) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (faults_.empty()) {
        return false;
    }
    fault = faults_.front().fault;
    if (faults_.front().remaining > 0 && --faults_.front().remaining == 0) {
        faults_.pop_front();
    }
    ++counters_.faultsInjected;
    return true;
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

std::string EdgeSandbox::openSession(const std::string& username, long lifetime) {
    const std::string value = randomValue();
    const std::lock_guard<std::mutex> lock(mutex_);
    sessions_[value] = {username, std::chrono::system_clock::now() + std::chrono::seconds(lifetime)};
    return value;
}

void EdgeSandbox::setSessionCookie(httplib::Response& res, const std::string& value, long lifetime) const {
    res.set_header("Set-Cookie", std::string(X_AUTH) + "=" + value +
                                     "; Path=/; Max-Age=" + std::to_string(lifetime) + "; Secure");
}

std::string EdgeSandbox::sessionCookie(const httplib::Request& req) const {
    for (const auto& [name, value] : requestCookies(req)) {
        if (name == X_AUTH) {
            return value;
        }
    }
    return {};
}

void EdgeSandbox::handle(const httplib::Request& req, httplib::Response& res) {
    ReceivedRequest r;
    r.method = req.method;
    r.path = req.path;
    const std::size_t q = req.target.find('?');
    r.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    r.userAgent = req.get_header_value("User-Agent");
    for (const auto& cookie : requestCookies(req)) {
        r.cookieNames.push_back(cookie.first);
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
        handleForward(req, res, r, decoded, rest);
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
        res.status = 401;
        res.set_content("no session", "text/plain");
        r.status = 401;
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.authenticationFailures;
        return;
    }
    std::string username;
    long lifetime = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        username = sessions_[current].username;
        sessions_.erase(current);
        lifetime = options_.cookieLifetimeSeconds;
    }
    if (req.has_param("ttl")) {
        lifetime = std::strtol(req.get_param_value("ttl").c_str(), nullptr, 10);
    }
    res.status = 200;
    r.status = 200;
    if (lifetime <= 0) {
        res.set_header("Set-Cookie",
                       std::string(X_AUTH) + "=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Secure");
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
                                const std::string& token, const std::string& rest) {
    const std::string current = sessionCookie(req);
    if (current.empty() || !isSessionValid(current)) {
        res.status = 401;
        res.set_content("no session", "text/plain");
        r.status = 401;
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counters_.authenticationFailures;
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
        if (name != X_AUTH) {
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
            if (iequals(name, "Set-Cookie") || iequals(name, "Location")) {
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

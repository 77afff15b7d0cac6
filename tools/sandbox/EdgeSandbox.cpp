#include "sandbox/EdgeSandbox.h"

#include <httplib.h>
#include <openssl/crypto.h>

#include "sandbox/EdgeSandboxText.h"
#include "sandbox/SandboxPki.h"
#include "sandbox/SandboxServer.h"

namespace oxl::sandbox {

EdgeSandbox::EdgeSandbox() : EdgeSandbox(Options{}) {}

EdgeSandbox::EdgeSandbox(Options options) : options_(std::move(options)) {
    if (options_.certFile.empty()) {
        pki_ = std::make_unique<SandboxPki>(options_.extraDnsNames);
    }
    const std::size_t count = options_.nodes == 0 ? 1 : options_.nodes;
    for (std::size_t i = 0; i < count; ++i) {
        auto node = std::make_unique<Node>();
        node->server = makeServer(i);
        nodes_.push_back(std::move(node));
    }
}

EdgeSandbox::~EdgeSandbox() {
    stop();
    for (auto& [user, password] : users_) {
        OPENSSL_cleanse(password.data(), password.size());
    }
    // Set elements are const only to keep their order, which no longer matters here.
    for (const auto& token : tokens_) {
        auto& value = const_cast<std::string&>(token);
        OPENSSL_cleanse(value.data(), value.size());
    }
}

std::unique_ptr<SandboxServer> EdgeSandbox::makeServer(std::size_t node) {
    SandboxServer::Tls tls;
    tls.enabled = true;
    if (pki_) {
        tls.pki = pki_.get();
    } else {
        tls.certFile = options_.certFile;
        tls.keyFile = options_.keyFile;
    }
    auto server = std::make_unique<SandboxServer>(options_.host, tls);
    auto handler = [this, node](const httplib::Request& req, httplib::Response& res) {
        handle(node, req, res);
    };
    server->server().Get(".*", handler);
    server->server().Post(".*", handler);
    return server;
}

bool EdgeSandbox::start() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    const std::lock_guard<std::mutex> lock(nodesMutex_);
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        Node& node = *nodes_[i];
        if (node.server->isRunning()) {
            continue;
        }
        if (!node.server->start(i == 0 ? options_.port : node.port)) {
            return false;
        }
        node.port = node.server->port();
    }
    return true;
}

void EdgeSandbox::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    // Wakes handlers held by a hang fault or a delay.
    stopCv_.notify_all();
    const std::lock_guard<std::mutex> lock(nodesMutex_);
    for (auto& node : nodes_) {
        node->server->stop();
    }
}

uint16_t EdgeSandbox::port(std::size_t node) const {
    const std::lock_guard<std::mutex> lock(nodesMutex_);
    return node < nodes_.size() ? nodes_[node]->port : 0;
}

std::string EdgeSandbox::nodeUrl(std::size_t node, const std::string& path) const {
    const std::lock_guard<std::mutex> lock(nodesMutex_);
    if (node >= nodes_.size()) {
        return {};
    }
    const std::string& host = options_.host;
    return "https://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(nodes_[node]->port) + path;
}

bool EdgeSandbox::setNodeFault(std::size_t node, NodeFault fault) {
    const std::lock_guard<std::mutex> nodesLock(nodesMutex_);
    if (node >= nodes_.size()) {
        return false;
    }
    Node& n = *nodes_[node];
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        n.fault = fault;
    }
    stopCv_.notify_all();
    const bool running = n.server->isRunning();
    if (fault == NodeFault::REFUSE && running) {
        n.server->stop();
    } else if (fault != NodeFault::REFUSE && !running && n.port != 0) {
        // A stopped server cannot listen again: a fresh one takes the same port.
        n.server = makeServer(node);
        return n.server->start(n.port);
    }
    return true;
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

std::vector<EdgeSandbox::ReceivedRequest> EdgeSandbox::received(std::size_t node) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ReceivedRequest> out;
    for (const auto& r : received_) {
        if (r.node == node) {
            out.push_back(r);
        }
    }
    return out;
}

bool EdgeSandbox::waitForRequest(const std::function<bool(const ReceivedRequest&)>& match,
                                 std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t checked = 0;
    return receivedCv_.wait_for(lock, timeout, [&] {
        for (; checked < received_.size(); ++checked) {
            if (match(received_[checked])) {
                return true;
            }
        }
        return false;
    });
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
    {
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
    receivedCv_.notify_all();
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

std::string EdgeSandbox::openSession(const std::string& username, long lifetime) {
    const std::string value = text::randomValue();
    const std::lock_guard<std::mutex> lock(mutex_);
    sessions_[value] = {username, std::chrono::system_clock::now() + std::chrono::seconds(lifetime)};
    return value;
}

void EdgeSandbox::setSessionCookie(httplib::Response& res, const std::string& value, long lifetime) const {
    std::string cookie = "X-Auth=" + value + "; Path=/; Max-Age=" + std::to_string(lifetime) + "; Secure";
    if (!options_.cookieDomain.empty()) {
        cookie += "; Domain=" + options_.cookieDomain;
    }
    res.set_header("Set-Cookie", cookie);
}

std::string EdgeSandbox::sessionCookie(const httplib::Request& req) const {
    for (const auto& [name, value] : text::requestCookies(req)) {
        if (name == "X-Auth") {
            return value;
        }
    }
    return {};
}

}  // namespace oxl::sandbox

#include "sandbox/SandboxServer.h"

#include <chrono>

#include "sandbox/SandboxPki.h"

namespace oxl::sandbox {

SandboxServer::SandboxServer(const std::string& host, const Tls& tls) : host_(host), https_(tls.enabled) {
    if (!tls.enabled) {
        server_ = std::make_unique<httplib::Server>();
    } else if (!tls.certFile.empty()) {
        server_ = std::make_unique<httplib::SSLServer>(tls.certFile.c_str(), tls.keyFile.c_str());
    } else if (tls.pki != nullptr && tls.pki->ok()) {
        server_ = std::make_unique<httplib::SSLServer>(tls.pki->leafCertificate(), tls.pki->leafKey());
    } else {
        // No certificate: start() refuses.
        server_ = std::make_unique<httplib::Server>();
        missingCertificate_ = true;
    }
    // Edge clients time out on their own; keep the sandbox from holding idle connections long.
    server_->set_keep_alive_timeout(2);
}

SandboxServer::~SandboxServer() {
    stop();
}

bool SandboxServer::start(uint16_t port) {
    if (thread_.joinable() || missingCertificate_ || !server_->is_valid()) {
        return false;
    }
    int bound = 0;
    if (port == 0) {
        bound = server_->bind_to_any_port(host_);
    } else {
        bound = server_->bind_to_port(host_, port) ? port : -1;
    }
    if (bound <= 0) {
        return false;
    }
    port_ = static_cast<uint16_t>(bound);
    threadDone_ = false;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        threadDone_ = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!server_->is_running() && !threadDone_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!server_->is_running()) {
        stop();
        return false;
    }
    return true;
}

void SandboxServer::stop() {
    if (!thread_.joinable()) {
        return;
    }
    // stop() does nothing before the listen loop runs, so wait for the loop (or its end) first.
    while (!server_->is_running() && !threadDone_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    server_->stop();
    thread_.join();
}

bool SandboxServer::isRunning() const {
    return thread_.joinable() && server_->is_running();
}

std::string SandboxServer::url(const std::string& path) const {
    std::string url = https_ ? "https://" : "http://";
    url += host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
    url += ":" + std::to_string(port_) + path;
    return url;
}

}  // namespace oxl::sandbox

// An HTTP or HTTPS server (cpp-httplib) on a free port, serving on its own thread. The base of the
// sandbox's edge server and internal web server.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace oxl::sandbox {

class SandboxPki;

class SandboxServer {
  public:
    struct Tls {
        bool enabled = false;
        // PEM files (leaf first, then intermediates) and key; both empty: `pki` supplies the certificate.
        std::string certFile;
        std::string keyFile;
        const SandboxPki* pki = nullptr;
    };

    SandboxServer(const std::string& host, const Tls& tls);
    ~SandboxServer();
    SandboxServer(const SandboxServer&) = delete;
    SandboxServer& operator=(const SandboxServer&) = delete;

    // Register handlers on server() before start().
    httplib::Server& server() { return *server_; }
    // Binds a free port (or `port` when non-zero) and serves; false when TLS material is unusable or
    // nothing could be bound.
    bool start(uint16_t port = 0);
    void stop();
    bool isRunning() const;

    uint16_t port() const { return port_; }
    const std::string& host() const { return host_; }
    bool isHttps() const { return https_; }
    // "https://HOST:PORT" (IPv6 literals bracketed) + path.
    std::string url(const std::string& path = "/") const;

  private:
    std::string host_;
    bool https_;
    bool missingCertificate_ = false;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> threadDone_{false};
    uint16_t port_ = 0;
};

}  // namespace oxl::sandbox

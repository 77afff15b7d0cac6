// A small web server that stands for an enterprise service behind the edge: static files, cookies and
// redirects, over HTTP or HTTPS, on a free loopback port.
//
//   GET  <path of a file>               the file's content
//   GET  /set-cookie?name=N&value=V[&path=P][&max-age=S]   sets the cookie, answers "ok"
//   GET  /cookies                       echoes the request's Cookie header
//   GET  /redirect?to=URL[&status=N]    redirects (302 unless N is given)
//   POST /echo                          echoes the body
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace oxl::sandbox {

class SandboxPki;
class SandboxServer;

class InternalWebServer {
  public:
    struct Options {
        std::string host = "127.0.0.1";
        bool https = false;
        // PEM chain and key for HTTPS; empty: a throw-away CA of its own (see trustFile()).
        std::string certFile;
        std::string keyFile;
    };

    InternalWebServer();
    explicit InternalWebServer(Options options);
    ~InternalWebServer();
    InternalWebServer(const InternalWebServer&) = delete;
    InternalWebServer& operator=(const InternalWebServer&) = delete;

    void addFile(const std::string& path, const std::string& content,
                 const std::string& contentType = "text/plain");
    bool start();
    void stop();
    uint16_t port() const;
    const std::string& host() const { return options_.host; }
    std::string url(const std::string& path = "/") const;
    std::string trustFile() const;
    // Requests received, per path.
    std::size_t requestCount(const std::string& path) const;

  private:
    Options options_;
    std::unique_ptr<SandboxPki> pki_;
    std::unique_ptr<SandboxServer> server_;
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<std::string, std::string>> files_;
    std::map<std::string, std::size_t> counts_;
};

}  // namespace oxl::sandbox

// A real forward proxy for tests: tinyproxy on a free loopback port, with a log the test can read to prove
// that a request went through it.
//
//   oxl::test::TinyproxyFixture proxy({.connectPorts = {server.port()}});
//   ASSERT_TRUE(proxy.isRunning()) << proxy.log();
//   ... send a request with CURLOPT_PROXY = proxy.proxyUrl() ...
//   EXPECT_TRUE(proxy.waitForLog("GET " + server.url("/x"), 5000)) << proxy.log();
//
// Only 127.0.0.1 may use the proxy. CONNECT (HTTPS through the proxy) is allowed only to connectPorts; an
// empty list allows no CONNECT at all. The log (LogLevel Info) has one "Request (file descriptor N): GET
// http://host:port/path HTTP/1.1" line per plain request and "CONNECT host:port HTTP/1.1" per tunnel; a
// plain request reaches the server with a "Via" header naming tinyproxy.
// The configuration and the log live in a private temporary directory removed by the destructor, which
// also stops and reaps the process.
//
// With a certificate and key (Options::tlsCertFile, tlsKeyFile) the proxy is an HTTPS proxy: clients speak
// TLS to a front on its own loopback port (proxyUrl() then says "https://"), which hands the decrypted
// stream to tinyproxy. tlsHandshakes() counts the connections that completed the handshake.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace oxl::test {

class TinyproxyFixture {
  public:
    struct Options {
        std::vector<uint16_t> connectPorts;
        int startTimeoutMs = 20000;
        // When set, every client must authenticate with these (Basic); others get 407.
        std::string basicAuthUser;
        std::string basicAuthPassword;
        std::string tlsCertFile;  // PEM chain, the proxy's certificate first
        std::string tlsKeyFile;
    };

    // Starts the proxy; check isRunning().
    TinyproxyFixture();
    explicit TinyproxyFixture(Options options);
    ~TinyproxyFixture();
    TinyproxyFixture(const TinyproxyFixture&) = delete;
    TinyproxyFixture& operator=(const TinyproxyFixture&) = delete;

    bool isRunning() const;
    // The port clients connect to: the TLS front's for an HTTPS proxy.
    uint16_t port() const;
    // "127.0.0.1:PORT"
    std::string address() const;
    // "http://127.0.0.1:PORT", or "https://127.0.0.1:PORT" for an HTTPS proxy.
    std::string proxyUrl() const;
    size_t tlsHandshakes() const;

    // The proxy's log file and what it wrote to standard error, for assertions and failure messages.
    std::string log() const;
    // Polls the log until it contains `text` or `timeoutMs` has passed.
    bool waitForLog(const std::string& text, int timeoutMs) const;
    // Stops the proxy (SIGTERM, then SIGKILL) and reaps it; the log stays readable.
    void stop();

  private:
    class TlsFront;
    bool startOnce();

    Options options_;
    std::string dir_;
    std::string logPath_;
    std::string outputPath_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
    std::unique_ptr<TlsFront> tls_;
};

}  // namespace oxl::test

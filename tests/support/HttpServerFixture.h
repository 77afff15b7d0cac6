// A real HTTP or HTTPS server for tests: cpp-httplib in-process on a free loopback port.
//
//   oxl::test::HttpServerFixture server;                       // plain HTTP
//   server.onGet("/hello", [](const httplib::Request&, httplib::Response& res) {
//       res.set_content("hi", "text/plain");
//   });
//   ASSERT_TRUE(server.start());
//   ... fetch server.url("/hello") ...
//   EXPECT_EQ(server.requestCount("/hello"), 1u);
//
//   HttpServerFixture::Options tls;                            // HTTPS, e.g. with TestPki's server chain
//   tls.https = true;
//   tls.certFile = chain.certFile;                             // leaf first, then the intermediates
//   tls.keyFile = chain.keyFile;
//   tls.tls12Only = true;                                      // optional: refuse TLS 1.3 and below 1.2
//   HttpServerFixture secure(tls);
//
// Handlers must be registered before start(). Requests are counted (and recorded) before their handler
// runs, so a count read after the client has its response already includes that request. stop() (also run
// by the destructor) waits for the server thread; it may be called more than once.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace oxl::test {

class HttpServerFixture {
  public:
    struct Options {
        bool https = false;
        std::string certFile;  // PEM chain for HTTPS: the server certificate first
        std::string keyFile;   // PEM private key for HTTPS
        bool tls12Only = false;
        std::string host = "127.0.0.1";
        size_t threads = CPPHTTPLIB_THREAD_POOL_COUNT;  // worker threads, all started by start()
    };

    struct RecordedRequest {
        std::string method;
        std::string path;
        std::string body;
        httplib::Headers headers;
    };

    HttpServerFixture();
    explicit HttpServerFixture(Options options);
    ~HttpServerFixture();
    // The name of the server's threads (listener and workers), for tests that count the process's threads.
    static constexpr const char* THREAD_NAME = "test-http";

    HttpServerFixture(const HttpServerFixture&) = delete;
    HttpServerFixture& operator=(const HttpServerFixture&) = delete;

    // Patterns are cpp-httplib's regular expressions over the path ("/pac", R"(/files/(\w+))").
    HttpServerFixture& onGet(const std::string& pattern, httplib::Server::Handler handler);
    HttpServerFixture& onPost(const std::string& pattern, httplib::Server::Handler handler);
    HttpServerFixture& onPut(const std::string& pattern, httplib::Server::Handler handler);
    HttpServerFixture& onDelete(const std::string& pattern, httplib::Server::Handler handler);
    HttpServerFixture& onOptions(const std::string& pattern, httplib::Server::Handler handler);
    // The underlying server, for settings the fixture does not wrap (register before start()). Its task
    // queue is the fixture's own: size it with Options::threads.
    httplib::Server& server() { return *server_; }

    // Binds a free port and serves on a background thread; true once it accepts connections. False when
    // the HTTPS material could not be loaded or nothing could be bound.
    bool start();
    void stop();
    bool isRunning() const;

    uint16_t port() const { return port_; }
    const std::string& host() const { return options_.host; }
    bool isHttps() const { return options_.https; }
    // "http://127.0.0.1:PORT" + path (or "https://...").
    std::string url(const std::string& path = "/") const;
    // "127.0.0.1:PORT".
    std::string authority() const;

    size_t requestCount() const;
    size_t requestCount(const std::string& path) const;
    std::vector<RecordedRequest> requests() const;
    void resetCounters();

  private:
    Options options_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> threadDone_{false};
    std::atomic<bool> poolReady_{false};
    uint16_t port_ = 0;
    int listenSocket_ = -1;
    mutable std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace oxl::test

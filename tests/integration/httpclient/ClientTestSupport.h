// Shared pieces of the HTTP clients' integration tests: a listener that records notifications, HTTPS servers
// under a fresh test PKI, the real certificate verifier over a trust file, and raw sockets for the failures a
// well-behaved server never shows.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "oxl/cert/common/CertVerifier.h"
#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/cert/platform/PlatformCertVerifier.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/HttpClientListener.h"
#include "oxl/http/NamePinning.h"
#include "oxl/http/Request.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxl/runtime/Thread.h"
#include "support/Dnsmasq.h"
#include "support/HttpServerFixture.h"
#include "support/LogCapture.h"
#include "support/RecordingReporter.h"
#include "support/TestPki.h"

namespace oxl::http::test {

// Everything one notification carried, and the thread that delivered it.
struct Notification {
    enum Kind { COMPLETED, FAILED } kind;
    unsigned int requestId = 0;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    int responseCode = 0;
    std::string body;
    std::string url;
    std::thread::id thread;
    std::string threadName;
};

class RecordingListener : public HttpClientListener {
  public:
    void onRequestFailed(unsigned int requestId, HttpClientResult::Result result) override {
        record({Notification::FAILED,
                requestId,
                result,
                0,
                {},
                {},
                std::this_thread::get_id(),
                oxl::Thread::getCurrentThreadName()});
    }
    void onRequestCompleted(unsigned int requestId, Response& response) override {
        record({Notification::COMPLETED, requestId, HttpClientResult::SUCCESS, response.responseCode,
                response.getBodyAsString(), response.url, std::this_thread::get_id(),
                oxl::Thread::getCurrentThreadName()});
    }
    void onRequestProgress(unsigned int requestId, const ProgressData& progress) override {
        progressCalls_.fetch_add(1);
        if (onProgress) {
            onProgress(requestId, progress);
        }
    }

    // Waits until `count` notifications arrived; false after the time-out.
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return notifications_.size() >= count; });
    }
    std::vector<Notification> notifications() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return notifications_;
    }
    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return notifications_.size();
    }
    // The notifications of one request (more than one is a fault).
    std::vector<Notification> notesFor(unsigned int requestId) const {
        std::vector<Notification> found;
        for (const auto& n : notifications()) {
            if (n.requestId == requestId) {
                found.push_back(n);
            }
        }
        return found;
    }
    size_t progressCalls() const { return progressCalls_.load(); }

    std::function<void(unsigned int, const ProgressData&)> onProgress;

  private:
    void record(Notification n) {
        std::lock_guard<std::mutex> lock(mutex_);
        notifications_.push_back(std::move(n));
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> notifications_;
    std::atomic<size_t> progressCalls_{0};
};

using oxl::test::RecordingReporter;

// The library's own certificate verifier, trusting only the roots in `trustFile`.
inline std::shared_ptr<CertVerifier> realVerifier(const std::string& trustFile) {
    oxl::cert::PlatformCertVerifier::setTrustFile(trustFile);
    return std::make_shared<oxl::netutils::adapters::HttpCertAdapter>(
        oxl::cert::CertVerifierFactory::createCertVerifier());
}

// An HTTPS server with a certificate for `host`, reached by that name through a pin to 127.0.0.1.
class HttpsServer {
  public:
    explicit HttpsServer(const std::string& host = "server.test", bool tls12Only = false)
        : host_(host),
          chain_(pki_.makeServerChain(host)),
          server_(oxl::test::HttpServerFixture::Options{.https = true,
                                                        .certFile = chain_.certFile,
                                                        .keyFile = chain_.keyFile,
                                                        .tls12Only = tls12Only}) {}
    ~HttpsServer() {
        server_.stop();
        if (pinned_) {
            oxl::http::NamePinning::instance().unpin(host_, server_.port());
        }
    }
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    bool start() {
        pinned_ =
            server_.start() && oxl::http::NamePinning::instance().pin(host_, server_.port(), "127.0.0.1");
        return pinned_;
    }
    oxl::test::HttpServerFixture* operator->() { return &server_; }
    // "https://HOST:PORT" + path.
    std::string url(const std::string& path = "/") const {
        return "https://" + host_ + ":" + std::to_string(server_.port()) + path;
    }
    const std::string& host() const { return host_; }
    const std::string& trustFile() const { return chain_.trustFile; }

  private:
    std::string host_;
    oxl::test::TestPki pki_;
    oxl::test::TestPki::ServerChain chain_;
    oxl::test::HttpServerFixture server_;
    bool pinned_ = false;
};

// A loopback port nothing listens on (bound once, then released).
inline uint16_t refusedPort() {
    return oxl::test::freeLoopbackPort();
}

// Accepts connections on a loopback port, reads the request head and closes each one, before any byte of a
// response or right after the given raw answer. The first request head is kept: what a proxy sees of a
// CONNECT, for example.
class ClosingServer {
  public:
    explicit ClosingServer(std::string answer = {}) : answer_(std::move(answer)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                const int client = ::accept(fd_, nullptr, nullptr);
                if (client < 0 || stopping_) {
                    if (client >= 0) {
                        ::close(client);
                    }
                    return;
                }
                // Read what the client sent so the close is an orderly end of a started exchange.
                const std::string head = readHead(client);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (accepted_ == 0) {
                        firstRequest_ = head;
                    }
                }
                if (!answer_.empty()) {
                    (void)::send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
                }
                accepted_.fetch_add(1);
                ::close(client);
            }
        });
    }
    ~ClosingServer() {
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    size_t accepted() const { return accepted_.load(); }
    // The head of the first request, complete once its client has seen the answer or the close.
    std::string firstRequest() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return firstRequest_;
    }

  private:
    // Up to the blank line ending the head; a client that sends no HTTP (a TLS hello) gets two seconds.
    static std::string readHead(int client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            pollfd pfd{client, POLLIN, 0};
            if (::poll(&pfd, 1, 2000) <= 0) {
                break;
            }
            const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            head.append(buffer, static_cast<size_t>(n));
        }
        return head;
    }

    const std::string answer_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> accepted_{0};
    mutable std::mutex mutex_;
    std::string firstRequest_;
    std::thread thread_;
};

inline std::string url(uint16_t port, const std::string& path = "/", const std::string& scheme = "http",
                       const std::string& host = "127.0.0.1") {
    return scheme + "://" + host + ":" + std::to_string(port) + path;
}

// The captured log, for failure messages.
inline std::string dump(const oxl::test::LogCapture& log) {
    std::string text;
    for (const auto& record : log.records()) {
        text += "\n  [" + record.logger + "] " + record.function + ": " + record.message;
    }
    return text;
}

// libcurl and OpenSSL set up the way an application does it.
class GlobalInitEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(oxl::netutils::GlobalInit(), 0); }
};

}  // namespace oxl::http::test

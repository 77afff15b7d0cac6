#include "support/HttpServerFixture.h"

#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>

namespace oxl::test {
namespace {

// cpp-httplib's own pool, but with its workers named "test-http" and all of them running before the
// constructor returns: tests that count the process's threads leave the servers' threads out.
class NamedThreadPool final : public httplib::TaskQueue {
  public:
    explicit NamedThreadPool(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            threads_.emplace_back([this] { work(); });
        }
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [&] { return named_ == threads_.size(); });
    }
    ~NamedThreadPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(fn));
        }
        cond_.notify_one();
    }

    void shutdown() override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            shutdown_ = true;
        }
        cond_.notify_all();
        for (auto& t : threads_) {
            if (t.joinable()) {
                t.join();
            }
        }
    }

  private:
    void work() {
        ::pthread_setname_np(::pthread_self(), HttpServerFixture::THREAD_NAME);
        std::unique_lock<std::mutex> lock(mutex_);
        ++named_;
        cond_.notify_all();
        for (;;) {
            cond_.wait(lock, [&] { return shutdown_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            auto fn = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t named_ = 0;
    bool shutdown_ = false;
};

}  // namespace

HttpServerFixture::HttpServerFixture() : HttpServerFixture(Options{}) {}

HttpServerFixture::HttpServerFixture(Options options) : options_(std::move(options)) {
    if (options_.https) {
        server_ = std::make_unique<httplib::SSLServer>(options_.certFile.c_str(), options_.keyFile.c_str());
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(RecordedRequest{req.method, req.path, req.body, req.headers});
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // httplib owns the queue it is given and deletes it when its listen loop ends.
    server_->new_task_queue = [this] {
        auto* pool = new NamedThreadPool(options_.threads);
        poolReady_ = true;
        return pool;
    };
    // Remembered so that start() can give it a longer accept queue than the library's five.
    server_->set_socket_options([this](socket_t sock) {
        httplib::default_socket_options(sock);
        listenSocket_ = sock;
    });
}

HttpServerFixture::~HttpServerFixture() {
    stop();
}

HttpServerFixture& HttpServerFixture::onGet(const std::string& pattern, httplib::Server::Handler handler) {
    server_->Get(pattern, std::move(handler));
    return *this;
}

HttpServerFixture& HttpServerFixture::onPost(const std::string& pattern, httplib::Server::Handler handler) {
    server_->Post(pattern, std::move(handler));
    return *this;
}

HttpServerFixture& HttpServerFixture::onPut(const std::string& pattern, httplib::Server::Handler handler) {
    server_->Put(pattern, std::move(handler));
    return *this;
}

HttpServerFixture& HttpServerFixture::onDelete(const std::string& pattern, httplib::Server::Handler handler) {
    server_->Delete(pattern, std::move(handler));
    return *this;
}

HttpServerFixture& HttpServerFixture::onOptions(const std::string& pattern,
                                                httplib::Server::Handler handler) {
    server_->Options(pattern, std::move(handler));
    return *this;
}

bool HttpServerFixture::start() {
    if (thread_.joinable() || !server_->is_valid()) {
        return false;
    }
    if (options_.https && options_.tls12Only) {
        SSL_CTX* ctx = static_cast<httplib::SSLServer&>(*server_).ssl_context();
        if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION) != 1) {
            return false;
        }
    }
    const int port = server_->bind_to_any_port(options_.host);
    if (port <= 0) {
        return false;
    }
    port_ = static_cast<uint16_t>(port);
    // Many clients connecting at once would overflow a queue of five, and the kernel then drops their
    // handshakes (seen as TLS connections reset by the peer).
    if (listenSocket_ >= 0) {
        ::listen(listenSocket_, SOMAXCONN);
    }
    threadDone_ = false;
    poolReady_ = false;
    thread_ = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), THREAD_NAME);
        server_->listen_after_bind();
        threadDone_ = true;
    });
    // Generous: the machine may be loaded and sanitizers slow start-up down.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!server_->is_running() || !poolReady_) && !threadDone_ &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!server_->is_running() || !poolReady_) {
        stop();
        return false;
    }
    return true;
}

void HttpServerFixture::stop() {
    if (thread_.joinable()) {
        // The server's stop() does nothing before its listen loop runs, so wait for the loop (or its end).
        while (!server_->is_running() && !threadDone_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        server_->stop();
        thread_.join();
    }
}

bool HttpServerFixture::isRunning() const {
    return thread_.joinable() && server_->is_running();
}

std::string HttpServerFixture::authority() const {
    return options_.host + ":" + std::to_string(port_);
}

std::string HttpServerFixture::url(const std::string& path) const {
    return std::string(options_.https ? "https://" : "http://") + authority() + path;
}

size_t HttpServerFixture::requestCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

size_t HttpServerFixture::requestCount(const std::string& path) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& r : requests_) {
        n += r.path == path ? 1 : 0;
    }
    return n;
}

std::vector<HttpServerFixture::RecordedRequest> HttpServerFixture::requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void HttpServerFixture::resetCounters() {
    const std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

}  // namespace oxl::test

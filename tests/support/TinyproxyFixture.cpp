#include "support/TinyproxyFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/Dnsmasq.h"

extern char** environ;

namespace oxl::test {

namespace {
std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

int connectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool acceptsConnections(uint16_t port) {
    const int fd = connectLoopback(port);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}
}  // namespace

// Terminates TLS on its own loopback port and relays the clear stream to tinyproxy, one thread per
// connection. Stopping shuts every socket down, which ends the relays, and joins all threads.
class TinyproxyFixture::TlsFront {
  public:
    TlsFront(const std::string& certFile, const std::string& keyFile, uint16_t backendPort)
        : backendPort_(backendPort) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (ctx_ == nullptr || SSL_CTX_use_certificate_chain_file(ctx_, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            ERR_clear_error();
            return;
        }
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 16) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~TlsFront() {
        stopping_ = true;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            for (const int fd : open_) {
                ::shutdown(fd, SHUT_RDWR);
            }
        }
        if (listenFd_ >= 0) {
            ::shutdown(listenFd_, SHUT_RDWR);
        }
        if (acceptor_.joinable()) {
            acceptor_.join();
        }
        for (auto& t : relays_) {
            t.join();
        }
        if (listenFd_ >= 0) {
            ::close(listenFd_);
        }
        SSL_CTX_free(ctx_);
    }

    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    uint16_t port() const { return port_; }
    size_t handshakes() const { return handshakes_.load(); }

  private:
    void acceptLoop() {
        while (!stopping_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                ::close(fd);
                break;
            }
            open_.push_back(fd);
            relays_.emplace_back([this, fd] { relay(fd); });
        }
    }

    void track(int fd) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            ::shutdown(fd, SHUT_RDWR);
        }
        open_.push_back(fd);
    }

    void forget(int fd) {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
        ::close(fd);
    }

    void relay(int clientFd) {
        SSL* ssl = SSL_new(ctx_);
        int backendFd = -1;
        if (ssl != nullptr && SSL_set_fd(ssl, clientFd) == 1 && SSL_accept(ssl) == 1) {
            ++handshakes_;
            backendFd = connectLoopback(backendPort_);
        }
        if (backendFd >= 0) {
            track(backendFd);
            pump(ssl, clientFd, backendFd);
            SSL_shutdown(ssl);
            forget(backendFd);
        }
        SSL_free(ssl);
        ERR_clear_error();
        forget(clientFd);
    }

    static bool sendAll(int fd, const char* data, size_t length) {
        while (length > 0) {
            const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            data += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }

    static void pump(SSL* ssl, int clientFd, int backendFd) {
        char buffer[16384];
        for (;;) {
            // Bytes TLS already decrypted are not visible to poll.
            if (SSL_pending(ssl) == 0) {
                pollfd p[2] = {{clientFd, POLLIN, 0}, {backendFd, POLLIN, 0}};
                if (::poll(p, 2, -1) <= 0) {
                    return;
                }
                if ((p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                    const ssize_t n = ::recv(backendFd, buffer, sizeof buffer, 0);
                    if (n <= 0 || SSL_write(ssl, buffer, static_cast<int>(n)) <= 0) {
                        return;
                    }
                }
                if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
            }
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            if (!sendAll(backendFd, buffer, static_cast<size_t>(n))) {
                return;
            }
        }
    }

    uint16_t backendPort_;
    SSL_CTX* ctx_ = nullptr;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> handshakes_{0};
    std::mutex mutex_;
    std::vector<int> open_;
    std::vector<std::thread> relays_;
    std::thread acceptor_;
};

TinyproxyFixture::TinyproxyFixture() : TinyproxyFixture(Options{}) {}

TinyproxyFixture::TinyproxyFixture(Options options) : options_(std::move(options)) {
    char pattern[] = "/tmp/oxl-tinyproxy-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return;
    }
    dir_ = pattern;
    logPath_ = dir_ + "/tinyproxy.log";
    outputPath_ = dir_ + "/output.txt";
    // A port found free can be taken before tinyproxy binds it; try a few.
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
        startOnce();
    }
    if (pid_ > 0 && !options_.tlsCertFile.empty()) {
        tls_ = std::make_unique<TlsFront>(options_.tlsCertFile, options_.tlsKeyFile, port_);
    }
}

TinyproxyFixture::~TinyproxyFixture() {
    tls_.reset();
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool TinyproxyFixture::startOnce() {
    port_ = freeLoopbackPort();
    if (port_ == 0) {
        return false;
    }
    const std::string configPath = dir_ + "/tinyproxy.conf";
    {
        std::ofstream conf(configPath, std::ios::trunc);
        conf << "Port " << port_ << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 30\n"
             << "LogFile \"" << logPath_ << "\"\n"
             << "LogLevel Info\n"
             << "MaxClients 50\n"
             << "Allow 127.0.0.1\n";
        if (options_.connectPorts.empty()) {
            conf << "ConnectPort 0\n";
        }
        for (const uint16_t p : options_.connectPorts) {
            conf << "ConnectPort " << p << "\n";
        }
        if (!options_.basicAuthUser.empty()) {
            conf << "BasicAuth " << options_.basicAuthUser << " " << options_.basicAuthPassword << "\n";
        }
        if (!conf) {
            return false;
        }
    }
    std::vector<std::string> args = {OXL_TINYPROXY, "-d", "-c", configPath};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return false;  // exited: most likely the port was taken meanwhile
        }
        if (acceptsConnections(port_)) {
            pid_ = pid;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

void TinyproxyFixture::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

bool TinyproxyFixture::isRunning() const {
    return pid_ > 0 && (options_.tlsCertFile.empty() || (tls_ && tls_->port() != 0));
}

uint16_t TinyproxyFixture::port() const {
    return tls_ ? tls_->port() : port_;
}

size_t TinyproxyFixture::tlsHandshakes() const {
    return tls_ ? tls_->handshakes() : 0;
}

std::string TinyproxyFixture::address() const {
    return "127.0.0.1:" + std::to_string(port());
}

std::string TinyproxyFixture::proxyUrl() const {
    return (tls_ ? "https://" : "http://") + address();
}

std::string TinyproxyFixture::log() const {
    return readFile(logPath_) + readFile(outputPath_);
}

bool TinyproxyFixture::waitForLog(const std::string& text, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (readFile(logPath_).find(text) != std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace oxl::test

// A real TCP listener on a loopback address (127.0.0.1 or ::1) and a free port. Connections complete in the
// kernel's backlog; acceptPeer() takes one and reports the address it came from; close() makes the port
// refuse them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace oxl::test {

class LoopbackListener {
  public:
    explicit LoopbackListener(int family = AF_INET) : family_(family) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            return;
        }
        sockaddr_storage addr{};
        socklen_t len = 0;
        if (family == AF_INET) {
            auto* a = reinterpret_cast<sockaddr_in*>(&addr);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof(sockaddr_in);
        } else {
            int one = 1;
            ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one));
            auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            len = sizeof(sockaddr_in6);
        }
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        port_ = family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port)
                                  : ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    }
    ~LoopbackListener() { close(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool ok() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    // The peer address of the next pending connection, or "" when none arrives within the wait.
    std::string acceptPeer(int waitMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) {
            return {};
        }
        sockaddr_storage peer{};
        socklen_t len = sizeof(peer);
        const int conn = ::accept(fd_, reinterpret_cast<sockaddr*>(&peer), &len);
        if (conn < 0) {
            return {};
        }
        ::close(conn);
        char text[INET6_ADDRSTRLEN] = {};
        const void* src = family_ == AF_INET
                              ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&peer)->sin_addr)
                              : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr);
        ::inet_ntop(family_, src, text, sizeof(text));
        return text;
    }

  private:
    int family_;
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace oxl::test

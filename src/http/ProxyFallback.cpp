#include "http/ProxyFallback.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "oxl/http/NamePinning.h"
#include "oxl/log/Log.h"

namespace oxl::http::detail {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.http");
    return l;
}

struct Endpoint {
    std::string host;
    std::string port;
};

bool splitEntry(const std::string& entry, Endpoint& endpoint) {
    std::string rest = entry;
    std::string port = "80";
    if (rest.rfind("https://", 0) == 0) {
        rest.erase(0, 8);
        port = "443";
    } else if (rest.rfind("http://", 0) == 0) {
        rest.erase(0, 7);
    }
    std::string host;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = rest.substr(1, close - 1);
        rest.erase(0, close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return false;
            }
            port = rest.substr(1);
        }
    } else {
        const auto colon = rest.find(':');
        host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
        }
    }
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) == 0 ||
        std::stoul(port) > 65535) {
        return false;
    }
    endpoint.host = host;
    endpoint.port = port;
    return true;
}

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

bool connectWithin(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
    Socket socket(
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
    if (socket.get() < 0) {
        return false;
    }
    if (::connect(socket.get(), address.ai_addr, address.ai_addrlen) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{socket.get(), POLLOUT, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        return ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
}
}  // namespace

bool ProxyRetryList::isMarked(const std::string& proxy, Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = until_.find(proxy);
    if (it == until_.end()) {
        return false;
    }
    if (it->second <= now) {
        until_.erase(it);
        return false;
    }
    return true;
}

void ProxyRetryList::mark(const std::string& proxy, Clock::time_point until) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (until_.size() >= MAX_ENTRIES && until_.find(proxy) == until_.end()) {
        // Make room: the entry that is due first is the least useful one.
        auto due = until_.begin();
        for (auto it = until_.begin(); it != until_.end(); ++it) {
            if (it->second < due->second) {
                due = it;
            }
        }
        until_.erase(due);
    }
    until_[proxy] = until;
}

void ProxyRetryList::clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    until_.clear();
}

bool canConnect(const std::string& proxyEntry, std::chrono::milliseconds timeout) {
    Endpoint endpoint;
    if (!splitEntry(proxyEntry, endpoint)) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string host = endpoint.host;
    for (const auto& pin : NamePinning::instance().entries()) {
        if (strcasecmp(pin.host.c_str(), host.c_str()) == 0 && std::to_string(pin.port) == endpoint.port) {
            host = pin.address;
            break;
        }
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), endpoint.port.c_str(), &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    bool connected = false;
    for (const addrinfo* a = found; a != nullptr && !connected; a = a->ai_next) {
        connected = connectWithin(*a, deadline);
    }
    ::freeaddrinfo(found);
    return connected;
}

std::string chooseEntry(const std::vector<std::string>& entries, ProxyRetryList& retryList,
                        std::chrono::milliseconds retryDelay, const ReachabilityCheck& reachable) {
    const auto now = ProxyRetryList::Clock::now();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        if (entry.empty()) {
            return entry;
        }
        if (retryList.isMarked(entry, now)) {
            OXL_LOG_DEBUG(logger(), "The proxy " << entry << " failed recently, it is passed over");
            continue;
        }
        if (i + 1 == entries.size() || !reachable || reachable(entry)) {
            return entry;
        }
        OXL_LOG_WARN(
            logger(),
            "The proxy " << entry << " cannot be reached, the next entry is used; it is passed over for "
                         << std::chrono::duration_cast<std::chrono::seconds>(retryDelay).count() << " s");
        retryList.mark(entry, now + retryDelay);
    }
    for (const auto& entry : entries) {
        if (!entry.empty()) {
            return entry;
        }
    }
    return {};
}

}  // namespace oxl::http::detail

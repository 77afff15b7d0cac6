#include "IpInterfaceChangeMonitor.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "oxl/log/Log.h"
#include "oxl/runtime/Thread.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}

class ScopedFd {
  public:
    explicit ScopedFd(int fd = -1) : fd_(fd) {}
    ~ScopedFd() { reset(); }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_;
};

std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {0};
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof(text));
    } else if (address->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof(text));
    }
    return text;
}

std::vector<std::string> resolverNameServers() {
    std::vector<std::string> servers;
    std::ifstream in("/etc/resolv.conf");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string keyword;
        std::string value;
        if (words >> keyword >> value && keyword == "nameserver") {
            servers.push_back(value);
        }
    }
    return servers;
}
}  // namespace

class IpInterfaceChangeMonitor::Impl : public oxl::Runnable {
  public:
    Impl(EdgeTransitionDetectionController* controller, std::uint32_t delayMs)
        : controller_(controller), delayMs_(delayMs), thread_("IpIfChangeMon") {}

    ~Impl() override { stop(); }

    bool start() {
        std::lock_guard<std::mutex> lock(lifecycleMutex_);
        if (running_) {
            if (!threadEnded_) {
                return true;
            }
            // The thread gave up on its own: clear up after it and start afresh.
            releaseLocked();
        }
        netlink_.reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
        if (netlink_.get() < 0) {
            OXL_LOG_ERROR(logger(),
                          "Unable to open the address-change notification socket: " << std::strerror(errno));
            return false;
        }
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
        if (::bind(netlink_.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
            OXL_LOG_ERROR(logger(),
                          "Unable to subscribe to address-change notifications: " << std::strerror(errno));
            netlink_.reset();
            return false;
        }
        stopEvent_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (stopEvent_.get() < 0) {
            OXL_LOG_ERROR(logger(), "Unable to create the monitor's stop event: " << std::strerror(errno));
            netlink_.reset();
            return false;
        }
        // Subscribed before the baseline scan, so no change between the two goes unseen.
        last_ = scanLocalAddresses();
        threadEnded_ = false;
        const int rc = thread_.start(this);
        if (rc != 0) {
            OXL_LOG_ERROR(logger(), "Unable to start the address-change monitor thread: " << rc);
            netlink_.reset();
            stopEvent_.reset();
            return false;
        }
        running_ = true;
        return true;
    }

    void stop() {
        std::lock_guard<std::mutex> lock(lifecycleMutex_);
        if (!running_) {
            return;
        }
        const std::uint64_t one = 1;
        if (!threadEnded_ &&
            ::write(stopEvent_.get(), &one, sizeof(one)) != static_cast<ssize_t>(sizeof(one))) {
            OXL_LOG_ERROR(logger(), "Unable to signal the monitor's stop event: " << std::strerror(errno));
        }
        releaseLocked();
    }

    // Only while the thread is still serving: a thread that ended on an error does not count.
    bool isRunning() const {
        std::lock_guard<std::mutex> lock(lifecycleMutex_);
        return running_ && !threadEnded_;
    }

    void run() override {
        struct MarkEnded {
            std::atomic<bool>& ended;
            ~MarkEnded() { ended = true; }
        } markEnded{threadEnded_};
        for (;;) {
            pollfd fds[2] = {{stopEvent_.get(), POLLIN, 0}, {netlink_.get(), POLLIN, 0}};
            const int rc = ::poll(fds, 2, -1);
            if (rc < 0) {
                if (errno == EINTR) {
                    continue;
                }
                OXL_LOG_ERROR(logger(), "WaitForMultipleObjects() returned unexpected value: "
                                            << rc << " (" << std::strerror(errno) << ")");
                break;
            }
            if (fds[0].revents != 0) {
                OXL_LOG_DEBUG(logger(),
                              "WaitForMultipleObjects() returned WAIT_OBJECT_0, so will quit loop in "
                              "monitor thread");
                break;
            }
            if (fds[1].revents & POLLNVAL) {
                OXL_LOG_ERROR(logger(), "Unexpected error from NotifyAddrChange().");
                break;
            }
            // An overflow shows as POLLERR: reading reports it, and the scan makes up for what was lost.
            if (fds[1].revents & (POLLIN | POLLERR)) {
                if (!drainNotifications()) {
                    break;
                }
                onAddressChange();
            }
        }
        OXL_LOG_DEBUG(logger(), "Monitor exited run loop.");
    }

  private:
    // Reads at most this many messages before scanning, so that a change storm cannot starve the scan.
    static constexpr int MAX_READS_PER_WAKE = 1024;

    void releaseLocked() {
        thread_.join();
        netlink_.reset();
        stopEvent_.reset();
        running_ = false;
    }

    // One scan covers any number of queued notifications (a change often comes as several messages).
    // False on a socket error other than an overflow.
    bool drainNotifications() {
        char buffer[8192];
        bool overflowed = false;
        for (int reads = 0; reads < MAX_READS_PER_WAKE; ++reads) {
            const ssize_t n = ::recv(netlink_.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n >= 0) {
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == ENOBUFS) {
                // The kernel dropped notifications; the socket goes on working.
                overflowed = true;
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            OXL_LOG_ERROR(logger(), "Unable to read address-change notifications: " << std::strerror(errno));
            return false;
        }
        if (overflowed) {
            OXL_LOG_WARN(logger(),
                         "Address-change notifications overflowed and some were lost; rescanning "
                         "the local addresses.");
        }
        return true;
    }

    void onAddressChange() {
        IpInterfaceChangeLocalAddress current = scanLocalAddresses();
        if (controller_ == nullptr) {
            OXL_LOG_DEBUG(logger(), "WaitForMultipleObjects() returned WAIT_OBJECT_0 + 1"
                                        << "but not sending event because no controller is configured.");
            return;
        }
        OXL_LOG_DEBUG(logger(), "WaitForMultipleObjects() returned WAIT_OBJECT_0 + 1, "
                                    << "so will send event to EdgeTransitionDetectionController.");
        if (current == last_) {
            OXL_LOG_WARN(logger(), "WaitForMultipleObjects() returned WAIT_OBJECT_0 + 1, "
                                       << "Not updating to new network, Address has not changed.");
            return;
        }
        last_ = std::move(current);
        controller_->enqueueEvent(EdgeTransitionDetectionController::createIpInterfaceChangedEvent(delayMs_));
    }

    EdgeTransitionDetectionController* const controller_;
    const std::uint32_t delayMs_;
    oxl::Thread thread_;
    mutable std::mutex lifecycleMutex_;
    bool running_ = false;
    // Set by the thread as it leaves its loop, whatever the reason.
    std::atomic<bool> threadEnded_{false};
    ScopedFd netlink_;
    ScopedFd stopEvent_;
    IpInterfaceChangeLocalAddress last_;
};

IpInterfaceChangeMonitor::IpInterfaceChangeMonitor(EdgeTransitionDetectionController* controller,
                                                   std::uint32_t eventDelayMs)
    : impl_(std::make_unique<Impl>(controller, eventDelayMs)) {}

IpInterfaceChangeMonitor::~IpInterfaceChangeMonitor() {
    stop();
}

bool IpInterfaceChangeMonitor::start() {
    OXL_LOG_DEBUG(logger(), "Starting IpInterfaceChangeMonitor");
    return impl_->start();
}

void IpInterfaceChangeMonitor::stop() {
    OXL_LOG_DEBUG(logger(), "Stopping IpInterfaceChangeMonitor");
    impl_->stop();
}

bool IpInterfaceChangeMonitor::isRunning() const {
    return impl_->isRunning();
}

IpInterfaceChangeLocalAddress IpInterfaceChangeMonitor::scanLocalAddresses() {
    IpInterfaceChangeLocalAddress result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        OXL_LOG_ERROR(logger(), "GetAdaptersAddresses() returned " << errno);
        return result;
    }
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> guard(list, ::freeifaddrs);
    // Interface name -> its address lines, for one readable block per interface.
    std::map<std::string, std::vector<std::string>> lines;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) {
            continue;
        }
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) {
            continue;
        }
        const std::string text = addressText(entry->ifa_addr);
        if (text.empty()) {
            continue;
        }
        result.addLocalIPAddress(text);
        lines[entry->ifa_name].push_back(family == AF_INET ? "Unicast " + text
                                                           : "Unicast (IPv6 address) " + text);
    }
    if (OXLLog_isDebugEnabled(logger())) {
        std::ostringstream os;
        os << "Network interfaces:";
        for (const auto& [name, addresses] : lines) {
            os << "\n  " << name;
            for (const auto& line : addresses) {
                os << "\n    " << line;
            }
        }
        for (const auto& server : resolverNameServers()) {
            os << "\n  DNS nameserver " << server;
        }
        OXL_LOG_DEBUG(logger(), os.str());
    }
    return result;
}

}  // namespace oxl::edge

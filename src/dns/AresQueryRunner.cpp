#include "dns/AresQueryRunner.h"

#include <ares.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

#include "dns/DnsServerAddress.h"
#include "oxl/log/Log.h"

namespace oxl::dns::detail {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.dns");
    return l;
}

// Bounds a run even if the resolver's own timers misbehave.
constexpr std::chrono::milliseconds kSafetyLimit{30000};

struct ChannelDeleter {
    void operator()(ares_channel channel) const { ares_destroy(channel); }
};
using ChannelPtr = std::unique_ptr<std::remove_pointer_t<ares_channel>, ChannelDeleter>;

struct ServerListDeleter {
    void operator()(ares_addr_port_node* node) const { ares_free_data(node); }
};

int initLibrary() {
    static std::once_flag once;
    static int status = ARES_SUCCESS;
    std::call_once(once, [] {
        status = ares_library_init(ARES_LIB_INIT_ALL);
        if (status != ARES_SUCCESS) {
            OXL_LOG_ERROR(logger(), "c-ares library initialisation failed: " << ares_strerror(status));
        }
    });
    return status;
}

int makeChannel(ChannelPtr& out) {
    int status = initLibrary();
    if (status != ARES_SUCCESS) {
        return status;
    }
    ares_options options{};
    options.timeout = kAttemptTimeoutMs;
    options.tries = kTries;
    // Hand SERVFAIL/REFUSED answers to the caller as they are: otherwise c-ares retries them and, once out of
    // servers, reports a refused connection, which would read as "no network".
    options.flags = ARES_FLAG_NOCHECKRESP;
    ares_channel raw = nullptr;
    status = ares_init_options(&raw, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS);
    if (status != ARES_SUCCESS) {
        if (raw != nullptr) {
            ares_destroy(raw);
        }
        OXL_LOG_ERROR(logger(), "Unable to create a resolver channel: " << ares_strerror(status));
        return status;
    }
    ChannelPtr channel(raw);
    if (auto custom = currentCustomServer()) {
        ares_addr_port_node node{};
        node.family = custom->family;
        if (custom->family == AF_INET) {
            std::memcpy(&node.addr.addr4, custom->bytes.data(), 4);
        } else {
            std::memcpy(&node.addr.addr6, custom->bytes.data(), 16);
        }
        node.udp_port = custom->port;
        node.tcp_port = custom->port;
        status = ares_set_servers_ports(channel.get(), &node);
        if (status != ARES_SUCCESS) {
            OXL_LOG_ERROR(logger(), "Unable to use the DNS server " << custom->toString() << ": "
                                                                    << ares_strerror(status));
            return status;
        }
        OXL_LOG_TRACE(logger(), "Queries go to the DNS server " << custom->toString());
    } else {
        ares_addr_port_node* servers = nullptr;
        if (ares_get_servers_ports(channel.get(), &servers) == ARES_SUCCESS) {
            std::unique_ptr<ares_addr_port_node, ServerListDeleter> guard(servers);
            if (servers == nullptr) {
                // No name server configured: nothing can be reached.
                OXL_LOG_WARN(logger(), "No DNS server is configured");
                return ARES_ECONNREFUSED;
            }
        }
    }
    out = std::move(channel);
    return ARES_SUCCESS;
}

struct Slot {
    RawAnswer* answer = nullptr;
    size_t* pending = nullptr;
};

void onAnswer(void* arg, int status, int timeouts, unsigned char* abuf, int alen) {
    auto* slot = static_cast<Slot*>(arg);
    slot->answer->status = status;
    slot->answer->timeouts = timeouts;
    if (status == ARES_SUCCESS && abuf != nullptr && alen > 0) {
        slot->answer->message.assign(abuf, abuf + alen);
    }
    --*slot->pending;
}

int toMilliseconds(const timeval& tv) {
    return static_cast<int>(tv.tv_sec * 1000 + (tv.tv_usec + 999) / 1000);
}

}  // namespace

std::vector<RawAnswer> runQueries(const std::vector<RawQuery>& queries, std::chrono::milliseconds overall) {
    std::vector<RawAnswer> answers(queries.size());
    std::vector<Slot> slots(queries.size());
    size_t pending = queries.size();
    // Declared after the answers so that it goes first: destroying the channel completes open queries.
    ChannelPtr channel;
    const int setup = makeChannel(channel);
    if (setup != ARES_SUCCESS) {
        for (auto& a : answers) {
            a.status = setup;
        }
        return answers;
    }

    for (size_t i = 0; i < queries.size(); ++i) {
        slots[i] = Slot{&answers[i], &pending};
        ares_query(channel.get(), queries[i].name.c_str(), 1 /* C_IN */, queries[i].type, onAnswer,
                   &slots[i]);
    }

    const auto start = std::chrono::steady_clock::now();
    const auto limit = (overall.count() > 0 && overall < kSafetyLimit) ? overall : kSafetyLimit;
    const auto deadline = start + limit;
    while (pending > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            for (auto& a : answers) {
                a.cutOff = a.status < 0;
            }
            ares_cancel(channel.get());  // completes the open queries with ARES_ECANCELLED
            break;
        }
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel.get(), sockets, ARES_GETSOCK_MAXNUM);
        pollfd fds[ARES_GETSOCK_MAXNUM];
        nfds_t count = 0;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const bool readable = ARES_GETSOCK_READABLE(bits, i);
            const bool writable = ARES_GETSOCK_WRITABLE(bits, i);
            if (!readable && !writable) {
                break;
            }
            fds[count].fd = sockets[i];
            fds[count].events = static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0));
            fds[count].revents = 0;
            ++count;
        }
        const auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
        timeval maxWait{static_cast<time_t>(remaining.count() / 1000000),
                        static_cast<suseconds_t>(remaining.count() % 1000000)};
        timeval wait{};
        const timeval* next = ares_timeout(channel.get(), &maxWait, &wait);
        const int rc = poll(fds, count, toMilliseconds(*next));
        if (rc < 0 && errno != EINTR) {
            OXL_LOG_ERROR(logger(), "Waiting for DNS answers failed: " << std::strerror(errno));
            ares_cancel(channel.get());
            break;
        }
        if (rc <= 0) {
            ares_process_fd(channel.get(), ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // handles expired attempts
            continue;
        }
        for (nfds_t i = 0; i < count; ++i) {
            const bool in = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
            const bool out = (fds[i].revents & POLLOUT) != 0;
            if (in || out) {
                ares_process_fd(channel.get(), in ? fds[i].fd : ARES_SOCKET_BAD,
                                out ? fds[i].fd : ARES_SOCKET_BAD);
            }
        }
    }
    return answers;
}

}  // namespace oxl::dns::detail

// SRV query round trip to a loopback dnsmasq.
//
// Baseline: the same query on bare c-ares, as a caller without the library would write it: a channel with
// the same time-outs pointed at the server, ares_query, a poll loop, ares_parse_srv_reply, and the channel
// destroyed again. The library adds its answer-section walk (for TTLs), records, result mapping and logging.
//
// SRV ordering of 60,000 records of one priority (as a hostile edge answer can list).
//
// Baseline: a plain stable sort of the same records by priority and weight, i.e. what any O(n log n)
// ordering costs. The library draws each record at random by its weight (RFC 2782); the ratio shows that
// the weighted draw stays within a small factor of a sort instead of growing with the square of n.
#include <ares.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Interleaved.h"
#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/dns/ServiceResourceRecordSorter.h"
#include "support/Dnsmasq.h"

namespace {

const char* kName = "_svc._tcp.bench.test";

oxl::test::Dnsmasq& server() {
    static oxl::test::Dnsmasq dns(oxl::test::DnsmasqRecords()
                                      .addSrv(kName, "a.bench.test", 443, 10, 60)
                                      .addSrv(kName, "b.bench.test", 443, 10, 30)
                                      .addSrv(kName, "c.bench.test", 5061, 20, 0)
                                      .addLocalDomain("bench.test")
                                      .withLocalTtl(60));
    return dns;
}

bool libQuery() {
    std::vector<oxl::dns::ServiceResourceRecord> answer;
    const bool ok =
        oxl::dns::DnsUtils::executeSRVRecordQuery(kName, answer) == oxl::dns::DnsQueryResult::SUCCESS &&
        answer.size() == 3;
    benchmark::DoNotOptimize(answer);
    return ok;
}

// The server address is set once per round, as the old per-run scope did.
oxl::bench::Round libQueries(int ops) {
    return [inner = oxl::bench::repeat(ops, libQuery)](oxl::bench::Sample& sample) mutable {
        oxl::dns::DnsUtilsScopedSetCustomServerAddress scope(server().address());
        return inner(sample);
    };
}

struct BareResult {
    int status = -1;
    size_t records = 0;
};

void onBareAnswer(void* arg, int status, int, unsigned char* abuf, int alen) {
    auto* result = static_cast<BareResult*>(arg);
    result->status = status;
    if (status != ARES_SUCCESS) {
        return;
    }
    ares_srv_reply* head = nullptr;
    result->status = ares_parse_srv_reply(abuf, alen, &head);
    for (auto* r = head; r != nullptr; r = r->next) {
        ++result->records;
    }
    ares_free_data(head);
}

bool baseQuery() {
    ares_options options{};
    options.timeout = 1000;
    options.tries = 2;
    options.flags = ARES_FLAG_NOCHECKRESP;
    ares_channel channel = nullptr;
    if (ares_init_options(&channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS) !=
        ARES_SUCCESS) {
        return false;
    }
    ares_addr_port_node node{};
    node.family = AF_INET;
    node.addr.addr4.s_addr = htonl(INADDR_LOOPBACK);
    node.udp_port = node.tcp_port = server().port();
    ares_set_servers_ports(channel, &node);
    BareResult result;
    ares_query(channel, kName, 1, 33, onBareAnswer, &result);
    while (result.status < 0) {
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        pollfd fds[ARES_GETSOCK_MAXNUM];
        nfds_t n = 0;
        for (int i = 0;
             i < ARES_GETSOCK_MAXNUM && (ARES_GETSOCK_READABLE(bits, i) || ARES_GETSOCK_WRITABLE(bits, i));
             ++i) {
            fds[n++] =
                pollfd{sockets[i], static_cast<short>(ARES_GETSOCK_READABLE(bits, i) ? POLLIN : POLLOUT), 0};
        }
        timeval tv{};
        timeval* wait = ares_timeout(channel, nullptr, &tv);
        const int timeoutMs = wait ? static_cast<int>(wait->tv_sec * 1000 + wait->tv_usec / 1000) : 1000;
        if (poll(fds, n, timeoutMs) <= 0) {
            ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
            continue;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents != 0) {
                ares_process_fd(channel, (fds[i].revents & POLLIN) ? fds[i].fd : ARES_SOCKET_BAD,
                                (fds[i].revents & POLLOUT) ? fds[i].fd : ARES_SOCKET_BAD);
            }
        }
    }
    ares_destroy(channel);
    return result.status == ARES_SUCCESS && result.records == 3;
}

std::vector<oxl::dns::ServiceResourceRecord> largeGroup() {
    std::vector<oxl::dns::ServiceResourceRecord> records;
    for (uint32_t i = 0; i < 60000; ++i) {
        records.emplace_back(10, (i * 7919u) % 100, 443, "h" + std::to_string(i) + ".corp.example");
    }
    return records;
}

oxl::bench::Round baseSort(int ops) {
    auto input = std::make_shared<const std::vector<oxl::dns::ServiceResourceRecord>>(largeGroup());
    return oxl::bench::repeat(ops, [input] {
        auto records = *input;
        std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return a.getPriority() != b.getPriority() ? a.getPriority() < b.getPriority()
                                                      : a.getWeight() > b.getWeight();
        });
        benchmark::DoNotOptimize(records.data());
        return true;
    });
}

oxl::bench::Round libSort(int ops) {
    auto input = std::make_shared<const std::vector<oxl::dns::ServiceResourceRecord>>(largeGroup());
    return oxl::bench::repeat(ops, [input] {
        auto records = *input;
        oxl::dns::ServiceResourceRecordSorter(records).sortRecords();
        benchmark::DoNotOptimize(records.data());
        return records.size() == input->size();
    });
}

}  // namespace

int main(int argc, char** argv) {
    ares_library_init(ARES_LIB_INIT_ALL);
    if (!server().isRunning()) {
        std::fprintf(stderr, "dnsmasq did not start\n");
        return 1;
    }
    oxl::bench::registerPair({"srv_sort_60000", 1, 15, 0, baseSort(1), libSort(1), oxl::bench::Measure::CPU});
    oxl::bench::registerPair({"srv_query", 50, 21, 0.9, oxl::bench::repeat(50, baseQuery), libQueries(50)});
    return oxl::bench::runRegistered(argc, argv);
}

// oxlnet doctor: the network (addresses, default routes, NAT64) and DNS (the resolver, the service records
// and their targets) groups.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "oxl/dns/DnsRequest.h"
#include "oxl/dns/DnsUtilsImpl.h"
#include "oxl/http/NamePinning.h"
#include "oxl/ip/IpUtils.h"
#include "oxl/ip/Ipv4Address.h"
#include "oxl/ip/Nat64Prefix.h"
#include "oxlnet/cmd_doctor.h"

namespace oxlnet::doctor {

namespace {

using oxl::dns::DnsQueryResult;

constexpr const char* NETWORK = "network";
constexpr const char* DNS = "dns";

std::string join(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string out;
    for (const auto& item : items) {
        out += (out.empty() ? "" : separator) + item;
    }
    return out;
}

struct FreeIfaddrs {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

void checkAddresses(Report& r) {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) {
        r.add({NETWORK, "addresses", Verdict::WARNING, "the interfaces could not be listed",
               "run again; if it persists, check the system's network configuration"});
        return;
    }
    std::unique_ptr<ifaddrs, FreeIfaddrs> list(raw);
    std::vector<std::string> v4;
    std::vector<std::string> v6;
    for (const ifaddrs* a = list.get(); a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || (a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        char text[INET6_ADDRSTRLEN] = "";
        if (a->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                      sizeof text);
            v4.push_back(std::string(a->ifa_name) + " " + text);
        } else if (a->ifa_addr->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr, text,
                      sizeof text);
            v6.push_back(std::string(a->ifa_name) + " " + text);
        }
    }
    const std::string evidence = "IPv4: " + (v4.empty() ? std::string("none") : join(v4)) +
                                 "; IPv6: " + (v6.empty() ? std::string("none") : join(v6));
    if (v4.empty() && v6.empty()) {
        r.add({NETWORK, "addresses", Verdict::WARNING, evidence,
               "no interface other than loopback has an address: connect to a network"});
    } else {
        r.add({NETWORK, "addresses", Verdict::OK, evidence, ""});
    }
}

std::string ipv4FromHex(const std::string& hex) {
    // /proc/net/route holds addresses in host byte order, as hexadecimal.
    in_addr address{};
    address.s_addr = static_cast<in_addr_t>(std::stoul(hex, nullptr, 16));
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string ipv6FromHex(const std::string& hex) {
    in6_addr address{};
    for (std::size_t i = 0; i < 16 && 2 * i + 1 < hex.size(); ++i) {
        address.s6_addr[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    }
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(AF_INET6, &address, text, sizeof text);
    return text;
}

void checkRoutes(Report& r) {
    std::vector<std::string> routes;
    try {
        std::ifstream v4("/proc/net/route");
        std::string line;
        std::getline(v4, line);  // column names
        while (std::getline(v4, line)) {
            std::istringstream fields(line);
            std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
            if (fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask &&
                destination == "00000000" && mask == "00000000") {
                routes.push_back("IPv4 via " + ipv4FromHex(gateway) + " dev " + iface);
            }
        }
        std::ifstream v6("/proc/net/ipv6_route");
        while (std::getline(v6, line)) {
            std::istringstream fields(line);
            std::string destination, length, source, sourceLength, nextHop, metric, refcnt, use, flags, iface;
            if (!(fields >> destination >> length >> source >> sourceLength >> nextHop >> metric >> refcnt >>
                  use >> flags >> iface) ||
                destination != std::string(32, '0') || length != "00" || iface == "lo") {
                continue;
            }
            // Rejecting routes (RTF_REJECT) are not a way out.
            if ((std::stoul(flags, nullptr, 16) & 0x0200UL) == 0) {
                routes.push_back("IPv6 via " + ipv6FromHex(nextHop) + " dev " + iface);
            }
        }
    } catch (const std::exception&) {
        // A line that cannot be read is skipped; what was found so far stands.
    }
    if (routes.empty()) {
        r.add({NETWORK, "default routes", Verdict::WARNING, "none",
               "only the local networks can be reached: check the connection (Wi-Fi, cable, VPN)"});
    } else {
        r.add({NETWORK, "default routes", Verdict::OK, join(routes), ""});
    }
}

void checkNat64(const Deadline& deadline, Report& r) {
    // Shared with the worker, which may outlive this call when the resolver hangs.
    auto addresses = std::make_shared<std::vector<std::string>>();
    const bool finished = runBounded(deadline.limit(std::chrono::milliseconds(3000)), [addresses] {
        auto nat64 = oxl::ip::Nat64Prefix::buildNat64Prefix(std::make_shared<oxl::dns::DnsUtilsImpl>(), true);
        // The well-known address of RFC 7050, synthesised with every prefix the network announces.
        const auto wellKnown = oxl::ip::Ipv4Address::createIpv4Address("192.0.0.170");
        for (const auto& a : nat64->getSynthesisedIpv6Address(wellKnown)) {
            std::ostringstream text;
            text << a;
            addresses->push_back(text.str());
        }
    });
    if (!finished) {
        r.add({NETWORK, "NAT64", Verdict::WARNING, "no answer in time",
               "the DNS server is slow; see the DNS checks"});
        return;
    }
    r.add({NETWORK, "NAT64", Verdict::OK,
           addresses->empty() ? std::string("no prefix announced (not an IPv6-only network)")
                              : "prefixes give 192.0.0.170 as " + join(*addresses),
           ""});
}

std::string systemResolvers() {
    std::ifstream conf("/etc/resolv.conf");
    std::vector<std::string> servers;
    std::string line;
    while (std::getline(conf, line)) {
        std::istringstream fields(line);
        std::string keyword, address;
        if (fields >> keyword >> address && keyword == "nameserver") {
            servers.push_back(address);
        }
    }
    return servers.empty() ? "the system's resolver" : "the system's resolver (" + join(servers) + ")";
}

const char* outcomeText(DnsQueryResult::Result result) {
    switch (result) {
        case DnsQueryResult::SUCCESS:
            return "answered";
        case DnsQueryResult::NO_RECORDS:
            return "no record of this type (the name exists)";
        case DnsQueryResult::DOMAIN_DOES_NOT_EXIST:
            return "NXDOMAIN (the name does not exist)";
        case DnsQueryResult::TIMEOUT:
            return "time-out (no answer)";
        case DnsQueryResult::SERVER_REFUSED:
            return "refused by the server";
        case DnsQueryResult::SERVER_FAILURE:
            return "server failure (SERVFAIL)";
        case DnsQueryResult::NO_NETWORK:
            return "no name server could be reached";
        case DnsQueryResult::BAD_RESPONSE:
            return "the answer could not be read";
        default:
            return "the query could not be made";
    }
}

bool serverAnswered(DnsQueryResult::Result result) {
    return result != DnsQueryResult::TIMEOUT && result != DnsQueryResult::NO_NETWORK &&
           result != DnsQueryResult::INTERNAL_ERROR && result != DnsQueryResult::BAD_QUERY &&
           result != DnsQueryResult::CANCELLED;
}

std::string withoutDot(std::string name) {
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    return name;
}

struct RecordQuery {
    std::string name;
    bool internal;
    std::shared_ptr<oxl::dns::DnsQuery> query;
    DnsQueryResult::Result result = DnsQueryResult::TIMEOUT;
    std::vector<oxl::dns::ServiceResourceRecord> records;
};

// A and AAAA answers for every target that is not an address already.
std::map<std::string, std::vector<std::string>> resolveTargets(const std::vector<RecordQuery>& queries,
                                                               const Deadline& deadline,
                                                               std::map<std::string, std::string>& failures) {
    std::map<std::string, std::vector<std::string>> addresses;
    oxl::dns::DnsUtilsImpl dns;
    std::vector<std::pair<std::string, std::shared_ptr<oxl::dns::DnsQuery>>> asked;
    std::set<std::string> seen;
    for (const auto& q : queries) {
        for (const auto& record : q.records) {
            const std::string target = withoutDot(record.getTarget());
            if (oxl::ip::IpUtils::isIpAddress(target)) {
                addresses[target] = {target};
            } else if (seen.insert(target).second) {
                asked.emplace_back(target, dns.createDnsQuery(target, oxl::dns::DnsQueryType::A));
                asked.emplace_back(target, dns.createDnsQuery(target, oxl::dns::DnsQueryType::AAAA));
            }
        }
    }
    if (asked.empty()) {
        return addresses;
    }
    std::vector<std::shared_ptr<oxl::dns::DnsQuery>> list;
    for (const auto& a : asked) {
        list.push_back(a.second);
    }
    const auto limit = deadline.limit(std::chrono::milliseconds(4000));
    auto response =
        dns.excuteDnsQueriesInParallel(dns.createDnsRequest(list), static_cast<int32_t>(limit.count()));
    for (const auto& [target, query] : asked) {
        const auto* answer = response ? response->findAnswer(query) : nullptr;
        if (answer == nullptr) {
            failures[target] = "no answer";
            continue;
        }
        for (const auto& a : answer->aRecords) {
            addresses[target].push_back(a.getIP4Address());
        }
        for (const auto& a : answer->aaaaRecords) {
            addresses[target].push_back(a.getIP6Address());
        }
        if (answer->result != DnsQueryResult::SUCCESS && answer->result != DnsQueryResult::NO_RECORDS) {
            failures[target] = outcomeText(answer->result);
        }
    }
    return addresses;
}

std::string recordHint(const RecordQuery& q, const Options& o) {
    switch (q.result) {
        case DnsQueryResult::DOMAIN_DOES_NOT_EXIST:
        case DnsQueryResult::NO_RECORDS:
            return q.internal
                       ? "expected outside the company network; inside, the internal DNS does not publish "
                         "the service for " +
                             o.internalDomain
                       : "the edge is not published under " + o.externalDomain +
                             ": from outside only a VPN helps; check the external domain";
        case DnsQueryResult::TIMEOUT:
        case DnsQueryResult::NO_NETWORK:
            return "the DNS server does not answer: check the connection, the VPN or the DNS server setting";
        case DnsQueryResult::SERVER_REFUSED:
            return "the DNS server refuses questions about this domain: use the company's or the provider's "
                   "resolver";
        default:
            return "the DNS server has a problem with this name: ask its administrator";
    }
}

}  // namespace

void checkNetwork(const Options&, const Deadline& deadline, Findings&, Report& r) {
    checkAddresses(r);
    checkRoutes(r);
    checkNat64(deadline, r);
}

void checkDns(const Options& o, const Deadline& deadline, Findings& f, Report& r) {
    oxl::dns::DnsUtilsImpl dns;
    std::vector<RecordQuery> queries = {
        {"_pelko-zds._tcp." + o.internalDomain, true, nullptr},
        {"_dwrlogin._tcp." + o.internalDomain, true, nullptr},
        {"_brisel-edge._tls." + o.externalDomain, false, nullptr},
    };
    std::vector<std::shared_ptr<oxl::dns::DnsQuery>> list;
    for (auto& q : queries) {
        q.query = dns.createDnsQuery(q.name, oxl::dns::DnsQueryType::SRV);
        list.push_back(q.query);
    }
    const auto limit = deadline.limit(std::chrono::milliseconds(4000));
    const auto started = std::chrono::steady_clock::now();
    auto response =
        dns.excuteDnsQueriesInParallel(dns.createDnsRequest(list), static_cast<int32_t>(limit.count()));
    const auto took = std::chrono::steady_clock::now() - started;
    for (auto& q : queries) {
        const auto* answer = response ? response->findAnswer(q.query) : nullptr;
        if (answer != nullptr) {
            q.result = answer->result;
            q.records = answer->srvRecords;
        }
        f.resolverAnswered = f.resolverAnswered || serverAnswered(q.result);
    }
    const std::string server = o.dnsServer.empty() ? systemResolvers() : o.dnsServer;
    if (f.resolverAnswered) {
        r.add({DNS, "resolver", Verdict::OK, server + " answered in " + millis(took), ""});
    } else {
        r.add({DNS, "resolver", Verdict::FAILED, server + " gave no answer within " + millis(took),
               "the DNS server does not answer: check the connection, the VPN or the DNS server setting"});
    }

    std::map<std::string, std::string> failures;
    const auto addresses = resolveTargets(queries, deadline, failures);
    for (auto& q : queries) {
        std::sort(q.records.begin(), q.records.end(), [](const auto& a, const auto& b) {
            return a.getPriority() != b.getPriority() ? a.getPriority() < b.getPriority()
                                                      : a.getWeight() > b.getWeight();
        });
        if (q.result != DnsQueryResult::SUCCESS) {
            const bool expected =
                q.result == DnsQueryResult::DOMAIN_DOES_NOT_EXIST || q.result == DnsQueryResult::NO_RECORDS;
            r.add({DNS, q.name, expected ? Verdict::WARNING : Verdict::FAILED, outcomeText(q.result),
                   recordHint(q, o)});
            continue;
        }
        std::vector<std::string> parts;
        std::vector<std::string> unresolved;
        for (const auto& record : q.records) {
            Endpoint e{withoutDot(record.getTarget()), record.getPort(), {}};
            const auto found = addresses.find(e.host);
            if (found != addresses.end()) {
                e.addresses = found->second;
            }
            std::string part = e.host + ":" + std::to_string(e.port);
            if (e.addresses.empty()) {
                const auto why = failures.find(e.host);
                part += " (" + (why == failures.end() ? std::string("no address") : why->second) + ")";
                unresolved.push_back(e.host);
            } else {
                part += " (" + join(e.addresses, " ") + ")";
                if (!o.dnsServer.empty() && !oxl::ip::IpUtils::isIpAddress(e.host)) {
                    // Transfers resolve through the system; point them where this resolver did.
                    oxl::http::NamePinning::instance().pin(e.host, e.port, e.addresses.front());
                }
            }
            parts.push_back(part);
            (q.internal ? f.internal : f.edge).push_back(std::move(e));
        }
        if (unresolved.empty()) {
            r.add({DNS, q.name, Verdict::OK, join(parts), ""});
        } else {
            r.add({DNS, q.name, Verdict::FAILED, join(parts),
                   "the record names targets without an address (" + join(unresolved) +
                       "): the DNS administrator must add them"});
        }
    }
}

}  // namespace oxlnet::doctor

// A real DNS server for tests and the oxlnet demo: dnsmasq on a free loopback port, answering only the
// records declared.
//
//   oxl::sandbox::DnsSandbox dns(oxl::sandbox::DnsSandboxRecords()
//                                      .addSrv("_x._tcp.corp.test", "a.corp.test", 443, 10, 60)
//                                      .addA("a.corp.test", "10.0.0.1")
//                                      .addLocalDomain("corp.test"));
//   ASSERT_TRUE(dns.isRunning()) << dns.log();
//   oxl::dns::DnsUtilsScopedSetCustomServerAddress server(dns.address());
//
// dnsmasq has no upstream: outside the domains declared with addLocalDomain it refuses every question it
// holds no record for (unknown names, and known names asked for another type). Under a local domain it
// answers NXDOMAIN for unknown names and an empty answer for other types. TTLs are 0 unless localTtl or a
// per-record TTL is given.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace oxl::sandbox {

struct DnsSandboxRecords {
    struct Srv {
        std::string name;  // "_service._proto.domain"
        std::string target;
        uint16_t port = 0;
        uint16_t priority = 0;
        uint16_t weight = 0;
    };
    struct Address {
        std::string name;
        std::string address;  // IPv4 text gives an A record, IPv6 text an AAAA record
        int ttl = -1;         // -1: localTtl
    };
    struct Txt {
        std::string name;
        std::vector<std::string> strings;  // no commas: dnsmasq splits on them
    };
    struct Cname {
        std::string alias;
        std::string target;
    };

    std::vector<Srv> srv;
    std::vector<Address> addresses;
    std::vector<Txt> txt;
    std::vector<Cname> cnames;
    std::vector<std::string> localDomains;  // every undeclared name under these is NXDOMAIN
    int localTtl = -1;                      // TTL of local answers; -1 leaves dnsmasq's 0
    bool listenOnIpv6Loopback = false;      // also answer on [::1]:port
    std::vector<std::string> extraArguments;

    DnsSandboxRecords& addSrv(std::string name, std::string target, uint16_t port, uint16_t priority,
                              uint16_t weight);
    DnsSandboxRecords& addA(std::string name, std::string address, int ttl = -1);
    DnsSandboxRecords& addAaaa(std::string name, std::string address, int ttl = -1);
    DnsSandboxRecords& addTxt(std::string name, std::vector<std::string> strings);
    DnsSandboxRecords& addCname(std::string alias, std::string target);
    DnsSandboxRecords& addLocalDomain(std::string domain);
    DnsSandboxRecords& withLocalTtl(int seconds);
    DnsSandboxRecords& withIpv6Loopback();
};

class DnsSandbox {
  public:
    explicit DnsSandbox(DnsSandboxRecords records = {});
    ~DnsSandbox();
    DnsSandbox(const DnsSandbox&) = delete;
    DnsSandbox& operator=(const DnsSandbox&) = delete;

    // The dnsmasq program run, and whether it is there to run.
    static const char* executable();
    static bool isInstalled();

    // True once the server answered a probe query.
    bool isRunning() const { return pid_ > 0; }
    uint16_t port() const { return port_; }
    // "127.0.0.1:PORT", ready for DnsUtilsScopedSetCustomServerAddress.
    std::string address() const;
    // "[::1]:PORT" (only answered with listenOnIpv6Loopback).
    std::string ipv6Address() const;
    // Stops the server and starts it again on the same port with other records; true when it answers.
    bool restart(DnsSandboxRecords records);
    // What dnsmasq wrote to its standard error (for failure messages).
    std::string log() const;
    // The command line of the current server.
    const std::vector<std::string>& arguments() const { return arguments_; }

  private:
    bool start();
    void stop();

    DnsSandboxRecords records_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
    std::string logPath_;
    std::vector<std::string> arguments_;
};

// A loopback port that is free for both UDP and TCP at the moment of the call.
uint16_t freeLoopbackPort();

// A UDP socket bound on 127.0.0.1 that never answers: a DNS server that times out.
class SilentUdpPort {
  public:
    SilentUdpPort();
    ~SilentUdpPort();
    SilentUdpPort(const SilentUdpPort&) = delete;
    SilentUdpPort& operator=(const SilentUdpPort&) = delete;

    uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    int udp_ = -1;
    int tcp_ = -1;
    uint16_t port_ = 0;
};

// Sends one A query for `name` over UDP to 127.0.0.1:port and waits up to `timeoutMs` for any reply.
bool dnsServerAnswers(uint16_t port, int timeoutMs, const std::string& name = "probe.invalid");

}  // namespace oxl::sandbox

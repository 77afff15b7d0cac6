#include "sandbox/DnsSandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

#ifndef OXL_DNSMASQ
#define OXL_DNSMASQ "/usr/sbin/dnsmasq"
#endif

namespace oxl::sandbox {

namespace {

using Clock = std::chrono::steady_clock;

int boundSocket(int type, uint16_t port, uint16_t& boundPort) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}

// Whether the process has ended (and is then reaped).
bool hasExited(pid_t pid, int& status) {
    return waitpid(pid, &status, WNOHANG) == pid;
}

std::vector<unsigned char> probeQuery(uint16_t id, const std::string& name) {
    std::vector<unsigned char> q = {static_cast<unsigned char>(id >> 8),
                                    static_cast<unsigned char>(id & 0xff),
                                    0x01,
                                    0x00,
                                    0x00,
                                    0x01,
                                    0x00,
                                    0x00,
                                    0x00,
                                    0x00,
                                    0x00,
                                    0x00};
    std::stringstream labels(name);
    std::string label;
    while (std::getline(labels, label, '.')) {
        if (!label.empty()) {
            q.push_back(static_cast<unsigned char>(label.size()));
            q.insert(q.end(), label.begin(), label.end());
        }
    }
    q.insert(q.end(), {0x00, 0x00, 0x01, 0x00, 0x01});
    return q;
}

}  // namespace

DnsSandboxRecords& DnsSandboxRecords::addSrv(std::string name, std::string target, uint16_t port,
                                             uint16_t priority, uint16_t weight) {
    srv.push_back({std::move(name), std::move(target), port, priority, weight});
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::addA(std::string name, std::string address, int ttl) {
    addresses.push_back({std::move(name), std::move(address), ttl});
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::addAaaa(std::string name, std::string address, int ttl) {
    addresses.push_back({std::move(name), std::move(address), ttl});
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::addTxt(std::string name, std::vector<std::string> strings) {
    txt.push_back({std::move(name), std::move(strings)});
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::addCname(std::string alias, std::string target) {
    cnames.push_back({std::move(alias), std::move(target)});
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::addLocalDomain(std::string domain) {
    localDomains.push_back(std::move(domain));
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::withLocalTtl(int seconds) {
    localTtl = seconds;
    return *this;
}

DnsSandboxRecords& DnsSandboxRecords::withIpv6Loopback() {
    listenOnIpv6Loopback = true;
    return *this;
}

uint16_t freeLoopbackPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        uint16_t port = 0;
        const int udp = boundSocket(SOCK_DGRAM, 0, port);
        if (udp < 0) {
            continue;
        }
        uint16_t same = 0;
        const int tcp = boundSocket(SOCK_STREAM, port, same);
        close(udp);
        if (tcp >= 0) {
            close(tcp);
            return port;
        }
    }
    return 0;
}

bool dnsServerAnswers(uint16_t port, int timeoutMs, const std::string& name) {
    uint16_t local = 0;
    const int fd = boundSocket(SOCK_DGRAM, 0, local);
    if (fd < 0) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    static std::atomic<uint16_t> nextId{0x4242};
    const uint16_t id = nextId++;
    const auto query = probeQuery(id, name);
    bool answered = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!answered && Clock::now() < deadline) {
        sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            unsigned char reply[512];
            const ssize_t n = recv(fd, reply, sizeof(reply), 0);
            answered = n >= 12 && reply[0] == (id >> 8) && reply[1] == (id & 0xff);
            if (n < 0) {
                // Nothing listens yet (ICMP port unreachable): try again shortly.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }
    close(fd);
    return answered;
}

const char* DnsSandbox::executable() {
    return OXL_DNSMASQ;
}

bool DnsSandbox::isInstalled() {
    return access(OXL_DNSMASQ, X_OK) == 0;
}

DnsSandbox::DnsSandbox(DnsSandboxRecords records) : records_(std::move(records)) {
    std::error_code noTempDir;
    std::filesystem::path dir = std::filesystem::temp_directory_path(noTempDir);
    if (noTempDir) {
        dir = "/tmp";
    }
    std::ostringstream path;
    static std::atomic<int> counter{0};
    path << dir.string() << "/oxl-dnsmasq-" << getpid() << "-" << counter++ << ".log";
    logPath_ = path.str();
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        port_ = freeLoopbackPort();
        if (port_ != 0) {
            start();
        }
    }
}

DnsSandbox::~DnsSandbox() {
    stop();
    unlink(logPath_.c_str());
}

std::string DnsSandbox::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string DnsSandbox::ipv6Address() const {
    return "[::1]:" + std::to_string(port_);
}

std::string DnsSandbox::log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    std::string args;
    for (const auto& a : arguments_) {
        args += a + " ";
    }
    return "dnsmasq " + args + "\n" + text.str();
}

bool DnsSandbox::restart(DnsSandboxRecords records) {
    stop();
    records_ = std::move(records);
    // The port was just released; a retry covers a slow release.
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        if (!start()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return pid_ > 0;
}

bool DnsSandbox::start() {
    std::vector<std::string> args = {executable(),
                                     "--no-resolv",
                                     "--no-hosts",
                                     "--keep-in-foreground",
                                     "--log-facility=-",
                                     "--conf-file=/dev/null",
                                     "--pid-file=",
                                     "--bind-interfaces",
                                     "--listen-address=127.0.0.1",
                                     "--port=" + std::to_string(port_)};
    if (getuid() == 0) {
        args.push_back("--user=root");
        args.push_back("--group=root");
    }
    if (records_.listenOnIpv6Loopback) {
        args.push_back("--listen-address=::1");
    }
    if (records_.localTtl >= 0) {
        args.push_back("--local-ttl=" + std::to_string(records_.localTtl));
    }
    for (const auto& d : records_.localDomains) {
        args.push_back("--local=/" + d + "/");
    }
    for (const auto& s : records_.srv) {
        args.push_back("--srv-host=" + s.name + "," + s.target + "," + std::to_string(s.port) + "," +
                       std::to_string(s.priority) + "," + std::to_string(s.weight));
    }
    for (const auto& a : records_.addresses) {
        // host-record also answers the reverse (PTR) query of the address.
        std::string arg = "--host-record=" + a.name + "," + a.address;
        if (a.ttl >= 0) {
            arg.append(",").append(std::to_string(a.ttl));  // not "," + ...: GCC 12 -Wrestrict false alarm
        }
        args.push_back(arg);
    }
    for (const auto& t : records_.txt) {
        std::string arg = "--txt-record=" + t.name;
        for (const auto& s : t.strings) {
            arg += "," + s;
        }
        args.push_back(arg);
    }
    for (const auto& c : records_.cnames) {
        args.push_back("--cname=" + c.alias + "," + c.target);
    }
    args.insert(args.end(), records_.extraArguments.begin(), records_.extraArguments.end());
    arguments_ = args;

    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (Clock::now() < deadline) {
        if (hasExited(pid, status)) {
            return false;  // bad option or port taken; see log()
        }
        if (dnsServerAnswers(port_, 250)) {
            pid_ = pid;
            return true;
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

void DnsSandbox::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!hasExited(pid_, status)) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

SilentUdpPort::SilentUdpPort() {
    for (int attempt = 0; attempt < 20 && udp_ < 0; ++attempt) {
        udp_ = boundSocket(SOCK_DGRAM, 0, port_);
        if (udp_ < 0) {
            continue;
        }
        uint16_t same = 0;
        tcp_ = boundSocket(SOCK_STREAM, port_, same);
        if (tcp_ < 0 || listen(tcp_, 1) != 0) {
            close(udp_);
            udp_ = -1;
            if (tcp_ >= 0) {
                close(tcp_);
                tcp_ = -1;
            }
        }
    }
}

SilentUdpPort::~SilentUdpPort() {
    if (udp_ >= 0) {
        close(udp_);
    }
    if (tcp_ >= 0) {
        close(tcp_);
    }
}

}  // namespace oxl::sandbox

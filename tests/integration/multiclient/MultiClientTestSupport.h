// Shared pieces of the multi client's integration tests: three HTTPS servers under one test PKI reached by
// pinned names, the failures a well-behaved server never shows, a counting host resolver (the library's
// own seam over the real one) and a look at the process's threads.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/httpclient/ClientTestSupport.h"
#include "oxl/dns/DnsHostResolver.h"
#include "oxl/http/MultiHttpClientImpl.h"
#include "oxl/http/NamePinning.h"
#include "oxl/runtime/Thread.h"
#include "support/HttpServerFixture.h"
#include "support/ProcessThreads.h"
#include "support/TestPki.h"
#include "support/WaitFor.h"

namespace oxl::http::test {

using namespace std::chrono_literals;

// The real resolver, counting the names it is asked for.
class CountingResolver : public oxl::dns::DnsHostResolver {
  public:
    bool isResolvable(const std::string& host) const override {
        lookups_.fetch_add(1);
        return oxl::dns::DnsHostResolver::isResolvable(host);
    }
    int lookups() const { return lookups_.load(); }

  private:
    mutable std::atomic<int> lookups_{0};
};

// Three HTTPS servers ("a.multi.test", "b.multi.test", "c.multi.test") with one certificate for all three
// names. Each serves:
//   /ok          "ok <host>"
//   /missing     404
//   /error       500 "server error"
//   /slow        answers after five seconds (sooner when the servers stop)
//   /truncated   announces 1000 bytes, sends 10 and closes
//   /stream      100 ten-byte chunks, one every 50 ms
//   /bytes/N     N bytes of a pattern that depends on N
// Connections are not kept alive so that many parallel transfers never wait for a server thread.
class MultiServers {
  public:
    static constexpr std::array<const char*, 3> HOSTS = {"a.multi.test", "b.multi.test", "c.multi.test"};

    MultiServers()
        : chain_(pki_.makeServerChain(HOSTS[0],
                                      {.extraDnsNames = {HOSTS[1], HOSTS[2]}, .ipAddresses = {"127.0.0.1"}})),
          servers_{server(), server(), server()} {
        for (size_t i = 0; i < HOSTS.size(); ++i) {
            serve(*servers_[i], HOSTS[i]);
        }
    }
    ~MultiServers() {
        stopping_ = true;
        for (size_t i = 0; i < HOSTS.size(); ++i) {
            servers_[i]->stop();
            if (pinned_[i]) {
                NamePinning::instance().unpin(HOSTS[i], servers_[i]->port());
            }
        }
    }
    MultiServers(const MultiServers&) = delete;
    MultiServers& operator=(const MultiServers&) = delete;

    bool start() {
        for (size_t i = 0; i < HOSTS.size(); ++i) {
            pinned_[i] = servers_[i]->start() &&
                         NamePinning::instance().pin(HOSTS[i], servers_[i]->port(), "127.0.0.1");
            if (!pinned_[i]) {
                return false;
            }
        }
        return true;
    }
    // "https://HOST:PORT" + path of server i.
    std::string url(size_t i, const std::string& path) const {
        return std::string("https://") + HOSTS[i] + ":" + std::to_string(servers_[i]->port()) + path;
    }
    oxl::test::HttpServerFixture& operator[](size_t i) { return *servers_[i]; }
    const std::string& trustFile() const { return chain_.trustFile; }

    static std::string pattern(size_t n) {
        std::string body(n, '\0');
        for (size_t i = 0; i < n; ++i) {
            body[i] = static_cast<char>('a' + (i * 7 + n) % 26);
        }
        return body;
    }

  private:
    std::unique_ptr<oxl::test::HttpServerFixture> server() {
        auto s = std::make_unique<oxl::test::HttpServerFixture>(oxl::test::HttpServerFixture::Options{
            .https = true, .certFile = chain_.certFile, .keyFile = chain_.keyFile, .threads = 24});
        s->server().set_keep_alive_max_count(1);
        // Hundreds of handshakes on a loaded machine may keep a client busy for a while between two steps.
        s->server().set_read_timeout(60);
        s->server().set_write_timeout(60);
        return s;
    }

    void serve(oxl::test::HttpServerFixture& s, const std::string& host) {
        s.onGet("/ok", [host](const httplib::Request&, httplib::Response& res) {
            res.set_content("ok " + host, "text/plain");
        });
        s.onGet("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        s.onGet("/error", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("server error", "text/plain");
        });
        s.onGet("/slow", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < 100 && !stopping_; ++i) {
                std::this_thread::sleep_for(50ms);
            }
            res.set_content("late", "text/plain");
        });
        s.onGet("/truncated", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(1000, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
                sink.write("0123456789", 10);
                return false;  // the connection is closed with 990 bytes still owed
            });
        });
        s.onGet("/stream", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t offset, httplib::DataSink& sink) {
                if (offset >= 1000 || stopping_) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(50ms);
                return sink.write("0123456789", 10);
            });
        });
        s.onGet(R"(/bytes/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(pattern(std::stoul(req.matches[1].str())), "application/octet-stream");
        });
    }

    oxl::test::TestPki pki_;
    oxl::test::TestPki::ServerChain chain_;
    std::array<std::unique_ptr<oxl::test::HttpServerFixture>, 3> servers_;
    std::array<bool, 3> pinned_{};
    std::atomic<bool> stopping_{false};
};

// "MHttp-P-002a": a prefix, a dash and a client number in four hexadecimal digits.
inline std::string expectedThreadName(const std::string& prefix, uint16_t clientNumber) {
    static const char* const HEX = "0123456789abcdef";
    std::string name = prefix + "-";
    for (int shift = 12; shift >= 0; shift -= 4) {
        name += HEX[(clientNumber >> shift) & 0xf];
    }
    return name;
}

// The names of the process's threads.
inline std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    for (const auto& [id, name] : oxl::test::threadsOfThisProcess()) {
        names.push_back(name);
    }
    return names;
}

using oxl::test::countThreadsNamed;

inline bool eventually(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = 30s) {
    return oxl::test::waitFor(predicate, timeout);
}

}  // namespace oxl::http::test
